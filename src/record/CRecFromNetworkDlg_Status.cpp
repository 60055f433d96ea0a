// The Record tab's two timers. The status timer (100 ms) shows time, megabytes
// and progress, applies the size limit, and shows the receive status and the
// signal figures; the analysis timer (500 ms) refreshes the trees and the
// no-PCR notice.

#include "common/CEventLog.h"
#include "common/CSteadyClock.h"
#include "controls/CIndicatorPanel.h"
#include "controls/CLabel.h"
#include "controls/CXTabCtrl.h"
#include "record/CRecFromNetworkDlg.h"
#include "ui_CRecFromNetworkDlg.h"

#include <QFileInfo>

#include <algorithm>

namespace
{
const QColor kRed(255, 0, 0);
const QColor kGreen(0, 255, 0);
// Shown while a recording that failed to write stays on screen.
const QString kWriteFailed = QStringLiteral("Write error");
const QString kNoFigure = QStringLiteral("-");
} // namespace

void CRecFromNetworkDlg::ShowStatus(const QString& text)
{
    m_statusText = text;
    const QColor& colour = text == QLatin1String(CRecordController::kNoErrorsText) ? kGreen : kRed;
    m_ui->statusLabel->SetBkColor(colour, colour, 0);
    m_ui->statusLabel->SetText(text);
    if (CRecordController::IsWarning(text.toStdString()))
        LogEvent(CEventLog::Kind::Error, text);
}

void CRecFromNetworkDlg::OnStatusTimer()
{
    ShowRecordingProgress();
    // A run may have ended by itself (limit, failure): the controls follow.
    UpdateControls();
    ShowReceiveStatus();
    ShowSignalFigures();
    ShowIndicators();
    ShowLinkStatus();
}

void CRecFromNetworkDlg::ShowRecordingProgress()
{
    // While recording: the file being written (a ring's "rec-3.ts"), else the chosen name.
    const bool recording = m_recorder->GetState() == CRecordThread::kRecording;
    const QString fileName =
        QFileInfo(recording ? QString::fromStdString(m_recorder->GetFileName()) : m_outputFile).fileName();
    m_ui->fileNameLabel->SetText(fileName); // repaints only on a change
    if (!m_recorder->IsFileOpen() && !m_recorder->HasFailed())
        return;
    auto* ui = m_ui.get();
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
    if (event == CRecordController::Event::Rotated)
    {
        // The worker switches files on its own a moment later: the name comes from the ring.
        const std::string next =
            CRecordThread::FormName(m_controller->GetFileIndex(), m_controller->GetSettings().outputFile);
        LogEvent(CEventLog::Kind::RingSwitch,
                 QStringLiteral("Next ring file: %1").arg(QFileInfo(QString::fromStdString(next)).fileName()));
    }
    if (event == CRecordController::Event::LimitStopped)
    {
        m_limitReached = true;
        OnStop();
    }
    else if (event == CRecordController::Event::Failed)
    {
        // The record thread has shown why; the status stays red until the next run.
        m_writeFailed = true;
        OnStop();
        ShowStatus(kWriteFailed);
    }
}

void CRecFromNetworkDlg::ShowReceiveStatus()
{
    CLabel* label = m_ui->statusLabel;
    bool transparent = false;
    if (!IsRunning())
    {
        // Stop resets the text and its colour together; a write error stays.
        if (m_statusRefresh && !m_writeFailed && !m_linkFailed)
            ShowStatus(QString::fromLatin1(CRecordController::kNoErrorsText));
        m_statusRefresh = false;
        transparent = !m_writeFailed && !m_linkFailed;
    }
    else if (const std::uint32_t status = m_receiver.GetStatus(); status != m_lastReceiverStatus)
    {
        m_lastReceiverStatus = status;
        ShowStatus(WithTransportLoss(
            QString::fromStdString(CRecordController::StatusText(status, m_statusText.toStdString()))));
    }
    else if (const QString text = WithTransportLoss(m_statusText); text != m_statusText)
        ShowStatus(text);
    if (label->IsTransparent() != transparent)
        label->SetTransparent(transparent);
}

void CRecFromNetworkDlg::ShowSignalFigures()
{
    auto* ui = m_ui.get();
    if (!IsRunning())
    {
        // The figures of the stream go; the loss count of the run stays readable.
        ui->packetSizeValue->SetText(kNoFigure);
        ui->bitRateValue->SetText(kNoFigure);
        ui->syncLossValue->SetText(kNoFigure);
        ui->mdiValue->SetText(kNoFigure);
        return;
    }
    ui->packetSizeValue->SetText(QString::number(m_analysis.m_packetSize.load()));
    const auto bits = static_cast<std::int32_t>(m_analysis.State().m_bitRate.load());
    ui->bitRateValue->SetText(bits != 0 ? QString::asprintf("%.3f", bits / 1'000'000.0) : kNoFigure);
    ui->syncLossValue->SetText(QString::number(m_analysis.m_syncLoss.load()));
    const CDvbIpRecvThread::Counters counters = m_receiver.GetCounters();
    ui->kernelDropsValue->SetText(QString::number(counters.kernelDrops));
    ShowProtectionFigures(counters);
    const CDvbIpRecvThread::Mdi mdi = m_receiver.GetMdi();
    ShowMdi(mdi.dfMs, mdi.mlr, mdi.valid);
}

void CRecFromNetworkDlg::ShowProtectionRows()
{
    auto* ui = m_ui.get();
    const bool rtp = m_mode == ReceiveMode::kRtp;
    for (QWidget* w : {static_cast<QWidget*>(ui->fecCaption), static_cast<QWidget*>(ui->fecValue),
                       static_cast<QWidget*>(ui->fecPacketsCaption), static_cast<QWidget*>(ui->fecPacketsValue)})
        w->setVisible(m_fec && rtp);
    for (QWidget* w : {static_cast<QWidget*>(ui->path1StatsCaption), static_cast<QWidget*>(ui->path1StatsValue),
                       static_cast<QWidget*>(ui->path2StatsCaption), static_cast<QWidget*>(ui->path2StatsValue),
                       static_cast<QWidget*>(ui->skewCaption), static_cast<QWidget*>(ui->skewValue)})
        w->setVisible(m_secondPath && rtp);
    // The tab control lays its pages out itself: it learns of the wider Signal Info here.
    if (CXTabCtrl* tabs = HostTabs())
        tabs->updateGeometry();
}

void CRecFromNetworkDlg::ShowProtectionFigures(const CDvbIpRecvThread::Counters& counters)
{
    // The receiver's own figures of the run (also what orvane-cli prints); they stay after it.
    auto* ui = m_ui.get();
    if (counters.fec)
    {
        ui->fecValue->SetText(QStringLiteral("%1/%2").arg(counters.fecRecovered).arg(counters.fecUnrecoverable));
        // FEC datagrams of no use (malformed, parity that does not add up) mean a damaged FEC stream.
        ui->fecPacketsValue->SetText(
            counters.fecInvalid == 0
                ? QString::number(counters.fecPackets)
                : QStringLiteral("%1 (%2 of no use)").arg(counters.fecPackets).arg(counters.fecInvalid));
    }
    if (counters.twoPaths)
    {
        CLabel* values[] = {ui->path1StatsValue, ui->path2StatsValue};
        for (std::size_t p = 0; p < counters.paths.size(); ++p)
            values[p]->SetText(QStringLiteral("%1/%2/%3")
                                   .arg(counters.paths[p].received)
                                   .arg(counters.paths[p].missing)
                                   .arg(counters.paths[p].onlyHere));
        ui->skewValue->SetText(QString::asprintf("%.1f", counters.skewMs));
    }
}

void CRecFromNetworkDlg::ShowMdi(double dfMs, double mlr, bool valid)
{
    m_ui->mdiValue->SetText(valid ? QString::asprintf("%.1f:%.0f", dfMs, mlr) : kNoFigure);
}

void CRecFromNetworkDlg::ShowIndicators()
{
    if (!IsRunning() || !m_recorder->IsAnalyzerEnabled())
    {
        if (m_indicatorsLive)
            ShowIndicatorCounts(false);
        m_indicatorsLive = false;
        return;
    }
    // Once a second: the snapshot copies the PID list, and "active" covers the last second anyway.
    // Until the first packets (an empty list) on every tick, so the lights come on at once.
    const bool waiting =
        m_indicators->LightAt(CTr101290Counters::Indicator::TsSyncLoss) == CIndicatorPanel::Light::NoData;
    if (m_indicatorsLive && !waiting && ++m_indicatorTicks < kIndicatorTicks)
        return;
    m_indicatorTicks = 0;
    m_indicatorsLive = true;
    ShowIndicatorCounts(true);
}

void CRecFromNetworkDlg::ShowIndicatorCounts(bool live)
{
    const CAnalysisSnapshot snapshot = m_analysis.TakeSnapshot();
    const auto& counters = snapshot.tr101290;
    // Nothing received and nothing counted: no data yet rather than "never seen".
    if (snapshot.totalPackets == 0 && counters.Total(1) + counters.Total(2) == 0)
        m_indicators->Clear();
    else
        m_indicators->ShowCounters(counters, live);
}

void CRecFromNetworkDlg::OnAnalysisTimer()
{
    if (IsRunning())
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
