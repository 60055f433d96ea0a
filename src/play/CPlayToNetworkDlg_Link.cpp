// The Play tab over SRT and RIST: the Mode box's SRT and RIST choices, their
// fields on the link page (CLinkFieldsCtrl), the output the tab owns for a
// play (the sender closes it when the play stops) and the link's line beside
// the network status. A refusal retrying cannot cure (a wrong passphrase, a
// rejected stream id) ends the play with its reason, never silently.

#include "common/Ipv4Address.h"
#include "controls/CIpAddressCtrl.h"
#include "controls/CLinkFieldsCtrl.h"
#include "play/CPlayToNetworkDlg.h"
#include "ui_CPlayToNetworkDlg.h"

#include <algorithm>

namespace
{
CLinkFields::Kind KindOfMode(int mode)
{
    return mode == CPlayToNetworkDlg::kModeSrt    ? CLinkFields::Kind::Srt
           : mode == CPlayToNetworkDlg::kModeRist ? CLinkFields::Kind::Rist
                                                  : CLinkFields::Kind::None;
}
} // namespace

void CPlayToNetworkDlg::InitLink()
{
    m_ui->linkStatusLabel->setVisible(false);
    m_ui->outputTabs->setTabToolTip(m_ui->outputTabs->indexOf(m_ui->linkPage),
                                    QStringLiteral("The link's role, latency or buffer, and encryption"));
}

void CPlayToNetworkDlg::UpdateLinkControls(bool stopped)
{
    auto* ui = m_ui.get();
    const CLinkFields::Kind kind = KindOfMode(ui->modeCombo->currentIndex());
    const bool link = kind != CLinkFields::Kind::None;
    ui->linkFields->SetKind(kind);
    const int page = ui->outputTabs->indexOf(ui->linkPage);
    ui->outputTabs->setTabVisible(page, link);
    ui->outputTabs->setTabText(page, kind == CLinkFields::Kind::Rist ? QStringLiteral("RIST") : QStringLiteral("SRT"));
    // Multicast only goes over UDP and RTP.
    ui->ttlSpin->setEnabled(stopped && !link);
    ui->interfaceCombo->setEnabled(stopped && !link);
    ui->linkFields->setEnabled(stopped);
    if (!link)
        ui->linkStatusLabel->setVisible(false);
}

std::string CPlayToNetworkDlg::LinkHost() const
{
    if (!m_ipv6Edit->isHidden())
    {
        CNetAddress address;
        return CNetAddress::ParseHost(m_ipv6Edit->text().trimmed().toStdString(), address)
                   ? address.HostString()
                   : m_ipv6Edit->text().trimmed().toStdString();
    }
    const std::uint32_t address = m_ui->ipAddress->GetAddress();
    return address == 0 ? std::string() : FormatIpv4(address);
}

bool CPlayToNetworkDlg::ReadLink(bool quiet)
{
    const CLinkFieldsCtrl* f = m_ui->linkFields;
    CLinkFields link;
    link.kind = KindOfMode(m_ui->modeCombo->currentIndex());
    f->ReadInto(link);
    const auto port = static_cast<std::uint16_t>(m_ui->portEdit->text().toUInt());
    std::string error;
    CLinkFields::Field field = CLinkFields::Field::None;
    if (!link.Check(LinkHost(), port, error, field))
    {
        if (!quiet)
        {
            const QString text = QString::fromStdString(error);
            ShowError(text);
            QWidget* address = m_ipv6Edit->isHidden() ? m_ui->ipAddress->Field(0) : m_ipv6Edit;
            QWidget* focus = field == CLinkFields::Field::Address ? address
                             : field == CLinkFields::Field::Port  ? m_ui->portEdit
                                                                  : f->FieldWidget(field);
            if (focus)
            {
                m_ui->outputTabs->setCurrentWidget(m_ui->linkFields->isAncestorOf(focus) ? m_ui->linkPage
                                                                                         : m_ui->outputGroup);
                focus->setFocus();
            }
        }
        return false;
    }
    m_link = link;
    return true;
}

bool CPlayToNetworkDlg::MakeOutput()
{
    m_output.reset();
    if (m_link.kind == CLinkFields::Kind::None)
        return true;
    std::string error;
    CLinkFields::Field field = CLinkFields::Field::None;
    m_output = m_link.MakeOutput(LinkHost(), static_cast<std::uint16_t>(m_port), error, field);
    if (m_output)
        return true;
    // ReadLink has checked the same fields: only a field changed in between gets here.
    ShowWarning(QString::fromStdString(error));
    return false;
}

void CPlayToNetworkDlg::ShowLinkStatus()
{
    QLabel* label = m_ui->linkStatusLabel;
    if (!m_playing.output || !m_output)
    {
        label->setVisible(false);
        return;
    }
    const TransportStats stats = m_output->GetStats();
    if (m_output->HasFailed())
    {
        const QString text = QStringLiteral("%1 refused: %2")
                                 .arg(QString::fromLatin1(m_link.Name()), QString::fromStdString(stats.lastError));
        EndPlay();
        label->setText(text);
        label->setToolTip(text);
        ShowError(text);
        return;
    }
    const QString text = QString::fromStdString(stats.StatusText());
    label->setVisible(true);
    if (label->text() != text)
    {
        label->setText(text);
        label->setToolTip(text);
    }
}
