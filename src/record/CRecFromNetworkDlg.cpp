#include "record/CRecFromNetworkDlg.h"

#include "common/CSteadyClock.h"
#include "controls/CSettings.h"
#include "controls/CTabActivateEvent.h"
#include "controls/CXTabCtrl.h"
#include "controls/IUiServices.h"
#include "ui_CRecFromNetworkDlg.h"

#include <QApplication>
#include <QFileInfo>
#include <QIntValidator>
#include <QThread>

#include <arpa/inet.h>

#include <algorithm>

namespace
{
const QColor kGrey(128, 128, 128);
const QColor kBlack(0, 0, 0);
const QColor kBlue(0, 0, 255);
const QColor kRed(255, 0, 0);
const QColor kGreen(0, 255, 0);
const QString kCaption = QStringLiteral("Orvane");
const QString kNoErrors = QStringLiteral("No errors detected");
// Shown while a recording that failed to write stays on screen.
const QString kWriteFailed = QStringLiteral("Write error");
const QString kFileFilter = QStringLiteral("Transport Stream (*.ts);;All Files (*)");

//! The name and extension of @p path, as the file label shows it.
QString NameAndExtension(const QString& path)
{
    return path.isEmpty() ? QString() : QFileInfo(path).fileName();
}

//! Host-order IPv4 address of @p text; an empty field is 0.0.0.0.
bool ParseAddress(const QString& text, std::uint32_t& address)
{
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty())
    {
        address = 0;
        return true;
    }
    in_addr a{};
    if (inet_pton(AF_INET, trimmed.toStdString().c_str(), &a) != 1)
        return false;
    address = ntohl(a.s_addr);
    return true;
}

QString FormatAddress(std::uint32_t address)
{
    return QStringLiteral("%1.%2.%3.%4")
        .arg(address >> 24)
        .arg((address >> 16) & 0xFF)
        .arg((address >> 8) & 0xFF)
        .arg(address & 0xFF);
}
} // namespace

void CRecFromNetworkDlg::CMessageSink::ShowMessage(const std::string& text)
{
    const QString message = QString::fromStdString(text);
    if (QThread::currentThread() == m_dlg->thread())
        m_dlg->ShowMessage(message);
    else // the record worker: the box belongs to the window thread
        QMetaObject::invokeMethod(
            m_dlg, [dlg = m_dlg, message] { dlg->ShowMessage(message); }, Qt::QueuedConnection);
}

CRecFromNetworkDlg::CRecFromNetworkDlg(QWidget* parent)
    : QWidget(parent), m_ui(std::make_unique<Ui::CRecFromNetworkDlg>())
{
    m_ui->setupUi(this);
    m_recorder = std::make_unique<CRecordThread>(&m_receiver, &m_sink);
    m_controller = std::make_unique<CRecordController>(*m_recorder, m_receiver);
    m_pidSink = std::make_unique<CQtTreeSink>(m_ui->pidTree);
    m_progSink = std::make_unique<CQtTreeSink>(m_ui->progTree);
    m_statusTimer.setObjectName("statusTimer");
    m_analysisTimer.setObjectName("analysisTimer");
    connect(&m_statusTimer, &QTimer::timeout, this, &CRecFromNetworkDlg::OnStatusTimer);
    connect(&m_analysisTimer, &QTimer::timeout, this, &CRecFromNetworkDlg::OnAnalysisTimer);

    auto* ui = m_ui.get();
    connect(ui->networkOpenButton, &QPushButton::clicked, this, &CRecFromNetworkDlg::OnNetworkOpen);
    connect(ui->fileOpenButton, &QPushButton::clicked, this, &CRecFromNetworkDlg::ChooseFile);
    connect(ui->monitorButton, &QPushButton::clicked, this, &CRecFromNetworkDlg::OnMonitor);
    connect(ui->recordButton, &QPushButton::clicked, this, &CRecFromNetworkDlg::OnRecord);
    connect(ui->stopButton, &QPushButton::clicked, this, &CRecFromNetworkDlg::OnStop);
    connect(ui->loopButton, &QPushButton::clicked, this, &CRecFromNetworkDlg::OnLoop);
    connect(ui->secondsRadio, &QRadioButton::clicked, this, &CRecFromNetworkDlg::OnSizeUnit);
    connect(ui->megabytesRadio, &QRadioButton::clicked, this, &CRecFromNetworkDlg::OnSizeUnit);
    connect(ui->syncLossResetButton, &QPushButton::clicked, this, &CRecFromNetworkDlg::OnSyncLossReset);
    connect(ui->loopCountUpDown, &CUpDownButton::DeltaPos, this, &CRecFromNetworkDlg::OnLoopCountStep);
    ui->portEdit->setValidator(new QIntValidator(0, 65535, ui->portEdit));
    ui->recordingSizeEdit->setValidator(new QIntValidator(0, 0x7FFFFFFF / 1000, ui->recordingSizeEdit));
    OnInitDialog();
}

CRecFromNetworkDlg::~CRecFromNetworkDlg()
{
    m_statusTimer.stop();
    m_analysisTimer.stop();
    switch (m_recorder->GetState())
    {
    case CRecordThread::kMonitoring:
        EndMonitoring();
        break;
    case CRecordThread::kRecording:
        m_controller->Stop(); // everything received is written first
        break;
    default:
        break;
    }
    SaveSettings();
    m_analysis.SetPidTree(nullptr);
    m_analysis.SetProgTree(nullptr);
    m_controller.reset();
    m_recorder.reset();
}

bool CRecFromNetworkDlg::OnInitDialog()
{
    auto* ui = m_ui.get();
    ui->progressBar->setRange(0, 100);
    ui->progressBar->setValue(0);

    struct ButtonLook
    {
        CButtonStyle* button;
        const char* normal;
        const char* active;
        bool keepCaption;
        bool latching;
        bool colours;
    };
    const ButtonLook looks[] = {
        {ui->fileOpenButton, "file-open", "file-open", true, false, true},
        {ui->recordButton, "record", "record-on", false, true, true},
        {ui->syncLossResetButton, "sync-reset", "sync-reset", false, false, false},
        {ui->networkOpenButton, "network-open", "network-open", true, false, true},
        {ui->monitorButton, "monitor", "monitor-on", false, true, true},
        {ui->stopButton, "stop", "stop", false, true, true},
        {ui->loopButton, "loop", "loop-on", true, true, true},
    };
    for (const ButtonLook& look : looks)
    {
        look.button->SetIcons(QIcon(QStringLiteral(":/icons/%1.svg").arg(look.normal)),
                              QIcon(QStringLiteral(":/icons/%1.svg").arg(look.active)));
        if (!look.keepCaption)
            look.button->setText(QString());
        if (look.colours)
            look.button->SetTextColors(kGrey, kBlack);
        look.button->SetLatching(look.latching);
    }
    ui->stopButton->SetPressed(true);
    m_shownState = CRecordThread::kStopped;

    ui->loopCountUpDown->setEnabled(false);
    ui->loopCountLabel->SetTextColor(kGrey);
    ui->megabytesLabel->SetText(QStringLiteral("0 MB"));
    ui->megabytesLabel->SetTextColor(kBlue);
    ui->elapsedLabel->SetText(QStringLiteral("0:00:00"));
    ui->elapsedLabel->SetTextColor(kBlue);
    ui->statusLabel->SetText(kNoErrors);
    ui->dashValue->SetText(QStringLiteral("-"));
    ui->noPcrNotice->setVisible(false);

    m_statusRefresh = true;
    m_analysis.SetPidTree(m_pidSink.get());
    m_analysis.SetProgTree(m_progSink.get());
    ui->portEdit->setEnabled(m_networkClosed);
    ui->modeCombo->setEnabled(m_networkClosed);
    ui->groupEdit->setEnabled(m_networkClosed);
    ui->sourceEdit->setEnabled(m_networkClosed);

    LoadSettings();
    m_recorder->SetAnalysis(&m_analysis);

    ui->fileNameLabel->SetText(NameAndExtension(m_outputFile));
    ui->disableAnalyzerCheck->setChecked(m_disableAnalyzer != 0);
    ui->loopButton->SetPressed(m_loopEnabled);
    ui->loopCountLabel->SetTextColor(m_loopEnabled ? kBlue : kGrey);
    ui->loopCountUpDown->setEnabled(m_loopEnabled);
    ui->loopCountLabel->setEnabled(m_loopEnabled);
    ui->loopCountLabel->SetText(QString::number(m_loopCount));

    SetAnalyzerEnabled(!ui->disableAnalyzerCheck->isChecked());
    WriteFields();
    ApplyControllerSettings();
    UpdateControls();
    return true;
}

void CRecFromNetworkDlg::SetAnalyzerEnabled(bool enable)
{
    m_ui->pidTree->setEnabled(enable);
    m_ui->progTree->setEnabled(enable);
    m_recorder->SetAnalyzerEnabled(enable);
    if (!enable)
    {
        m_pidSink->Clear();
        m_progSink->Clear();
    }
}

void CRecFromNetworkDlg::LoadSettings()
{
    const QString s = QString::fromLatin1(kSection);
    m_disableAnalyzer = CSettings::GetProfileInt(s, "DisableAnalyzer", 0);
    m_outputFile = CSettings::GetProfileString(s, "File", {});
    m_loopEnabled = CSettings::GetProfileInt(s, "FileLoopEnable", 0) != 0;
    m_loopCount =
        static_cast<std::int16_t>(CRecordController::ClampLoopCount(CSettings::GetProfileInt(s, "FileLoopCnt", 3)));
    m_sizeUnit =
        CSettings::GetProfileInt(s, "RecType", 0) == 1 ? CRecordController::kMegabytes : CRecordController::kSeconds;
    m_recordingSize = std::max(0, CSettings::GetProfileInt(s, "RecSize", 100));
    m_networkAddress = static_cast<std::uint32_t>(CSettings::GetProfileInt(s, "NetworkAddrs", 0));
    m_port = CSettings::GetProfileInt(s, "NetworkPort", 1234);
    if (m_port < 0 || m_port > 65535)
        m_port = 1234;
    m_modeIndex = CSettings::GetProfileInt(s, "NetworkType", 0) == 1 ? 1 : 0;
    m_sourceAddress = static_cast<std::uint32_t>(CSettings::GetProfileInt(s, "NetworkSource", 0));
    WriteFields();
}

void CRecFromNetworkDlg::SaveSettings()
{
    ReadFields();
    const QString s = QString::fromLatin1(kSection);
    CSettings::WriteProfileInt(s, "DisableAnalyzer", m_disableAnalyzer);
    CSettings::WriteProfileString(s, "File", m_outputFile);
    CSettings::WriteProfileInt(s, "FileLoopEnable", m_loopEnabled ? 1 : 0);
    CSettings::WriteProfileInt(s, "FileLoopCnt", m_loopCount);
    CSettings::WriteProfileInt(s, "RecType", m_sizeUnit);
    CSettings::WriteProfileInt(s, "RecSize", m_recordingSize);
    CSettings::WriteProfileInt(s, "NetworkAddrs", static_cast<std::int32_t>(m_networkAddress));
    CSettings::WriteProfileInt(s, "NetworkPort", m_port);
    CSettings::WriteProfileInt(s, "NetworkType", m_modeIndex);
    CSettings::WriteProfileInt(s, "NetworkSource", static_cast<std::int32_t>(m_sourceAddress));
}

void CRecFromNetworkDlg::WriteFields()
{
    auto* ui = m_ui.get();
    ui->portEdit->setText(QString::number(m_port));
    ui->modeCombo->setCurrentIndex(m_modeIndex);
    ui->secondsRadio->setChecked(m_sizeUnit == CRecordController::kSeconds);
    ui->megabytesRadio->setChecked(m_sizeUnit == CRecordController::kMegabytes);
    ui->recordingSizeEdit->setText(QString::number(m_recordingSize));
    ui->groupEdit->setText(FormatAddress(m_networkAddress));
    ui->sourceEdit->setText(m_sourceAddress == 0 ? QString() : FormatAddress(m_sourceAddress));
}

bool CRecFromNetworkDlg::ReadFields()
{
    auto* ui = m_ui.get();
    bool ok = false;
    const int port = ui->portEdit->text().trimmed().toInt(&ok);
    if (!ok || port < 0 || port > 65535)
    {
        ShowMessage(QStringLiteral("Please enter an integer between 0 and 65535."));
        ui->portEdit->setFocus();
        return false;
    }
    std::uint32_t group = 0;
    std::uint32_t source = 0;
    if (!ParseAddress(ui->groupEdit->text(), group) || (group != 0 && (group >> 28) != 0xE))
    {
        ShowMessage(QStringLiteral("The group must be an IPv4 multicast address (224.0.0.0 to 239.255.255.255), "
                                   "or 0.0.0.0 for none."));
        ui->groupEdit->setFocus();
        return false;
    }
    if (!ParseAddress(ui->sourceEdit->text(), source))
    {
        ShowMessage(QStringLiteral("The source must be an IPv4 address, or empty for any source."));
        ui->sourceEdit->setFocus();
        return false;
    }
    const int size = ui->recordingSizeEdit->text().trimmed().toInt(&ok);
    if (!ok || size < 0)
    {
        ShowMessage(QStringLiteral("Please enter an integer."));
        ui->recordingSizeEdit->setFocus();
        return false;
    }
    m_port = port;
    m_modeIndex = ui->modeCombo->currentIndex() == 1 ? 1 : 0;
    m_networkAddress = group;
    m_sourceAddress = source;
    m_recordingSize = size;
    OnSizeUnit();
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

CXTabCtrl* CRecFromNetworkDlg::HostTabs() const
{
    for (QWidget* w = parentWidget(); w != nullptr; w = w->parentWidget())
        if (auto* tabs = qobject_cast<CXTabCtrl*>(w))
            return tabs;
    return nullptr;
}

int CRecFromNetworkDlg::TabIndex() const
{
    const QVariant index = property("tabIndex");
    return index.isValid() ? index.toInt() : -1;
}

void CRecFromNetworkDlg::ShowMessage(const QString& text)
{
    UiServices().ShowMessage(this, kCaption, text, IUiServices::Icon::kWarning);
}

bool CRecFromNetworkDlg::event(QEvent* e)
{
    if (e->type() == CTabActivateEvent::Type())
        OnActivate(static_cast<CTabActivateEvent*>(e)->IsActive());
    return QWidget::event(e);
}

void CRecFromNetworkDlg::OnActivate(bool active)
{
    if (!active)
    {
        m_statusTimer.stop();
        m_analysisTimer.stop();
        return;
    }
    m_statusRefresh = true;
    UpdateControls();
    const bool stopped = m_recorder->GetState() == CRecordThread::kStopped;
    m_ui->fileOpenButton->setEnabled(stopped);
    m_ui->syncLossResetButton->setEnabled(stopped);
    // Only an idle worker is stopped here: a run in progress keeps its thread.
    if (stopped)
        m_recorder->StopThread();
    SetAnalyzerEnabled(!m_ui->disableAnalyzerCheck->isChecked());
    m_statusTimer.start(kStatusTimerMs);
    m_analysisTimer.start(kAnalysisTimerMs);
}

void CRecFromNetworkDlg::UpdateControls()
{
    const auto state = m_recorder->GetState();
    const bool open = !m_networkClosed;
    m_ui->recordButton->setEnabled(!m_outputFile.isEmpty() && open && state != CRecordThread::kRecording);
    m_ui->monitorButton->setEnabled(open && state != CRecordThread::kRecording);
    m_ui->stopButton->setEnabled(open && state != CRecordThread::kStopped);
    UpdateButtonLook();
}

void CRecFromNetworkDlg::UpdateButtonLook()
{
    const int state = m_recorder->GetState();
    if (state == m_shownState)
        return;
    m_ui->recordButton->SetPressed(state == CRecordThread::kRecording);
    m_ui->monitorButton->SetPressed(state == CRecordThread::kMonitoring);
    m_ui->stopButton->SetPressed(state == CRecordThread::kStopped);
    m_shownState = state;
}

void CRecFromNetworkDlg::OnNetworkOpen()
{
    auto* ui = m_ui.get();
    if (m_networkClosed)
    {
        // A field that cannot be used keeps the network closed (the message says why).
        if (!ReadFields())
            return;
        m_receiver.SetPort(static_cast<std::uint16_t>(m_port));
        m_receiver.SetRtp(m_modeIndex != 0);
        CDvbIpRecvThread::Membership membership;
        membership.group = m_networkAddress;
        membership.source = m_networkAddress != 0 ? m_sourceAddress : 0;
        m_receiver.SetMembership(membership);
        ApplyControllerSettings();
        m_networkClosed = false;
        ui->networkOpenButton->setText(QStringLiteral("Close"));
    }
    else
    {
        ReadFields();
        ApplyControllerSettings();
        ui->networkOpenButton->setText(QStringLiteral("Open"));
        m_networkClosed = true;
    }
    ui->portEdit->setEnabled(m_networkClosed);
    ui->modeCombo->setEnabled(m_networkClosed);
    ui->groupEdit->setEnabled(m_networkClosed);
    ui->sourceEdit->setEnabled(m_networkClosed);
    UpdateControls();
}

void CRecFromNetworkDlg::ChooseFile()
{
    if (m_recorder->GetState() == CRecordThread::kRecording)
        return;
    QString path = UiServices().GetSaveFileName(this, QString(), QString(), kFileFilter);
    if (!path.isEmpty())
    {
        if (QFileInfo(path).suffix().isEmpty())
            path += QStringLiteral(".ts");
        m_outputFile = QFileInfo(path).absoluteFilePath();
        m_ui->fileNameLabel->SetText(NameAndExtension(m_outputFile));
        CSettings::WriteProfileString(QString::fromLatin1(kSection), "File", m_outputFile);
        ApplyControllerSettings();
    }
    UpdateControls();
    m_ui->fileOpenButton->setEnabled(m_recorder->GetState() != CRecordThread::kRecording);
}

void CRecFromNetworkDlg::EndMonitoring()
{
    m_recorder->StopMonitoring();
}

void CRecFromNetworkDlg::OnMonitor()
{
    m_statusRefresh = true;
    switch (m_recorder->GetState())
    {
    case CRecordThread::kStopped:
        if (CXTabCtrl* tabs = HostTabs())
            tabs->EnableOnlyTab(TabIndex());
        m_writeFailed = false;
        m_lastReceiverStatus = ~0u; // the first status of a run is always shown
        if (!m_controller->StartMonitor())
        {
            ShowMessage(QStringLiteral("Cannot receive on port %1: %2")
                            .arg(m_port)
                            .arg(QString::fromStdString(m_recorder->ReceiverError())));
            m_postStopPending = true;
        }
        else
            m_ui->fileOpenButton->setEnabled(false);
        UpdateControls();
        break;
    case CRecordThread::kMonitoring:
        EndMonitoring();
        m_ui->fileOpenButton->setEnabled(true);
        if (CXTabCtrl* tabs = HostTabs())
            tabs->EnableAllTabs();
        UpdateControls();
        break;
    default:
        UpdateControls();
        break;
    }
    // A latching button flipped itself; the look follows the state.
    m_shownState = -1;
    UpdateButtonLook();
}

void CRecFromNetworkDlg::OnRecord()
{
    QApplication::setOverrideCursor(Qt::WaitCursor);
    m_statusRefresh = true;
    if (CXTabCtrl* tabs = HostTabs())
        tabs->EnableOnlyTab(TabIndex());
    if (m_outputFile.isEmpty())
        ChooseFile();
    // The size and unit typed last are the ones in force.
    if (m_outputFile.isEmpty() || !ReadFields())
    {
        m_postStopPending = true;
        QApplication::restoreOverrideCursor();
        m_shownState = -1;
        UpdateControls();
        return;
    }
    ApplyControllerSettings();
    m_ui->progressBar->setRange(0, 100);
    m_ui->progressBar->setValue(0);
    m_lastShownTenths = 0;
    m_writeFailed = false;
    m_lastReceiverStatus = ~0u;
    const bool started = m_controller->StartRecord(CSteadyClock::GetTickMs());
    QApplication::restoreOverrideCursor();
    if (!started)
    {
        m_postStopPending = true;
        // A file that cannot be created has shown its message already; the port needs one.
        const std::string receiverError = m_recorder->ReceiverError();
        if (!receiverError.empty())
            ShowMessage(
                QStringLiteral("Cannot receive on port %1: %2").arg(m_port).arg(QString::fromStdString(receiverError)));
    }
    else
        m_ui->fileOpenButton->setEnabled(false);
    m_shownState = -1;
    UpdateControls();
}

void CRecFromNetworkDlg::OnStop()
{
    m_controller->Stop();
    m_postStopPending = true;
    m_statusRefresh = true;
    m_shownState = -1;
    UpdateControls();
    m_ui->progressBar->setValue(0);
}

void CRecFromNetworkDlg::OnLoop()
{
    m_loopEnabled = m_ui->loopButton->IsPressed();
    m_ui->loopCountLabel->SetTextColor(m_loopEnabled ? kBlue : kGrey);
    m_ui->loopCountLabel->setEnabled(m_loopEnabled);
    m_ui->loopCountUpDown->setEnabled(m_loopEnabled);
    // A ring switched on or off during a recording applies at its next limit.
    ApplyControllerSettings();
}

void CRecFromNetworkDlg::OnLoopCountStep(int delta)
{
    m_loopCount = static_cast<std::int16_t>(CRecordController::ClampLoopCount(m_loopCount + delta));
    m_ui->loopCountLabel->SetText(QString::number(m_loopCount));
    ApplyControllerSettings();
}

void CRecFromNetworkDlg::OnSizeUnit()
{
    m_sizeUnit = m_ui->megabytesRadio->isChecked() ? CRecordController::kMegabytes : CRecordController::kSeconds;
}

void CRecFromNetworkDlg::OnSyncLossReset()
{
    m_analysis.m_syncLoss.store(0);
}

void CRecFromNetworkDlg::ShowStatus(const QString& text, const QColor& colour)
{
    m_statusText = text;
    m_ui->statusLabel->SetBkColor(colour, colour, 0);
    m_ui->statusLabel->SetText(text);
}

void CRecFromNetworkDlg::OnStatusTimer()
{
    auto* ui = m_ui.get();
    if (m_postStopPending)
    {
        if (ui->disableAnalyzerCheck->isChecked())
        {
            ui->pidTree->setEnabled(true);
            ui->progTree->setEnabled(true);
            m_recorder->SetAnalyzerEnabled(true);
        }
        m_postStopPending = false;
        if (CXTabCtrl* tabs = HostTabs())
            tabs->EnableAllTabs();
        const auto state = m_recorder->GetState();
        if (state == CRecordThread::kStopped)
            ui->fileOpenButton->setEnabled(true);
        else if (state == CRecordThread::kMonitoring)
            ui->fileOpenButton->setEnabled(false);
        UpdateControls();
    }
    UpdateButtonLook();

    if (m_recorder->IsFileOpen() || m_recorder->HasFailed())
    {
        const auto event = m_controller->Tick(CSteadyClock::GetTickMs());
        const std::uint32_t tenths = m_controller->GetElapsedTenths();
        if (event == CRecordController::Event::Rotated || tenths > m_lastShownTenths)
        {
            ui->elapsedLabel->SetText(QString::fromStdString(CRecordController::FormatElapsed(tenths / 10)));
            m_lastShownTenths = tenths;
            ui->megabytesLabel->SetText(
                QStringLiteral("%1 MB").arg(m_recorder->GetBytesWritten() / CRecordController::kBytesPerMegabyte));
            ui->progressBar->setValue(static_cast<int>(std::clamp<std::int64_t>(m_controller->GetProgress(), 0, 100)));
        }
        if (event == CRecordController::Event::LimitStopped)
            OnStop();
        else if (event == CRecordController::Event::Failed)
        {
            // The record thread has shown why; the status stays red until the next run.
            m_writeFailed = true;
            OnStop();
            ShowStatus(kWriteFailed, kRed);
        }
    }

    const auto state = m_recorder->GetState();
    if (state != CRecordThread::kStopped)
    {
        const std::uint32_t status = m_receiver.GetStatus();
        if (status != m_lastReceiverStatus)
        {
            m_lastReceiverStatus = status;
            if ((status & CDvbIpRecvThread::kStatusNoData) != 0)
                ShowStatus(QStringLiteral("No Data Recv"), kRed);
            else if ((status & CDvbIpRecvThread::kStatusOverflow) != 0)
                ShowStatus(QStringLiteral("Overflow"), kRed);
            // A short read keeps the last text, but not "No Data Recv" once data flows again.
            else if ((status & CDvbIpRecvThread::kStatusShortRead) != 0 &&
                     m_statusText != QStringLiteral("No Data Recv"))
                ui->statusLabel->SetText(m_statusText);
            else
                ShowStatus(kNoErrors, kGreen);
        }
        ui->statusLabel->SetTransparent(false);
    }
    else
    {
        if (m_statusRefresh)
        {
            m_statusText = kNoErrors;
            m_statusRefresh = false;
            ui->statusLabel->setEnabled(false);
            ui->statusLabel->setEnabled(true);
        }
        ui->statusLabel->SetTransparent(!m_writeFailed);
    }

    QString syncLoss = QStringLiteral("-");
    QString packetSize = QStringLiteral("-");
    QString bitRate = QStringLiteral("-");
    if (state != CRecordThread::kStopped)
    {
        syncLoss = QString::number(m_analysis.m_syncLoss.load());
        packetSize = QString::number(m_analysis.m_packetSize.load());
        const auto bits = static_cast<std::int32_t>(m_analysis.State().m_bitRate.load());
        if (bits != 0)
            bitRate = QString::asprintf("%.3f", bits / 1'000'000.0);
    }
    ui->packetSizeValue->SetText(packetSize);
    ui->bitRateValue->SetText(bitRate);
    ui->syncLossValue->SetText(syncLoss);
}

void CRecFromNetworkDlg::OnAnalysisTimer()
{
    if (m_recorder->GetState() != CRecordThread::kStopped)
    {
        if (!m_recorder->IsAnalyzerEnabled())
            return;
        m_analysis.UpdateDisplay(1, 1);
        if (m_analysis.State().m_pcrSeen.load() != 0)
            m_noPcrCountdown = kNoPcrTicks;
        else if (m_noPcrCountdown > 0)
            --m_noPcrCountdown;
        m_ui->noPcrNotice->setVisible(m_noPcrCountdown == 0);
    }
    else if (m_noPcrCountdown < kNoPcrTicks)
    {
        m_ui->noPcrNotice->setVisible(false);
        m_noPcrCountdown = kNoPcrTicks;
    }
}

bool CRecFromNetworkDlg::IsRunActive() const
{
    return m_recorder->GetState() != CRecordThread::kStopped;
}
