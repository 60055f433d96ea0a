// The Record tab's fields and settings: what the user typed, checked before it
// is used, and the section "Record" of the settings.

#include "common/Ipv4Address.h"
#include "controls/CSettings.h"
#include "record/CRecFromNetworkDlg.h"
#include "ui_CRecFromNetworkDlg.h"

#include <QNetworkInterface>

#include <algorithm>

namespace
{
//! An address field: empty is 0.0.0.0 (none).
bool ParseAddressField(const QString& text, std::uint32_t& address)
{
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty())
    {
        address = 0;
        return true;
    }
    return ParseIpv4(trimmed.toStdString(), address);
}

//! The two paths' ports (each with + 2 and + 4 under FEC) overlap.
bool SharesPorts(int first, int second, bool fec)
{
    const int apart = first > second ? first - second : second - first;
    return apart == 0 || (fec && (apart == 2 || apart == 4));
}

QString AddressText(std::uint32_t address)
{
    return QString::fromStdString(FormatIpv4(address));
}

//! An IPv6 address field ("ff15::1", "[ff15::1]"); empty is none.
bool ParseIpv6Field(const QString& text, CNetAddress& address)
{
    const QString trimmed = text.trimmed();
    address = CNetAddress();
    return trimmed.isEmpty() || (CNetAddress::ParseHost(trimmed.toStdString(), address) && address.IsIpv6());
}
} // namespace

void CRecFromNetworkDlg::FillInterfaces()
{
    QStringList names{QString()};
    for (const QNetworkInterface& netif : QNetworkInterface::allInterfaces())
        if ((netif.flags() & QNetworkInterface::IsUp) && (netif.flags() & QNetworkInterface::CanMulticast))
            names << netif.name();
    for (QComboBox* combo : {m_ui->interfaceCombo, m_ui->secondInterfaceCombo})
    {
        combo->clear();
        combo->addItems(names);
        combo->lineEdit()->setPlaceholderText(QStringLiteral("auto"));
    }
}

void CRecFromNetworkDlg::LoadSettings()
{
    const QString s = QString::fromLatin1(kSection);
    m_disableAnalyzer = CSettings::GetProfileInt(s, "DisableAnalyzer", 0) != 0;
    m_outputFile = CSettings::GetProfileString(s, "File", {});
    m_loopEnabled = CSettings::GetProfileInt(s, "FileLoopEnable", 0) != 0;
    m_loopCount =
        static_cast<std::int16_t>(CRecordController::ClampLoopCount(CSettings::GetProfileInt(s, "FileLoopCnt", 3)));
    m_sizeUnit =
        CSettings::GetProfileInt(s, "RecType", 0) == 1 ? CRecordController::kMegabytes : CRecordController::kSeconds;
    // Values out of range (a hand-edited file) fall back to their defaults without a word.
    m_recordingSize = CSettings::GetProfileInt(s, "RecSize", 100);
    if (m_recordingSize < 0 || m_recordingSize > kMaxRecordingSize)
        m_recordingSize = 100;
    m_networkAddress = static_cast<std::uint32_t>(CSettings::GetProfileInt(s, "NetworkAddrs", 0));
    if (m_networkAddress != 0 && !IsIpv4Multicast(m_networkAddress))
        m_networkAddress = 0;
    m_port = CSettings::GetProfileInt(s, "NetworkPort", 1234);
    if (m_port < CRecordController::kMinPort || m_port > CRecordController::kMaxPort)
        m_port = 1234;
    const int mode = CSettings::GetProfileInt(s, "NetworkType", 0);
    m_mode =
        mode >= 0 && mode <= static_cast<int>(ReceiveMode::kRist) ? static_cast<ReceiveMode>(mode) : ReceiveMode::kUdp;
    m_linkAddress = CSettings::GetProfileString(s, "LinkAddress", {}).trimmed();
    m_ui->linkFields->Load(s);
    m_sourceAddress = static_cast<std::uint32_t>(CSettings::GetProfileInt(s, "NetworkSource", 0));
    // An IPv6 group, when there is one, is joined instead (hand-edited ones that are none are dropped).
    if (!ParseIpv6Field(CSettings::GetProfileString(s, "NetworkGroup6", {}), m_group6) || !m_group6.IsMulticast() ||
        !ParseIpv6Field(CSettings::GetProfileString(s, "NetworkSource6", {}), m_source6))
        m_group6 = m_source6 = CNetAddress();
    m_fec = CSettings::GetProfileInt(s, "NetworkFec", 0) != 0;
    m_interface = CSettings::GetProfileString(s, "NetworkInterface", {}).trimmed();
    m_secondPath = CSettings::GetProfileInt(s, "SecondEnable", 0) != 0;
    m_secondPort = CSettings::GetProfileInt(s, "SecondPort", kDefaultSecondPort);
    if (m_secondPort < CRecordController::kMinPort || m_secondPort > CRecordController::kMaxPort)
        m_secondPort = kDefaultSecondPort;
    m_secondGroup = static_cast<std::uint32_t>(CSettings::GetProfileInt(s, "SecondAddrs", 0));
    if (m_secondGroup != 0 && !IsIpv4Multicast(m_secondGroup))
        m_secondGroup = 0;
    m_secondSource = static_cast<std::uint32_t>(CSettings::GetProfileInt(s, "SecondSource", 0));
    m_secondInterface = CSettings::GetProfileString(s, "SecondInterface", {}).trimmed();
    m_mergeWindowMs = CSettings::GetProfileInt(s, "MergeWindowMs", CSeamlessMerge::kDefaultWindowMs);
    if (m_mergeWindowMs < 1 || m_mergeWindowMs > static_cast<std::int32_t>(CSeamlessMerge::kMaxWindowMs))
        m_mergeWindowMs = CSeamlessMerge::kDefaultWindowMs;
    // How the user shared the width between the two trees.
    m_ui->treesSplitter->restoreState(
        QByteArray::fromBase64(CSettings::GetProfileString(s, "TreeWidths", {}).toLatin1()));
    WriteFields();
}

void CRecFromNetworkDlg::SaveSettings()
{
    // Unusable fields keep the last good values; nobody is asked at shutdown.
    ReadFields(true);
    const QString s = QString::fromLatin1(kSection);
    CSettings::WriteProfileInt(s, "DisableAnalyzer", m_disableAnalyzer ? 1 : 0);
    CSettings::WriteProfileString(s, "File", m_outputFile);
    CSettings::WriteProfileInt(s, "FileLoopEnable", m_loopEnabled ? 1 : 0);
    CSettings::WriteProfileInt(s, "FileLoopCnt", m_loopCount);
    CSettings::WriteProfileInt(s, "RecType", static_cast<std::int32_t>(m_sizeUnit));
    CSettings::WriteProfileInt(s, "RecSize", m_recordingSize);
    CSettings::WriteProfileInt(s, "NetworkAddrs", static_cast<std::int32_t>(m_networkAddress));
    CSettings::WriteProfileInt(s, "NetworkPort", m_port);
    CSettings::WriteProfileInt(s, "NetworkType", static_cast<std::int32_t>(m_mode));
    CSettings::WriteProfileInt(s, "NetworkSource", static_cast<std::int32_t>(m_sourceAddress));
    CSettings::WriteProfileString(s, "NetworkGroup6", QString::fromStdString(m_group6.HostString()));
    CSettings::WriteProfileString(s, "NetworkSource6", QString::fromStdString(m_source6.HostString()));
    CSettings::WriteProfileInt(s, "NetworkFec", m_fec ? 1 : 0);
    CSettings::WriteProfileString(s, "NetworkInterface", m_interface);
    CSettings::WriteProfileInt(s, "SecondEnable", m_secondPath ? 1 : 0);
    CSettings::WriteProfileInt(s, "SecondPort", m_secondPort);
    CSettings::WriteProfileInt(s, "SecondAddrs", static_cast<std::int32_t>(m_secondGroup));
    CSettings::WriteProfileInt(s, "SecondSource", static_cast<std::int32_t>(m_secondSource));
    CSettings::WriteProfileString(s, "SecondInterface", m_secondInterface);
    CSettings::WriteProfileInt(s, "MergeWindowMs", m_mergeWindowMs);
    CSettings::WriteProfileString(s, "LinkAddress", m_linkAddress);
    m_ui->linkFields->Save(s);
    CSettings::WriteProfileString(s, "TreeWidths", QString::fromLatin1(m_ui->treesSplitter->saveState().toBase64()));
}

void CRecFromNetworkDlg::WriteFields()
{
    auto* ui = m_ui.get();
    ui->portEdit->setText(QString::number(m_port));
    m_shownMode = static_cast<int>(m_mode); // the Group field's text is set below
    ui->modeCombo->setCurrentIndex(static_cast<int>(m_mode));
    ui->fecCheck->setChecked(m_fec);
    ui->secondsRadio->setChecked(m_sizeUnit == CRecordController::kSeconds);
    ui->megabytesRadio->setChecked(m_sizeUnit == CRecordController::kMegabytes);
    ui->recordingSizeEdit->setText(QString::number(m_recordingSize));
    m_groupText = m_group6.IsSet() ? QString::fromStdString(m_group6.HostString()) : AddressText(m_networkAddress);
    ui->groupEdit->setText(IsLink() ? m_linkAddress : m_groupText);
    if (m_group6.IsSet())
        ui->sourceEdit->setText(QString::fromStdString(m_source6.HostString()));
    else
        ui->sourceEdit->setText(m_sourceAddress == 0 ? QString() : AddressText(m_sourceAddress));
    ui->interfaceCombo->setCurrentText(m_interface);
    ui->secondPathCheck->setChecked(m_secondPath);
    ui->secondPortEdit->setText(QString::number(m_secondPort));
    ui->secondGroupEdit->setText(AddressText(m_secondGroup));
    ui->secondSourceEdit->setText(m_secondSource == 0 ? QString() : AddressText(m_secondSource));
    ui->secondInterfaceCombo->setCurrentText(m_secondInterface);
    ui->mergeWindowSpin->setValue(m_mergeWindowMs);
    ShowProtectionRows();
}

bool CRecFromNetworkDlg::ReadFields(bool quiet)
{
    auto* ui = m_ui.get();
    auto refuse = [&](QWidget* field, const char* text) {
        if (!quiet)
        {
            ShowMessage(QString::fromLatin1(text));
            field->setFocus();
        }
        return false;
    };
    bool ok = false;
    const int port = ui->portEdit->text().trimmed().toInt(&ok);
    // Port 0 would bind a random port that no sender knows.
    if (!ok || port < CRecordController::kMinPort || port > CRecordController::kMaxPort)
        return refuse(ui->portEdit, "Please enter a port number between 1 and 65535.");
    const bool link = ui->modeCombo->currentIndex() >= static_cast<int>(ReceiveMode::kSrt);
    if (link && !ReadLink(quiet))
        return false;
    // An IPv6 group takes an IPv6 source, an IPv4 group an IPv4 one; a link keeps them as they were.
    std::uint32_t group = link ? m_networkAddress : 0;
    CNetAddress group6 = link ? m_group6 : CNetAddress();
    if (!link && !ParseAddressField(ui->groupEdit->text(), group) &&
        (!ParseIpv6Field(ui->groupEdit->text(), group6) || !group6.IsMulticast()))
        return refuse(ui->groupEdit, "The group must be a multicast address, IPv4 (224.0.0.0 to 239.255.255.255) "
                                     "or IPv6 (ff00::/8), or 0.0.0.0 for none.");
    if (!link && group != 0 && !IsIpv4Multicast(group))
        return refuse(ui->groupEdit, "The group must be a multicast address, IPv4 (224.0.0.0 to 239.255.255.255) "
                                     "or IPv6 (ff00::/8), or 0.0.0.0 for none.");
    // With a link the Group field holds its address; the group typed before it is kept when it is one.
    std::uint32_t kept = 0;
    CNetAddress kept6;
    if (link && ParseAddressField(m_groupText, kept) && (kept == 0 || IsIpv4Multicast(kept)))
    {
        group = kept;
        group6 = CNetAddress();
    }
    else if (link && ParseIpv6Field(m_groupText, kept6) && kept6.IsMulticast())
    {
        group = 0;
        group6 = kept6;
    }
    std::uint32_t source = link ? m_sourceAddress : 0;
    CNetAddress source6 = link ? m_source6 : CNetAddress();
    if (!link && (group6.IsSet() ? !ParseIpv6Field(ui->sourceEdit->text(), source6)
                                 : !ParseAddressField(ui->sourceEdit->text(), source)))
        return refuse(ui->sourceEdit, group6.IsSet()
                                          ? "The source of an IPv6 group must be an IPv6 address, or empty for any "
                                            "source."
                                          : "The source must be an IPv4 address, or empty for any source.");
    const bool rtp = ui->modeCombo->currentIndex() == 1;
    if (ui->fecCheck->isChecked() && !rtp && !link)
        return refuse(ui->fecCheck, "FEC needs the RTP mode.");
    const bool second = ui->secondPathCheck->isChecked();
    if (second && !rtp && !link)
        return refuse(ui->secondPathCheck, "The second path (SMPTE 2022-7) needs the RTP mode.");
    // The second path's fields are checked only when it is used; unused, they keep what was saved.
    int secondPort = m_secondPort;
    std::uint32_t secondGroup = m_secondGroup;
    std::uint32_t secondSource = m_secondSource;
    if (second && !link)
    {
        secondPort = ui->secondPortEdit->text().trimmed().toInt(&ok);
        if (!ok || secondPort < CRecordController::kMinPort || secondPort > CRecordController::kMaxPort)
            return refuse(ui->secondPortEdit, "Please enter a port number between 1 and 65535 for the second path.");
        if (!ParseAddressField(ui->secondGroupEdit->text(), secondGroup) ||
            (secondGroup != 0 && !IsIpv4Multicast(secondGroup)))
            return refuse(ui->secondGroupEdit, "The second path's group must be an IPv4 multicast address "
                                               "(224.0.0.0 to 239.255.255.255), or 0.0.0.0 for none.");
        // Both paths on one socket address would take the same datagrams twice (or not bind).
        if (SharesPorts(port, secondPort, ui->fecCheck->isChecked()) &&
            ((group == 0 && !group6.IsSet()) || secondGroup == 0 || group == secondGroup))
            return refuse(ui->secondPortEdit, "The second path needs ports of its own (with FEC also + 2 and + 4), "
                                              "or both paths their own multicast groups.");
        if (!ParseAddressField(ui->secondSourceEdit->text(), secondSource))
            return refuse(ui->secondSourceEdit, "The second path's source must be an IPv4 address, or empty for any "
                                                "source.");
    }
    const int size = ui->recordingSizeEdit->text().trimmed().toInt(&ok);
    if (!ok || size < 0)
        return refuse(ui->recordingSizeEdit, "Please enter an integer.");
    m_port = port;
    m_mode = static_cast<ReceiveMode>(std::max(0, ui->modeCombo->currentIndex()));
    if (link)
        m_linkAddress = ui->groupEdit->text().trimmed();
    m_fec = ui->fecCheck->isChecked();
    m_networkAddress = group;
    m_sourceAddress = source;
    m_interface = ui->interfaceCombo->currentText().trimmed();
    m_secondPath = second;
    m_secondPort = secondPort;
    m_secondGroup = secondGroup;
    m_secondSource = secondSource;
    m_secondInterface = ui->secondInterfaceCombo->currentText().trimmed();
    m_mergeWindowMs = ui->mergeWindowSpin->value();
    m_group6 = group6;
    m_source6 = source6;
    m_recordingSize = size;
    OnSizeUnit();
    ShowProtectionRows();
    return true;
}

void CRecFromNetworkDlg::ApplyControllerSettings()
{
    CRecordController::Settings settings;
    settings.recordingSize = m_recordingSize;
    settings.sizeUnit = m_sizeUnit;
    settings.loopEnabled = m_loopEnabled;
    settings.loopCount = m_loopCount;
    settings.outputFile = m_outputFile.toStdString();
    m_controller->SetSettings(settings);
}

void CRecFromNetworkDlg::ConfigureReceiver()
{
    // The receiver's threads read these while it runs: set only between runs.
    if (IsRunning())
        return;
    m_receiver.SetPort(static_cast<std::uint16_t>(m_port));
    m_receiver.SetRtp(m_mode == ReceiveMode::kRtp);
    m_receiver.SetFec(m_fec && m_mode == ReceiveMode::kRtp);
    // The source and the interface belong to a group's join.
    auto membershipOf = [](const CNetAddress& group, const CNetAddress& source, const QString& interfaceName) {
        CDvbIpRecvThread::Membership membership;
        membership.group = group;
        membership.source = group.IsSet() ? source : CNetAddress();
        membership.interfaceName = group.IsSet() ? interfaceName.toStdString() : std::string();
        return membership;
    };
    const auto ipv4 = [](std::uint32_t address) {
        return address != 0 ? CNetAddress::FromIpv4(address) : CNetAddress();
    };
    if (m_group6.IsSet())
        m_receiver.SetMembership(membershipOf(m_group6, m_source6, m_interface));
    else
        m_receiver.SetMembership(membershipOf(ipv4(m_networkAddress), ipv4(m_sourceAddress), m_interface));
    const bool second = m_secondPath && m_mode == ReceiveMode::kRtp;
    m_receiver.SetSecondInput(second ? static_cast<std::uint16_t>(m_secondPort) : 0,
                              membershipOf(ipv4(m_secondGroup), ipv4(m_secondSource), m_secondInterface));
    m_receiver.SetMergeWindowMs(static_cast<std::uint32_t>(m_mergeWindowMs));
    // A link carries the datagrams itself: no group to join.
    if (IsLink())
        m_receiver.SetMembership(CDvbIpRecvThread::Membership());
    m_receiver.SetInput(m_input.get());
}
