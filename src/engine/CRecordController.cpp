#include "engine/CRecordController.h"

#include "engine/CDvbIpRecvThread.h"
#include "engine/CRecordThread.h"

#include <algorithm>
#include <cstdio>

CRecordController::CRecordController(CRecordThread& recorder, CDvbIpRecvThread& receiver)
    : m_recorder(recorder), m_receiver(receiver)
{
}

void CRecordController::SetSettings(const Settings& settings)
{
    m_settings = settings;
    m_settings.loopCount = ClampLoopCount(settings.loopCount);
}

std::int32_t CRecordController::ClampLoopCount(std::int32_t count)
{
    return std::clamp(count, kMinLoopCount, kMaxLoopCount);
}

std::int32_t CRecordController::NextIndex(std::int32_t index, std::int32_t loopCount)
{
    const std::int32_t next = index + 1;
    return next >= ClampLoopCount(loopCount) ? 0 : next;
}

bool CRecordController::StartMonitor()
{
    if (m_recorder.GetState() != CRecordThread::kStopped)
        return m_recorder.GetState() == CRecordThread::kMonitoring;
    return m_recorder.Start(m_settings.outputFile);
}

bool CRecordController::StartRecord(std::uint32_t nowMs)
{
    m_fileIndex = 0;
    m_startTick = nowMs;
    m_lastTenths = 0;
    m_progress = 0;
    if (m_recorder.GetState() == CRecordThread::kMonitoring)
        m_recorder.StopMonitoring();
    return m_recorder.Open(m_settings.loopEnabled ? m_fileIndex : -1, m_settings.outputFile);
}

void CRecordController::Stop()
{
    m_recorder.Close();
    m_progress = 0;
}

CRecordController::Event CRecordController::Tick(std::uint32_t nowMs)
{
    if (m_recorder.HasFailed() && m_recorder.GetState() != CRecordThread::kStopped)
    {
        Stop();
        return Event::Failed;
    }
    if (!m_recorder.IsFileOpen() || m_recorder.IsRotationPending())
        return Event::None;
    const std::uint32_t tenths = (nowMs - m_startTick) / 100; // unsigned: the tick's wrap does not matter
    if (tenths <= m_lastTenths)
        return Event::None;
    m_lastTenths = tenths;
    if (!m_settings.limitEnabled)
        return Event::None;

    const std::int64_t size = m_settings.recordingSize == 0 ? 1 : m_settings.recordingSize;
    bool reached = false;
    if (m_settings.sizeUnit == kSeconds)
    {
        m_progress = static_cast<std::int64_t>(tenths) * 10 / size;
        reached = static_cast<std::int64_t>(tenths) > size * 10;
    }
    else if (m_settings.sizeUnit == kMegabytes)
    {
        const std::int64_t limit = size * static_cast<std::int64_t>(kBytesPerMegabyte);
        const auto written = static_cast<std::int64_t>(m_recorder.GetBytesWritten());
        m_progress = written * 100 / limit;
        reached = written > limit;
    }
    if (!reached)
        return Event::None;

    if (!m_settings.loopEnabled)
    {
        Stop();
        return Event::LimitStopped;
    }
    m_fileIndex = NextIndex(m_fileIndex, m_settings.loopCount);
    m_startTick = nowMs;
    m_lastTenths = 0;
    m_progress = 0;
    if (!m_recorder.RotateTo(m_fileIndex, m_settings.outputFile))
    {
        Stop();
        return Event::Failed;
    }
    return Event::Rotated;
}

std::string CRecordController::StatusText(std::uint32_t status, const std::string& previous)
{
    if ((status & CDvbIpRecvThread::kStatusNoData) != 0)
        return kNoDataText;
    if ((status & CDvbIpRecvThread::kStatusOverflow) != 0)
        return kOverflowText;
    // At low rates the ring rarely holds a whole block, so the short-read bit
    // stays set: it must not hold a warning whose cause has gone.
    if ((status & CDvbIpRecvThread::kStatusShortRead) != 0 && !IsWarning(previous))
        return previous;
    return kNoErrorsText;
}

bool CRecordController::IsWarning(const std::string& text)
{
    return text == kNoDataText || text == kOverflowText;
}

std::string CRecordController::FormatElapsed(std::uint32_t seconds)
{
    char text[32];
    std::snprintf(text, sizeof text, "%d:%02d:%02d", static_cast<int>(seconds / 3600),
                  static_cast<int>(seconds % 3600 / 60), static_cast<int>(seconds % 60));
    return text;
}
