#include "play/CPlayToNetworkDlg.h"

#include "common/CNetAddress.h"
#include "common/Ipv4Address.h"
#include "controls/CButtonStyle.h"
#include "controls/CDVBSlider.h"
#include "controls/CIndicatorPanel.h"
#include "controls/CIpAddressCtrl.h"
#include "controls/CLabel.h"
#include "controls/CSettings.h"
#include "controls/CTabActivateEvent.h"
#include "controls/CXTabCtrl.h"
#include "ui_CPlayToNetworkDlg.h"

#include <QHostAddress>
#include <QNetworkInterface>
#include <QRegularExpressionValidator>
#include <QThread>

CPlayToNetworkDlg::CPlayToNetworkDlg(CNetworkSender* sender, DevicePicker pickDevice, CXTabCtrl* tabCtrl,
                                     QWidget* parent)
    : QWidget(parent), m_pickDevice(std::move(pickDevice)), m_tabCtrl(tabCtrl),
      m_ui(std::make_unique<Ui::CPlayToNetworkDlg>()),
      m_controller(std::make_unique<CPlayController>(*sender, m_decoder, &m_messages))
{
    m_ui->setupUi(this);
    m_statusTimer.setObjectName(QStringLiteral("statusTimer"));
    m_treeTimer.setObjectName(QStringLiteral("treeTimer"));
    connect(&m_statusTimer, &QTimer::timeout, this, &CPlayToNetworkDlg::OnStatusTimer);
    connect(&m_treeTimer, &QTimer::timeout, this, &CPlayToNetworkDlg::OnTreeTimer);
    connect(m_ui->openButton, &QPushButton::clicked, this, &CPlayToNetworkDlg::OnOpen);
    connect(m_ui->playButton, &QPushButton::clicked, this, &CPlayToNetworkDlg::OnPlay);
    connect(m_ui->stopButton, &QPushButton::clicked, this, &CPlayToNetworkDlg::OnStop);
    connect(m_ui->pauseButton, &QPushButton::clicked, this, &CPlayToNetworkDlg::OnPause);
    connect(m_ui->loopButton, &QPushButton::clicked, this, &CPlayToNetworkDlg::OnLoop);
    connect(m_ui->browseButton, &QPushButton::clicked, this, &CPlayToNetworkDlg::OnBrowse);
    // IPv6 takes a text field beside the IPv4 boxes, shown when the user types one.
    m_ipv6Edit = new QLineEdit(this);
    m_ipv6Edit->setObjectName(QStringLiteral("ipv6Edit"));
    m_ipv6Edit->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9A-Za-z:.%_\\-\\[\\]]*")), m_ipv6Edit));
    m_ipv6Edit->setMinimumWidth(m_ui->ipAddress->sizeHint().width());
    m_ui->ipAddressLayout->insertWidget(1, m_ipv6Edit);
    m_ipv6Edit->hide();
    connect(m_ui->ipAddress, &CIpAddressCtrl::Ipv6Typed, this, [this](const QString& text) {
        ShowIpv6(true, text);
        m_ipv6Edit->setFocus(Qt::OtherFocusReason);
    });
    connect(m_ipv6Edit, &QLineEdit::textEdited, this, [this](const QString& text) {
        if (!text.isEmpty())
            return;
        ShowIpv6(false);
        m_ui->ipAddress->SetAddress(0);
        m_ui->ipAddress->Field(0)->setFocus(Qt::OtherFocusReason);
        m_ui->ipAddress->Field(0)->selectAll();
    });
    connect(m_ui->totTdtCheck, &QCheckBox::clicked, this, &CPlayToNetworkDlg::OnTotTdt);
    connect(m_ui->adaptAllButton, &QPushButton::clicked, this, &CPlayToNetworkDlg::OnAdaptAll);
    connect(m_ui->positionSlider, &CDVBSlider::ReleasedCapture, this, &CPlayToNetworkDlg::OnSliderReleased);
    m_indicators = CIndicatorPanel::Attach(m_ui->tr101290Host);
    // Beside the graph the panel keeps its whole width; only its rows scroll.
    const QMargins margins = m_ui->tr101290Host->layout()->contentsMargins();
    m_ui->tr101290Host->setMinimumWidth(m_indicators->FullWidth() + margins.left() + margins.right());
    InitProtection();
    InitLink();
    InitDesktop();
    AttachBitrateGraph();
}

CPlayToNetworkDlg::~CPlayToNetworkDlg()
{
    m_statusTimer.stop();
    m_treeTimer.stop();
    // The tab control may itself be going away: stop without touching it.
    m_controller->Stop();
    SaveSettings(true);
    m_controller.reset();
    m_decoder.SetPidTree(nullptr);
    m_decoder.SetProgTree(nullptr);
}

bool CPlayToNetworkDlg::OnInitDialog()
{
    InitControls();
    LoadSettings();
    return true;
}

void CPlayToNetworkDlg::InitControls()
{
    m_valueColor = QColor(0, 0, 255);
    CDVBSlider* slider = m_ui->positionSlider;
    slider->setRange(kSliderMin, kSliderMax);
    slider->setValue(0);
    slider->setTickInterval(100);
    slider->setTickPosition(QSlider::TicksBelow);
    slider->setPageStep(100);

    m_pidSink.SetTree(m_ui->pidInfoTree);
    m_progSink.SetTree(m_ui->programInfoTree);
    m_decoder.SetPidTree(&m_pidSink);
    m_decoder.SetProgTree(&m_progSink);

    struct ButtonSetup
    {
        CButtonStyle* button;
        const char* normal;
        const char* active;
        bool latching;
        bool clearCaption;
        int pressed; // -1: left as it is
    };
    const ButtonSetup buttons[] = {
        {m_ui->openButton, ":/icons/file-open.svg", ":/icons/file-open.svg", false, false, -1},
        {m_ui->loopButton, ":/icons/loop.svg", ":/icons/loop-on.svg", true, false, -1},
        {m_ui->playButton, ":/icons/play.svg", ":/icons/play.svg", true, true, 0},
        {m_ui->pauseButton, ":/icons/pause.svg", ":/icons/pause.svg", true, true, 0},
        {m_ui->stopButton, ":/icons/stop.svg", ":/icons/stop.svg", true, true, 1},
    };
    for (const ButtonSetup& setup : buttons)
    {
        setup.button->SetIcons(QIcon(QString::fromLatin1(setup.normal)), QIcon(QString::fromLatin1(setup.active)));
        setup.button->SetTextColors(QColor(0, 0, 0), QColor(0, 0, 255));
        if (setup.latching)
            setup.button->SetLatching(true);
        if (setup.clearCaption)
            setup.button->setText(QString());
        if (setup.pressed >= 0)
            setup.button->SetPressed(setup.pressed != 0);
    }

    // Digits only, so that a number beyond the range reaches the range message.
    m_ui->portEdit->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]{0,10}")), m_ui->portEdit));
    m_ui->bitRateEdit->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]{0,12}")), m_ui->bitRateEdit));
    FillInterfaces();
    FillPacing();

    for (CLabel* label : {m_ui->elapsedTimeLabel, m_ui->tsTimeLabel})
        label->SetText(QStringLiteral("0:00:00"));
    m_ui->loopCountLabel->SetText(QStringLiteral("0"));
    for (CLabel* label : {m_ui->elapsedTimeLabel, m_ui->tsTimeLabel, m_ui->loopCountLabel})
        label->SetTextColor(m_valueColor);
    m_statusText = QString::fromLatin1(CPlayController::kStatusNoErrors);
    m_ui->statusLabel->SetText(m_statusText);
    SetPressed(m_ui->loopButton, m_loop);
}

void CPlayToNetworkDlg::FillInterfaces()
{
    // The system's route first, then every IPv4 address of an interface that can multicast.
    QComboBox* combo = m_ui->interfaceCombo;
    combo->clear();
    combo->addItem(QStringLiteral("System route"), 0u);
    for (const QNetworkInterface& netif : QNetworkInterface::allInterfaces())
    {
        if (!(netif.flags() & QNetworkInterface::IsUp) || !(netif.flags() & QNetworkInterface::CanMulticast))
            continue;
        for (const QNetworkAddressEntry& entry : netif.addressEntries())
            if (entry.ip().protocol() == QAbstractSocket::IPv4Protocol)
                combo->addItem(QStringLiteral("%1 (%2)").arg(netif.humanReadableName(), entry.ip().toString()),
                               entry.ip().toIPv4Address());
    }
}

bool CPlayToNetworkDlg::UpdateData(bool save, bool quiet)
{
    QComboBox* interfaces = m_ui->interfaceCombo;
    if (!save)
    {
        m_ui->portEdit->setText(QString::number(m_port));
        m_ui->ipAddress->SetAddress(m_ipAddress);
        ShowIpv6(!m_ipv6Address.isEmpty(), m_ipv6Address);
        m_ui->modeCombo->setCurrentIndex(m_mode);
        m_ui->pcrCheck->setChecked(m_pcr);
        m_ui->totTdtCheck->setChecked(m_totTdt);
        m_ui->continuityCheck->setChecked(m_continuity);
        m_ui->ttlSpin->setValue(m_multicastTtl);
        m_ui->bitRateEdit->setText(m_bitRate == 0 ? QString() : QString::number(m_bitRate));
        m_ui->pacingCombo->setCurrentIndex(
            m_ui->pacingCombo->findData(QString::fromLatin1(CNetworkSender::PacingName(m_pacing))));
        int index = interfaces->findData(m_multicastInterface);
        if (index < 0)
        {
            // An interface that is gone keeps its setting; it shows as its address.
            interfaces->addItem(QString::fromStdString(FormatIpv4(m_multicastInterface)), m_multicastInterface);
            index = interfaces->count() - 1;
        }
        interfaces->setCurrentIndex(index);
        WriteProtection();
        return true;
    }
    bool isNumber = false;
    const qlonglong port = m_ui->portEdit->text().toLongLong(&isNumber);
    // Like the dialog framework's range check: the message, the field
    // selected, and the members after the port are not read.
    if (!isNumber || port < 0 || port > 65535)
        return RefuseField(m_ui->portEdit, kMsgPortRange, quiet);
    const QString rateText = m_ui->bitRateEdit->text().trimmed();
    const qulonglong rate = rateText.toULongLong(&isNumber);
    if (!rateText.isEmpty() && (!isNumber || rate < 1 || rate > 0xFFFFFFFFull))
        return RefuseField(m_ui->bitRateEdit, kMsgBitRate, quiet);
    CNetAddress ipv6;
    const bool ipv6Shown = !m_ipv6Edit->isHidden();
    if (ipv6Shown && (!CNetAddress::ParseHost(m_ipv6Edit->text().trimmed().toStdString(), ipv6) || !ipv6.IsIpv6()))
        return RefuseField(m_ipv6Edit, kMsgIpv6, quiet);
    if (!ReadProtection(quiet) || !ReadLink(quiet))
        return false;
    m_bitRate = rateText.isEmpty() ? 0u : static_cast<std::uint32_t>(rate);
    m_port = static_cast<int>(port);
    m_ipAddress = m_ui->ipAddress->GetAddress();
    m_ipv6Address = ipv6Shown ? QString::fromStdString(ipv6.HostString()) : QString();
    m_mode = m_ui->modeCombo->currentIndex() < 0 ? 0 : m_ui->modeCombo->currentIndex();
    m_pcr = m_ui->pcrCheck->isChecked();
    m_totTdt = m_ui->totTdtCheck->isChecked();
    m_continuity = m_ui->continuityCheck->isChecked();
    m_multicastTtl = m_ui->ttlSpin->value();
    if (!CNetworkSender::ParsePacing(m_ui->pacingCombo->currentData().toString().toStdString(), m_pacing))
        m_pacing = CNetworkSender::PacingMode::Auto;
    m_multicastInterface = interfaces->currentIndex() < 0 ? 0u : interfaces->currentData().toUInt();
    return true;
}

void CPlayToNetworkDlg::LoadSettings()
{
    const QString section = QString::fromLatin1(kSection);
    auto readInt = [&section](const char* key, int defaultValue) {
        return CSettings::GetProfileInt(section, QString::fromLatin1(key), defaultValue);
    };
    m_filePath = CSettings::GetProfileString(section, QStringLiteral("File"), QString());
    m_loop = readInt("FileLoopEnable", 0) != 0;
    m_totTdt = readInt("TotTdtEnable", 0) != 0;
    m_timeType = readInt("TotTdtTimeType", 0);
    m_timeOffset = readInt("TotTdtOffset", 0); // a signed 32-bit value, sign-extended
    m_pcr = readInt("AdaptionsPcrRestamp", 0) != 0;
    m_continuity = readInt("AdaptionsContRestamp", 0) != 0;
    m_ipAddress = static_cast<std::uint32_t>(readInt("NetworkAddrs", 0));
    // An IPv6 destination, when there is one, is played instead (a hand-edited one that is none is dropped).
    m_ipv6Address = CSettings::GetProfileString(section, QStringLiteral("NetworkAddr6"), QString()).trimmed();
    if (CNetAddress address; !CNetAddress::ParseHost(m_ipv6Address.toStdString(), address) || !address.IsIpv6())
        m_ipv6Address.clear();
    // A value out of range (a hand-edited file) falls back to its default without a word.
    m_port = readInt("NetworkPort", kDefaultPort);
    if (m_port < 0 || m_port > 65535)
        m_port = kDefaultPort;
    if (m_timeType < 0 || m_timeType > 2)
        m_timeType = 0;
    bool isNumber = false;
    const qulonglong rate = CSettings::GetProfileString(section, QStringLiteral("BitRate"), {}).toULongLong(&isNumber);
    m_bitRate = isNumber && rate <= 0xFFFFFFFFull ? static_cast<std::uint32_t>(rate) : 0u;
    m_mode = readInt("NetworkType", kDefaultMode);
    if (m_mode < 0 || m_mode > kModeRist)
        m_mode = kDefaultMode;
    m_multicastTtl = readInt("MulticastTtl", kDefaultMulticastTtl);
    if (m_multicastTtl < 1 || m_multicastTtl > 255)
        m_multicastTtl = kDefaultMulticastTtl;
    m_multicastInterface = static_cast<std::uint32_t>(readInt("MulticastInterface", 0));
    // The CLI's --pacing word; anything else plays as auto.
    if (!CNetworkSender::ParsePacing(
            CSettings::GetProfileString(section, QStringLiteral("Pacing"), {}).trimmed().toLower().toStdString(),
            m_pacing))
        m_pacing = CNetworkSender::PacingMode::Auto;
    LoadProtection(section);
    m_ui->linkFields->Load(section);
    UpdateData(false);
    SetPressed(m_ui->loopButton, m_loop);
    // How the user shared the width among the three trees.
    m_ui->treesSplitter->restoreState(
        QByteArray::fromBase64(CSettings::GetProfileString(section, QStringLiteral("TreeWidths"), {}).toLatin1()));
}

void CPlayToNetworkDlg::SaveSettings(bool quiet)
{
    UpdateData(true, quiet);
    const QString section = QString::fromLatin1(kSection);
    auto writeInt = [&section](const char* key, int value) {
        CSettings::WriteProfileInt(section, QString::fromLatin1(key), value);
    };
    auto writeFlag = [&writeInt](const char* key, bool value) { writeInt(key, value ? 1 : 0); };
    CSettings::WriteProfileString(section, QStringLiteral("File"), m_filePath);
    writeFlag("AdaptionsPcrRestamp", m_pcr);
    writeFlag("AdaptionsContRestamp", m_continuity);
    writeFlag("FileLoopEnable", m_loop);
    writeFlag("TotTdtEnable", m_totTdt);
    writeInt("TotTdtTimeType", m_timeType);
    // Cut to its low 32 bits, read back sign-extended.
    writeInt("TotTdtOffset", static_cast<int>(static_cast<std::uint32_t>(static_cast<std::uint64_t>(m_timeOffset))));
    writeInt("NetworkAddrs", static_cast<int>(m_ipAddress));
    CSettings::WriteProfileString(section, QStringLiteral("NetworkAddr6"), m_ipv6Address);
    writeInt("NetworkPort", m_port);
    writeInt("NetworkType", m_mode);
    writeInt("MulticastTtl", m_multicastTtl);
    writeInt("MulticastInterface", static_cast<int>(m_multicastInterface));
    CSettings::WriteProfileString(section, QStringLiteral("Pacing"),
                                  QString::fromLatin1(CNetworkSender::PacingName(m_pacing)));
    CSettings::WriteProfileString(section, QStringLiteral("TreeWidths"),
                                  QString::fromLatin1(m_ui->treesSplitter->saveState().toBase64()));
    CSettings::WriteProfileString(section, QStringLiteral("BitRate"),
                                  m_bitRate == 0 ? QString() : QString::number(m_bitRate));
    SaveProtection(section);
    m_ui->linkFields->Save(section);
}

void CPlayToNetworkDlg::OnBrowse()
{
    if (!m_pickDevice)
        return;
    if (const std::optional<std::uint32_t> address = m_pickDevice(this))
    {
        m_ui->ipAddress->SetAddress(*address);
        ShowIpv6(false); // the devices speak IPv4
    }
}

void CPlayToNetworkDlg::ShowIpv6(bool ipv6, const QString& text)
{
    m_ipv6Edit->setText(ipv6 ? text : QString());
    m_ipv6Edit->setVisible(ipv6);
    m_ui->ipAddress->setVisible(!ipv6);
}

bool CPlayToNetworkDlg::event(QEvent* event)
{
    if (event->type() == CTabActivateEvent::Type())
    {
        OnActivate(static_cast<CTabActivateEvent*>(event)->IsActive());
        return true;
    }
    return QWidget::event(event);
}

void CPlayToNetworkDlg::OnActivate(bool active)
{
    if (active)
    {
        m_statusResetPending = true;
        SetPressed(m_ui->playButton, false);
        SetPressed(m_ui->pauseButton, false);
        SetPressed(m_ui->stopButton, true);
        AnalyseFile();
        m_statusTimer.start(kStatusTimerMs);
        m_treeTimer.start(kTreeTimerMs);
        return;
    }
    m_statusTimer.stop();
    m_treeTimer.stop();
    // Stops the reader (up to 2,000 ms) and the sender: a hidden tab plays nothing.
    if (m_controller->GetState() == CPlayController::PlayState::Playing)
        EndPlay();
    else
        m_controller->Stop();
}

void CPlayToNetworkDlg::SetPressed(CButtonStyle* button, bool pressed)
{
    if (button->IsLatching() && button->IsPressed() != pressed)
        button->SetPressed(pressed);
}

int CPlayToNetworkDlg::TabIndex() const
{
    // The main window writes the index when it adds the tab.
    const QVariant index = property("tabIndex");
    return index.isValid() ? index.toInt() : -1;
}

void CPlayToNetworkDlg::CMessageSink::ShowMessage(const std::string& text)
{
    const QString message = QString::fromStdString(text);
    CPlayToNetworkDlg* owner = m_owner;
    auto show = [owner, message]() { owner->ShowError(message); };
    if (QThread::currentThread() == owner->thread())
        show();
    else
        QMetaObject::invokeMethod(owner, show, Qt::QueuedConnection);
}

CLabel* CPlayToNetworkDlg::FileNameLabel() const
{
    return m_ui->fileNameLabel;
}
QTreeWidget* CPlayToNetworkDlg::FileInfoTree() const
{
    return m_ui->fileInfoTree;
}
QTreeWidget* CPlayToNetworkDlg::ProgramInfoTree() const
{
    return m_ui->programInfoTree;
}
QTreeWidget* CPlayToNetworkDlg::PidInfoTree() const
{
    return m_ui->pidInfoTree;
}
CIpAddressCtrl* CPlayToNetworkDlg::IpAddress() const
{
    return m_ui->ipAddress;
}
QLineEdit* CPlayToNetworkDlg::PortEdit() const
{
    return m_ui->portEdit;
}
QLineEdit* CPlayToNetworkDlg::BitRateEdit() const
{
    return m_ui->bitRateEdit;
}
QComboBox* CPlayToNetworkDlg::ModeCombo() const
{
    return m_ui->modeCombo;
}
CLinkFieldsCtrl* CPlayToNetworkDlg::LinkFields() const
{
    return m_ui->linkFields;
}
QLabel* CPlayToNetworkDlg::LinkStatusLabel() const
{
    return m_ui->linkStatusLabel;
}
QSpinBox* CPlayToNetworkDlg::TtlSpin() const
{
    return m_ui->ttlSpin;
}
QComboBox* CPlayToNetworkDlg::InterfaceCombo() const
{
    return m_ui->interfaceCombo;
}
QComboBox* CPlayToNetworkDlg::PacingCombo() const
{
    return m_ui->pacingCombo;
}
QCheckBox* CPlayToNetworkDlg::PcrCheck() const
{
    return m_ui->pcrCheck;
}
QCheckBox* CPlayToNetworkDlg::TotTdtCheck() const
{
    return m_ui->totTdtCheck;
}
QCheckBox* CPlayToNetworkDlg::ContinuityCheck() const
{
    return m_ui->continuityCheck;
}
QPushButton* CPlayToNetworkDlg::BrowseButton() const
{
    return m_ui->browseButton;
}
QPushButton* CPlayToNetworkDlg::AdaptAllButton() const
{
    return m_ui->adaptAllButton;
}
CButtonStyle* CPlayToNetworkDlg::OpenButton() const
{
    return m_ui->openButton;
}
CButtonStyle* CPlayToNetworkDlg::PlayButton() const
{
    return m_ui->playButton;
}
CButtonStyle* CPlayToNetworkDlg::PauseButton() const
{
    return m_ui->pauseButton;
}
CButtonStyle* CPlayToNetworkDlg::StopButton() const
{
    return m_ui->stopButton;
}
CButtonStyle* CPlayToNetworkDlg::LoopButton() const
{
    return m_ui->loopButton;
}
CDVBSlider* CPlayToNetworkDlg::PositionSlider() const
{
    return m_ui->positionSlider;
}
CLabel* CPlayToNetworkDlg::StatusLabel() const
{
    return m_ui->statusLabel;
}
CLabel* CPlayToNetworkDlg::LoopCountLabel() const
{
    return m_ui->loopCountLabel;
}
CLabel* CPlayToNetworkDlg::TsTimeLabel() const
{
    return m_ui->tsTimeLabel;
}
CLabel* CPlayToNetworkDlg::ElapsedTimeLabel() const
{
    return m_ui->elapsedTimeLabel;
}

bool CPlayToNetworkDlg::IsRunActive() const
{
    return PlayState() != CPlayController::PlayState::Stopped;
}
