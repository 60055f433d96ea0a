// The Record tab on the desktop: keyboard shortcuts and tooltips, and the run
// state the main window shows in its status bar and event log.

#include "common/CEventLog.h"
#include "controls/CButtonStyle.h"
#include "controls/CLabel.h"
#include "controls/CShortcuts.h"
#include "controls/CUpDownButton.h"
#include "record/CRecFromNetworkDlg.h"
#include "ui_CRecFromNetworkDlg.h"

#include <QFileInfo>

void CRecFromNetworkDlg::InitDesktop()
{
    auto* ui = m_ui.get();
    CShortcuts::Bind(this, ui->fileOpenButton, CShortcuts::kOpen, QStringLiteral("Choose the file to record into"));
    CShortcuts::Bind(this, ui->recordButton, CShortcuts::kRecord,
                     QStringLiteral("Record the incoming stream into the file"));
    CShortcuts::Bind(this, ui->monitorButton, CShortcuts::kMonitor,
                     QStringLiteral("Receive and analyse the stream without writing it"));
    CShortcuts::Bind(this, ui->stopButton, CShortcuts::kStop, QStringLiteral("Stop recording or monitoring"));
    ui->networkOpenButton->setToolTip(QStringLiteral("Open or close the UDP port for receiving"));
    ui->loopButton->setToolTip(QStringLiteral("Record over a ring of numbered files, overwriting the oldest"));
    ui->loopCountUpDown->setToolTip(QStringLiteral("Number of files in the ring (1 to 100)"));
    if (auto* up = ui->loopCountUpDown->findChild<QWidget*>(QStringLiteral("upArrow")))
        up->setToolTip(QStringLiteral("One file more in the ring"));
    if (auto* down = ui->loopCountUpDown->findChild<QWidget*>(QStringLiteral("downArrow")))
        down->setToolTip(QStringLiteral("One file less in the ring"));
    ui->loopCountLabel->setToolTip(QStringLiteral("Number of files in the ring"));
    ui->portEdit->setToolTip(QStringLiteral("Local UDP port to receive on, 1 to 65535"));
    ui->modeCombo->setToolTip(
        QStringLiteral("Plain UDP, or RTP put back into sequence order (needed for FEC and a second path)"));
    ui->fecCheck->setToolTip(QStringLiteral(
        "RTP: also receive SMPTE 2022-1 FEC on the port + 2 and + 4 of each path and rebuild lost datagrams"));
    ui->secondPortEdit->setToolTip(QStringLiteral("Local UDP port of the second path, 1 to 65535"));
    ui->secondGroupEdit->setToolTip(QStringLiteral("Multicast group of the second path; empty for unicast"));
    ui->secondSourceEdit->setToolTip(QStringLiteral("Only this sender on the second path; empty for any"));
    ui->mergeWindowSpin->setToolTip(QStringLiteral("Merge window: how long the later path may trail the earlier one "
                                                   "(SMPTE 2022-7 path skew), 1 to 500 ms"));
    // groupEdit: its tooltip follows the mode (a group, or a link's address).
    ui->sourceEdit->setToolTip(QStringLiteral("Only this sender (source-specific multicast); empty for any"));
    ui->recordingSizeEdit->setToolTip(QStringLiteral("Limit of each file, in seconds or MB"));
    ui->secondsRadio->setToolTip(QStringLiteral("The limit is in seconds"));
    ui->megabytesRadio->setToolTip(QStringLiteral("The limit is in megabytes"));
    ui->disableAnalyzerCheck->setToolTip(QStringLiteral("Record without analysing the stream (less CPU)"));
    ui->syncLossResetButton->setToolTip(QStringLiteral("Reset the sync loss count"));
    ui->fileNameLabel->setToolTip(QStringLiteral("The file recorded into"));
    ui->progressBar->setToolTip(QStringLiteral("Progress towards the limit of the current file"));
    ui->statusLabel->setToolTip(QStringLiteral("Receive status"));
    ui->elapsedLabel->setToolTip(QStringLiteral("Time recorded into the current file"));
    ui->megabytesLabel->setToolTip(QStringLiteral("Megabytes written into the current file"));
    ui->packetSizeValue->setToolTip(QStringLiteral("Packet size of the stream, 188 or 204 bytes"));
    ui->bitRateValue->setToolTip(QStringLiteral("Bit rate measured from the PCRs, Mbit/s"));
    ui->syncLossValue->setToolTip(QStringLiteral("Times the packet sync was lost"));
    ui->kernelDropsValue->setToolTip(QStringLiteral("Datagrams the kernel dropped because the receive queue was full"));
    ui->fecValue->setToolTip(QStringLiteral("Datagrams rebuilt by FEC / lost ones FEC could not rebuild"));
    ui->fecPacketsValue->setToolTip(QStringLiteral("FEC datagrams received (column and row, both paths)"));
    for (CLabel* path : {ui->path1StatsValue, ui->path2StatsValue})
        path->setToolTip(QStringLiteral("Datagrams received / missing / only on this path"));
    ui->skewValue->setToolTip(QStringLiteral("How long the later copy of a datagram trailed the first, ms"));
    ui->pidTree->setToolTip(QStringLiteral("PIDs of the received stream"));
    ui->progTree->setToolTip(QStringLiteral("Programs of the received stream"));
    m_runState.Reset(RunStateText());
    connect(&m_runState, &CRunState::Changed, this, &CRecFromNetworkDlg::RunStateChanged);
}

void CRecFromNetworkDlg::SetEventLog(CEventLog* log)
{
    m_eventLog = log;
    m_receiver.SetEventLog(log);
    // With a log the jumps go there, not to the terminal.
    m_receiver.SetDiagnostics(log != nullptr ? nullptr : stdout);
}

QString CRecFromNetworkDlg::RunStateText() const
{
    switch (m_recorder->GetState())
    {
    case CRecordThread::kRecording:
        return QStringLiteral("Recording %1")
            .arg(QFileInfo(QString::fromStdString(m_recorder->GetFileName())).fileName());
    case CRecordThread::kMonitoring:
        return QStringLiteral("Monitoring");
    default:
        return m_limitReached ? QStringLiteral("Finished") : QStringLiteral("Stopped");
    }
}

void CRecFromNetworkDlg::ReportRunState()
{
    m_runState.Report(RunStateText());
}

void CRecFromNetworkDlg::LogEvent(CEventLog::Kind kind, const QString& text)
{
    if (m_eventLog != nullptr)
        m_eventLog->Add(kind, "Record: " + text.simplified().toStdString());
}
