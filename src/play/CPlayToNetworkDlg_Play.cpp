// The Play tab's running side: Play, Pause, Stop, Loop, jumps of the position
// slider, and the two timers (61: end of play and status every 100 ms, 62:
// the analysis trees every 500 ms).

#include "controls/CButtonStyle.h"
#include "controls/CDVBSlider.h"
#include "controls/CLabel.h"
#include "controls/CXTabCtrl.h"
#include "engine/CFilePlayEngine.h"
#include "engine/CNetworkSender.h"
#include "play/CPlayToNetworkDlg.h"
#include "play/CTotTdtDlg.h"
#include "ui_CPlayToNetworkDlg.h"

#include <QThread>

#include <algorithm>
#include <chrono>
#include <mutex>

namespace
{
constexpr int kQuarter = CPlayToNetworkDlg::kSliderMax / 4;
} // namespace

std::uint32_t CPlayToNetworkDlg::TickCount()
{
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<std::uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

QString CPlayToNetworkDlg::FormatDuration(std::uint32_t seconds)
{
    return QString::asprintf("%d:%02d:%02d", static_cast<int>(seconds / 3600), static_cast<int>(seconds / 60 % 60),
                             static_cast<int>(seconds % 60));
}

void CPlayToNetworkDlg::OnPlay()
{
    UpdateData(true);
    if (m_engine->IsRunning())
    {
        // Play during a pause resumes it.
        if (m_engine->IsPaused())
        {
            SetPressed(m_ui->pauseButton, false);
            OnPause();
        }
        SetPressed(m_ui->playButton, true);
        return;
    }
    if (m_filePath.isEmpty())
        OnOpen();

    const auto bitRate = static_cast<std::uint32_t>(m_bitRate);
    m_sender->SetRate(bitRate, static_cast<std::uint32_t>(std::max(m_packetSize, 0)));
    m_sender->SetDestination(m_ipAddress, static_cast<std::uint16_t>(m_port), m_mode != 0);
    m_sender->SetMulticast(m_multicastTtl, m_multicastInterface);

    m_ui->programInfoTree->setEnabled(true);
    m_ui->pidInfoTree->setEnabled(true);
    m_engine->SetDecoder(&m_decoder, true);
    SaveSettings();
    m_decoder.ResetListData(0, 1);
    m_decoder.m_playBitRate.store(m_bitRate);
    ApplyAdaptions();
    m_engine->SetLoop(m_loop != 0);
    m_engine->SetRange(kSliderMin, std::min(kSliderMax, 1000));
    Jump();

    if (m_engine->StartPlay(m_filePath.toStdString()))
    {
        m_playState = kPlayStatePlaying;
        UpdateControls();
        if (m_tabCtrl != nullptr)
            m_tabCtrl->EnableOnlyTab(TabIndex());
    }
    else
    {
        m_playState = kPlayStateStopped;
        UpdateControls();
        m_statusResetPending = 1;
    }
    m_playStartTick = TickCount();
    m_lastShownElapsed = 0;
}

void CPlayToNetworkDlg::ApplyAdaptions()
{
    CAnalysisState& state = m_decoder.State();
    state.m_pcrRestamp.store(m_pcr);
    state.m_pcrRestamp2.store(m_pcr);
    state.m_ccRestamp.store(m_continuity);
    state.m_totTdtTimeType.store(m_timeType);
    state.m_totTdtOffset.store(m_timeOffset);
    state.m_totTdtEnable.store(m_totTdt);
}

void CPlayToNetworkDlg::OnPause()
{
    CButtonStyle* pause = m_ui->pauseButton;
    if (m_playState != kPlayStatePlaying || !m_engine->IsRunning())
    {
        // Nothing plays: nothing to hold.
        SetPressed(pause, false);
        return;
    }
    const bool paused = pause->IsPressed();
    if (paused == m_engine->IsPaused())
        return;
    if (paused)
    {
        m_pauseStartTick = TickCount();
    }
    else
    {
        // The elapsed time holds through the pause.
        m_playStartTick += TickCount() - m_pauseStartTick;
    }
    m_engine->Pause(paused);
}

void CPlayToNetworkDlg::OnStop()
{
    m_engine->Stop();
    SetPressed(m_ui->pauseButton, false);
    m_ui->pauseButton->update();
    m_ui->positionSlider->setValue(0);
    m_statusResetPending = 1;
    m_playState = kPlayStateStopped;
    UpdateControls();
    if (m_tabCtrl != nullptr)
        m_tabCtrl->EnableAllTabs();
}

void CPlayToNetworkDlg::OnLoop()
{
    m_loop = m_ui->loopButton->IsPressed() ? 1 : 0;
    m_engine->SetLoop(m_loop != 0);
}

void CPlayToNetworkDlg::OnSliderReleased()
{
    Jump();
}

void CPlayToNetworkDlg::Jump()
{
    CDVBSlider* slider = m_ui->positionSlider;
    const int position = std::clamp(slider->value(), kSliderMin, kSliderMax);
    slider->setValue(position);
    const auto permille =
        std::clamp(static_cast<std::uint32_t>(position), m_engine->GetRangeStart(), m_engine->GetRangeEnd());
    m_engine->SetPosition(permille);
    m_engine->RequestJump();
}

void CPlayToNetworkDlg::UpdateControls()
{
    const bool stopped = m_playState != kPlayStatePlaying;
    SetPressed(m_ui->playButton, !stopped);
    SetPressed(m_ui->stopButton, stopped);
    for (QWidget* control : std::initializer_list<QWidget*>{m_ui->modeCombo, m_ui->portEdit, m_ui->ipAddress,
                                                            m_ui->openButton, m_ui->ttlSpin, m_ui->interfaceCombo})
        control->setEnabled(stopped);
}

void CPlayToNetworkDlg::EndPlay()
{
    m_playState = kPlayStateStopped;
    UpdateControls();
    m_engine->Stop();
    SetPressed(m_ui->pauseButton, false);
    m_ui->positionSlider->setValue(0);
    if (m_tabCtrl != nullptr)
        m_tabCtrl->EnableAllTabs();
}

void CPlayToNetworkDlg::OnStatusTimer()
{
    CDVBSlider* slider = m_ui->positionSlider;
    // End of play: the reader has finished and the FIFO holds less than a datagram unit.
    if (!m_engine->IsRunning())
    {
        if (m_engine->IsFinished())
            m_engine->ClearFinished();
        if (m_playState == kPlayStatePlaying && m_sender->GetFifoLevel() < kEndOfPlayFifoBytes)
            EndPlay();
    }

    const std::uint32_t now = m_engine->IsPaused() ? m_pauseStartTick : TickCount();
    m_elapsed = (now - m_playStartTick) / 100;
    double fraction = static_cast<double>(slider->value()) / kSliderMax;
    if (m_firstStatusTick)
    {
        m_lastFraction = fraction;
        m_firstStatusTick = false;
    }

    if (m_playState == kPlayStatePlaying && m_elapsed > m_lastShownElapsed)
    {
        m_lastShownElapsed = m_elapsed;
        const std::int64_t rangeLength = m_engine->GetRangeLength();
        // What still waits in the sender's FIFO (up to 30 MiB) has not been
        // played yet: position and loop count follow what has left.
        const auto waiting = static_cast<std::int64_t>(m_sender->GetFifoLevel());
        const std::int64_t played = std::max<std::int64_t>(m_engine->GetPlayedBytes() - waiting, 0);
        if (!slider->IsDragging() && !m_engine->IsJumpRequested() && rangeLength > 0)
        {
            const std::int64_t within = played % rangeLength;
            const auto m = static_cast<int>(within * 1000 / rangeLength);
            const int next = kSliderMin + (kSliderMax - kSliderMin) * m / 1000;
            fraction = static_cast<double>(within) / static_cast<double>(rangeLength);
            const int current = slider->value();
            if (current > kSliderMax - kQuarter && next < kQuarter)
                slider->setValue(next); // the file has looped
            else if (current < kQuarter && next > kSliderMax - kQuarter)
                fraction = m_lastFraction; // a jump backwards over the end is not shown
            else if (next > current)
                slider->setValue(next); // never backwards
        }
        m_ui->elapsedTimeLabel->SetText(FormatDuration(m_elapsed / 10));
        m_ui->loopCountLabel->SetText(QString::number(rangeLength > 0 ? played / rangeLength : 0));

        const std::uint32_t flags =
            m_statusFlagsOverride >= 0 ? static_cast<std::uint32_t>(m_statusFlagsOverride) : m_sender->GetStatusFlags();
        if (flags != m_lastNetworkFlags)
        {
            m_lastNetworkFlags = flags;
            QColor background(0, 255, 0);
            if (flags & CNetworkSender::kStatusUnderflow)
                m_statusText = QString::fromLatin1(kStatusUnderflow);
            else if (flags & CNetworkSender::kStatusBusy)
                m_statusText = QString::fromLatin1(kStatusBusy);
            else if (flags & CNetworkSender::kStatusTimer)
                m_statusText = QString::fromLatin1(kStatusTimer);
            else
                m_statusText = QString::fromLatin1(kStatusNoErrors);
            if (flags & (CNetworkSender::kStatusUnderflow | CNetworkSender::kStatusBusy | CNetworkSender::kStatusTimer))
                background = QColor(255, 0, 0);
            m_ui->statusLabel->SetBkColor(background, background, 0);
            m_ui->statusLabel->SetText(m_statusText);
        }
        m_statusResetPending = 1;
    }
    else if (m_statusResetPending != 0 && m_playState != kPlayStatePlaying)
    {
        m_statusResetPending = 0;
        m_ui->statusLabel->setEnabled(false);
        m_ui->statusLabel->setEnabled(true);
        m_ui->elapsedTimeLabel->SetText(QStringLiteral("0:00:00"));
        m_ui->loopCountLabel->SetText(QStringLiteral("0"));
    }
    m_lastFraction = fraction;

    const auto bitRate = static_cast<std::int64_t>(static_cast<std::uint32_t>(m_bitRate));
    m_filePlayTime = bitRate > 0 ? m_packetCount * m_packetSize * 8000 / bitRate : 2'147'483'647;
    const auto tsSeconds = static_cast<std::uint32_t>(fraction * static_cast<double>(m_filePlayTime) / 1000.0);
    m_ui->tsTimeLabel->SetText(FormatDuration(tsSeconds));

    m_sender->SetRate(static_cast<std::uint32_t>(m_bitRate), static_cast<std::uint32_t>(std::max(m_packetSize, 0)));
}

void CPlayToNetworkDlg::OnTreeTimer()
{
    if (m_engine->IsRunning())
        m_decoder.UpdateDisplay(0, 1);
}

void CPlayToNetworkDlg::OnTotTdt()
{
    UpdateData(true);
    if (m_ui->totTdtCheck->isChecked())
    {
        CTotTdtDlg dlg(m_timeType, m_timeOffset, this);
        dlg.SetFileTime(m_fileTotTdtTime);
        if (dlg.exec() == QDialog::Accepted)
        {
            m_timeOffset = dlg.TimeOffset();
            m_timeType = dlg.TimeType();
            m_totTdt = 1;
        }
        else
        {
            m_totTdt = 0;
        }
    }
    else
    {
        m_totTdt = 0;
    }
    CAnalysisState& state = m_decoder.State();
    state.m_totTdtTimeType.store(m_timeType);
    state.m_totTdtOffset.store(m_timeOffset);
    state.m_totTdtEnable.store(m_totTdt);
    UpdateData(false);
}

void CPlayToNetworkDlg::OnAdaptAll()
{
    // Every adaptation on; TOT/TDT as a tick by hand, through its dialog.
    m_ui->pcrCheck->setChecked(true);
    m_ui->continuityCheck->setChecked(true);
    if (!m_ui->totTdtCheck->isChecked())
    {
        m_ui->totTdtCheck->setChecked(true);
        OnTotTdt();
    }
    UpdateData(true);
    if (m_engine->IsRunning())
        ApplyAdaptions();
}
