// The Record tab's set-up, activation, commands and the one place that decides
// what is enabled and pressed (UpdateControls).

#include "record/CRecFromNetworkDlg.h"

#include "common/CEventLog.h"
#include "common/CSteadyClock.h"
#include "controls/CIndicatorPanel.h"
#include "controls/CSettings.h"
#include "controls/CTabActivateEvent.h"
#include "controls/CXTabCtrl.h"
#include "controls/IUiServices.h"
#include "ui_CRecFromNetworkDlg.h"

#include <QApplication>
#include <QFileInfo>
#include <QIntValidator>
#include <QThread>

#include <cstdio>

namespace
{
const QColor kGrey(128, 128, 128);
const QColor kBlack(0, 0, 0);
const QColor kBlue(0, 0, 255);
const QString kCaption = QStringLiteral("Orvane");
const QString kFileFilter = QStringLiteral("Transport Stream (*.ts);;All Files (*)");
// When the run fails to start and nothing else has said why.
const QString kStartFailed = QStringLiteral("Receiving could not start: the system refused memory or a thread.");
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
    m_indicators = CIndicatorPanel::Attach(m_ui->tr101290Host);
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
    connect(ui->disableAnalyzerCheck, &QCheckBox::toggled, this, &CRecFromNetworkDlg::OnDisableAnalyzer);
    connect(ui->secondPathCheck, &QCheckBox::toggled, this, &CRecFromNetworkDlg::UpdateControls);
    // Digits only; a port out of range gets its message when the network opens.
    ui->portEdit->setValidator(new QIntValidator(0, CRecordController::kMaxPort, ui->portEdit));
    ui->secondPortEdit->setValidator(new QIntValidator(0, CRecordController::kMaxPort, ui->secondPortEdit));
    ui->recordingSizeEdit->setValidator(new QIntValidator(0, kMaxRecordingSize, ui->recordingSizeEdit));
    InitLink();
    OnInitDialog();
    InitDesktop();
    AttachBitrateGraph();
}

CRecFromNetworkDlg::~CRecFromNetworkDlg()
{
    // The window is closing: what goes wrong now goes to the terminal, not into a box.
    m_closing = true;
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
            look.button->SetTextColors(kBlack, kBlue);
        look.button->SetLatching(look.latching);
    }

    ui->megabytesLabel->SetText(QStringLiteral("0 MB"));
    ui->megabytesLabel->SetTextColor(kBlue);
    ui->elapsedLabel->SetText(QStringLiteral("0:00:00"));
    ui->elapsedLabel->SetTextColor(kBlue);
    ShowStatus(QString::fromLatin1(CRecordController::kNoErrorsText));
    ui->statusLabel->SetTransparent(true);
    ui->kernelDropsValue->SetText(QStringLiteral("-"));
    ui->mdiValue->SetText(QStringLiteral("-"));
    for (CLabel* value : {ui->fecValue, ui->fecPacketsValue, ui->path1StatsValue, ui->path2StatsValue, ui->skewValue})
        value->SetText(QStringLiteral("-"));
    FillInterfaces();
    ui->noPcrNotice->setVisible(false);

    m_statusRefresh = true;
    m_analysis.SetPidTree(m_pidSink.get());
    m_analysis.SetProgTree(m_progSink.get());

    LoadSettings();
    m_recorder->SetAnalysis(&m_analysis);

    ui->fileNameLabel->SetText(m_outputFile.isEmpty() ? QString() : QFileInfo(m_outputFile).fileName());
    ui->disableAnalyzerCheck->setChecked(m_disableAnalyzer);
    ui->loopCountLabel->SetText(QString::number(m_loopCount));

    SetAnalyzerEnabled(!ui->disableAnalyzerCheck->isChecked());
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
        m_indicators->Clear();
        m_indicatorsLive = false;
    }
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
    ++m_messagesShown;
    LogEvent(CEventLog::Kind::Error, text);
    if (m_closing)
    {
        std::fprintf(stderr, "orvane: %s\n", qPrintable(text));
        return;
    }
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
    // Only an idle worker is stopped here: a run in progress keeps its thread.
    if (!IsRunning())
        m_recorder->StopThread();
    SetAnalyzerEnabled(!m_ui->disableAnalyzerCheck->isChecked());
    UpdateControls();
    m_statusTimer.start(kStatusTimerMs);
    m_analysisTimer.start(kAnalysisTimerMs);
}

void CRecFromNetworkDlg::UpdateControls()
{
    auto* ui = m_ui.get();
    const auto state = m_recorder->GetState();
    const bool open = !m_networkClosed;
    const bool stopped = state == CRecordThread::kStopped;
    const bool recording = state == CRecordThread::kRecording;

    ui->recordButton->setEnabled(open && !recording && !m_outputFile.isEmpty());
    ui->monitorButton->setEnabled(open && !recording);
    ui->stopButton->setEnabled(open && !stopped);
    ui->fileOpenButton->setEnabled(stopped);
    // A run keeps the port, mode and group it started with.
    const bool editable = m_networkClosed && stopped;
    for (QWidget* field : {static_cast<QWidget*>(ui->portEdit), static_cast<QWidget*>(ui->modeCombo),
                           static_cast<QWidget*>(ui->fecCheck), static_cast<QWidget*>(ui->groupEdit),
                           static_cast<QWidget*>(ui->sourceEdit), static_cast<QWidget*>(ui->interfaceCombo),
                           static_cast<QWidget*>(ui->secondPathCheck)})
        field->setEnabled(editable);
    // The second path's fields only while it is ticked.
    const bool second = editable && ui->secondPathCheck->isChecked();
    for (QWidget* field : {static_cast<QWidget*>(ui->secondPortEdit), static_cast<QWidget*>(ui->secondGroupEdit),
                           static_cast<QWidget*>(ui->secondSourceEdit), static_cast<QWidget*>(ui->secondInterfaceCombo),
                           static_cast<QWidget*>(ui->mergeWindowSpin)})
        field->setEnabled(second);
    UpdateLinkControls(editable);
    ui->networkOpenButton->setText(m_networkClosed ? QStringLiteral("Open") : QStringLiteral("Close"));

    ui->loopButton->SetPressed(m_loopEnabled);
    ui->loopCountUpDown->setEnabled(m_loopEnabled);
    ui->loopCountLabel->setEnabled(m_loopEnabled);
    ui->loopCountLabel->SetTextColor(m_loopEnabled ? kBlue : kGrey);
    UpdateButtonLook();

    // A run holds the tab control on this tab.
    const bool lockTabs = !stopped;
    if (m_tabsLocked != lockTabs)
    {
        if (CXTabCtrl* tabs = HostTabs())
        {
            if (lockTabs)
                tabs->EnableOnlyTab(TabIndex());
            else
                tabs->EnableAllTabs();
        }
        m_tabsLocked = lockTabs;
    }
    ReportRunState();
}

void CRecFromNetworkDlg::UpdateButtonLook()
{
    // A latching button flips itself when clicked; the look follows the state.
    const auto state = m_recorder->GetState();
    m_ui->recordButton->SetPressed(state == CRecordThread::kRecording);
    m_ui->monitorButton->SetPressed(state == CRecordThread::kMonitoring);
    m_ui->stopButton->SetPressed(state == CRecordThread::kStopped);
}

void CRecFromNetworkDlg::OnNetworkOpen()
{
    if (m_networkClosed)
    {
        // A field that cannot be used keeps the network closed (the message says why).
        if (!ReadFields())
            return;
        m_networkClosed = false;
    }
    else
    {
        ReadFields();
        m_networkClosed = true;
    }
    ApplyControllerSettings();
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
        m_ui->fileNameLabel->SetText(QFileInfo(m_outputFile).fileName());
        CSettings::WriteProfileString(QString::fromLatin1(kSection), "File", m_outputFile);
        ApplyControllerSettings();
    }
    UpdateControls();
}

bool CRecFromNetworkDlg::PrepareRun()
{
    if (!IsRunning() && !MakeInput())
        return false;
    ConfigureReceiver();
    m_writeFailed = false;
    m_linkFailed = false;
    m_lastReceiverStatus = ~0u; // the first status of a run is always shown
    ShowStatus(QString::fromLatin1(CRecordController::kNoErrorsText));
    m_ui->kernelDropsValue->SetText(QStringLiteral("0"));
    const bool fec = m_receiver.IsFec() && m_receiver.IsRtp();
    const bool second = m_receiver.GetSecondPort() != 0 && m_receiver.IsRtp();
    m_ui->fecValue->SetText(fec ? QStringLiteral("0/0") : QStringLiteral("-"));
    m_ui->fecPacketsValue->SetText(fec ? QStringLiteral("0") : QStringLiteral("-"));
    for (CLabel* path : {m_ui->path1StatsValue, m_ui->path2StatsValue})
        path->SetText(second ? QStringLiteral("0/0/0") : QStringLiteral("-"));
    m_ui->skewValue->SetText(QStringLiteral("-"));
    // The run starts with a clear PID list, and so with no indicators yet.
    m_indicators->Clear();
    m_indicatorsLive = false;
    // Every run, the first too, says "no PCR" after the same two seconds without one.
    m_noPcrCountdown = kNoPcrTicks;
    m_ui->noPcrNotice->setVisible(false);
    return true;
}

void CRecFromNetworkDlg::ReportStartFailure(int messagesBefore)
{
    if (m_messagesShown != messagesBefore)
        return; // the record thread has said why
    const std::string receiverError = m_recorder->ReceiverError();
    if (receiverError.empty())
        ShowMessage(kStartFailed);
    else
        ShowMessage(
            QStringLiteral("Cannot receive on port %1: %2").arg(m_port).arg(QString::fromStdString(receiverError)));
}

void CRecFromNetworkDlg::EndMonitoring()
{
    m_recorder->StopMonitoring();
}

void CRecFromNetworkDlg::OnMonitor()
{
    m_statusRefresh = true;
    const int messagesBefore = m_messagesShown;
    switch (m_recorder->GetState())
    {
    case CRecordThread::kStopped:
        m_limitReached = false;
        if (PrepareRun() && !m_controller->StartMonitor())
            ReportStartFailure(messagesBefore);
        break;
    case CRecordThread::kMonitoring:
        EndMonitoring();
        break;
    default:
        break;
    }
    UpdateControls();
}

void CRecFromNetworkDlg::OnRecord()
{
    m_statusRefresh = true;
    if (m_outputFile.isEmpty())
        ChooseFile();
    // The size and unit typed last are the ones in force.
    if (m_outputFile.isEmpty() || !ReadFields())
    {
        UpdateControls();
        return;
    }
    QApplication::setOverrideCursor(Qt::WaitCursor);
    ApplyControllerSettings();
    m_ui->progressBar->setRange(0, 100);
    m_ui->progressBar->setValue(0);
    m_lastShownTenths = 0;
    m_limitReached = false;
    const int messagesBefore = m_messagesShown;
    const bool started = PrepareRun() && m_controller->StartRecord(CSteadyClock::GetTickMs());
    QApplication::restoreOverrideCursor();
    if (!started)
        ReportStartFailure(messagesBefore);
    UpdateControls();
}

void CRecFromNetworkDlg::OnStop()
{
    m_controller->Stop();
    m_statusRefresh = true;
    UpdateControls();
    m_ui->progressBar->setValue(0);
}

void CRecFromNetworkDlg::OnLoop()
{
    m_loopEnabled = m_ui->loopButton->IsPressed();
    // A ring switched on or off during a recording applies at its next limit.
    ApplyControllerSettings();
    UpdateControls();
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

void CRecFromNetworkDlg::OnDisableAnalyzer(bool disable)
{
    // At once, also during a run, and remembered for the next start.
    m_disableAnalyzer = disable;
    SetAnalyzerEnabled(!disable);
    CSettings::WriteProfileInt(QString::fromLatin1(kSection), "DisableAnalyzer", disable ? 1 : 0);
}

void CRecFromNetworkDlg::OnSyncLossReset()
{
    m_analysis.m_syncLoss.store(0);
}

bool CRecFromNetworkDlg::IsRunActive() const
{
    return m_recorder->GetState() != CRecordThread::kStopped;
}
