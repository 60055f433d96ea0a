// The Record tab over SRT and RIST: the Mode box's SRT and RIST choices, their
// fields (CLinkFieldsCtrl, under the paths), the Group field as the link's
// address (the peer of a caller, a listener's local address), the input the
// tab owns for a run (the receiver closes it when the run ends) and the
// link's line under the status. What the transport gave up counts as loss in
// the status; a refusal retrying cannot cure ends the run with its reason.

#include "controls/CLabel.h"
#include "controls/CLinkFieldsCtrl.h"
#include "record/CRecFromNetworkDlg.h"
#include "ui_CRecFromNetworkDlg.h"

#include <algorithm>

namespace
{
CLinkFields::Kind KindOfMode(int mode)
{
    return mode == 2 ? CLinkFields::Kind::Srt : mode == 3 ? CLinkFields::Kind::Rist : CLinkFields::Kind::None;
}

//! The Group field as a link's host: empty or 0.0.0.0 is none (a listener on every address).
std::string HostOf(const QString& text)
{
    QString host = text.trimmed();
    if (host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']')))
        host = host.mid(1, host.size() - 2);
    return host == QLatin1String("0.0.0.0") ? std::string() : host.toStdString();
}
} // namespace

void CRecFromNetworkDlg::InitLink()
{
    auto* ui = m_ui.get();
    ui->linkFields->SetOneRow();
    ui->linkStatusLabel->setVisible(false);
    // The Group field holds a group for UDP and RTP and the link's address for SRT and RIST: each keeps its own.
    connect(ui->modeCombo, &QComboBox::currentIndexChanged, this, [this](int mode) {
        const bool wasLink = KindOfMode(m_shownMode) != CLinkFields::Kind::None;
        const bool link = KindOfMode(mode) != CLinkFields::Kind::None;
        if (wasLink != link)
        {
            (wasLink ? m_linkAddress : m_groupText) = m_ui->groupEdit->text().trimmed();
            m_ui->groupEdit->setText(link ? m_linkAddress : m_groupText);
        }
        m_shownMode = mode;
        UpdateControls();
    });
}

void CRecFromNetworkDlg::UpdateLinkControls(bool editable)
{
    auto* ui = m_ui.get();
    const CLinkFields::Kind kind = KindOfMode(ui->modeCombo->currentIndex());
    const bool link = kind != CLinkFields::Kind::None;
    ui->linkFields->SetKind(kind);
    ui->linkFields->setEnabled(editable);
    ui->groupCaption->setText(link ? QStringLiteral("Address") : QStringLiteral("Group"));
    ui->groupEdit->setToolTip(link ? QStringLiteral("Caller: the peer's address or name; listener: the local "
                                                    "address to listen on, 0.0.0.0 or empty for every one")
                                   : QStringLiteral("Multicast group to join, IPv4 or IPv6 (ff15::1); empty for "
                                                    "unicast on IPv4 and IPv6"));
    // A link carries the datagrams itself: no source, interface, FEC or second path.
    for (QWidget* field : {static_cast<QWidget*>(ui->sourceEdit), static_cast<QWidget*>(ui->interfaceCombo),
                           static_cast<QWidget*>(ui->fecCheck), static_cast<QWidget*>(ui->secondPathCheck)})
        field->setEnabled(editable && !link);
    // The link's fields take the second path's row, so that the box keeps its size.
    for (QWidget* field : {static_cast<QWidget*>(ui->secondPathCheck), static_cast<QWidget*>(ui->secondPortEdit),
                           static_cast<QWidget*>(ui->secondGroupEdit), static_cast<QWidget*>(ui->secondSourceEdit),
                           static_cast<QWidget*>(ui->secondInterfaceCombo), static_cast<QWidget*>(ui->mergeWindowSpin)})
        field->setVisible(!link);
    if (!link && !IsRunning())
        ui->linkStatusLabel->setVisible(false);
}

bool CRecFromNetworkDlg::ReadLink(bool quiet)
{
    auto* ui = m_ui.get();
    const CLinkFieldsCtrl* f = ui->linkFields;
    CLinkFields link;
    link.kind = KindOfMode(ui->modeCombo->currentIndex());
    f->ReadInto(link);
    const auto port = static_cast<std::uint16_t>(ui->portEdit->text().trimmed().toUInt());
    std::string error;
    CLinkFields::Field field = CLinkFields::Field::None;
    if (!link.Check(HostOf(ui->groupEdit->text()), port, error, field))
    {
        if (!quiet)
        {
            ShowMessage(QString::fromStdString(error));
            QWidget* focus = field == CLinkFields::Field::Address ? ui->groupEdit
                             : field == CLinkFields::Field::Port  ? ui->portEdit
                                                                  : f->FieldWidget(field);
            if (focus)
                focus->setFocus();
        }
        return false;
    }
    m_link = link;
    return true;
}

bool CRecFromNetworkDlg::MakeInput()
{
    m_input.reset();
    if (!IsLink())
        return true;
    std::string error;
    CLinkFields::Field field = CLinkFields::Field::None;
    m_input = m_link.MakeInput(HostOf(m_linkAddress), static_cast<std::uint16_t>(m_port), error, field);
    if (m_input)
        return true;
    ShowMessage(QString::fromStdString(error));
    return false;
}

QString CRecFromNetworkDlg::WithTransportLoss(const QString& text) const
{
    if (!m_input || text != QLatin1String(CRecordController::kNoErrorsText))
        return text;
    const std::uint64_t lost = m_receiver.GetCounters().transportDrops;
    return lost == 0 ? text : QStringLiteral("%1 lost %2").arg(QString::fromLatin1(m_link.Name())).arg(lost);
}

void CRecFromNetworkDlg::ShowLinkStatus()
{
    QLabel* label = m_ui->linkStatusLabel;
    if (!m_input || !IsRunning())
        return; // the last run's line stays until the mode changes
    if (m_input->HasFailed())
    {
        const QString text = QStringLiteral("%1 refused: %2")
                                 .arg(QString::fromLatin1(m_link.Name()), QString::fromStdString(m_input->LastError()));
        OnStop();
        m_linkFailed = true;
        ShowStatus(QStringLiteral("%1 refused").arg(QString::fromLatin1(m_link.Name())));
        m_ui->statusLabel->SetTransparent(false);
        label->setText(text);
        label->setToolTip(text);
        ShowMessage(text);
        return;
    }
    const QString text = QStringLiteral("lost here %1  %2")
                             .arg(m_receiver.GetCounters().transportDrops)
                             .arg(QString::fromStdString(m_input->GetStats().StatusText()));
    // It shares its row with the no-PCR notice, which goes first.
    label->setVisible(!m_ui->noPcrNotice->isVisible());
    if (label->text() != text)
    {
        label->setText(text);
        label->setToolTip(text);
    }
}
