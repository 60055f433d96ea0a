#include "engine/CSrtOutput.h"

#include "common/CSteadyClock.h"

#include <srt/srt.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

CSrtOutput::CSrtOutput(const CSrtSettings& settings)
    : m_settings(settings), m_slots(std::size_t{kQueueSlots} * kSlotBytes), m_lengths(kQueueSlots)
{
}

CSrtOutput::~CSrtOutput()
{
    Close();
}

bool CSrtOutput::Open()
{
    m_first = m_count = 0;
    return m_link.Start(m_settings, CSrtLink::Direction::Send, nullptr);
}

void CSrtOutput::Close()
{
    // The link thread ends within a poll step; the loop only guards a stalled library.
    while (!m_link.Stop(std::chrono::milliseconds(2'000)))
    {
    }
    m_first = m_count = 0;
}

int CSrtOutput::GetLastError() const
{
    const int linkError = m_link.GetLossError();
    return linkError != 0 ? linkError : m_lastError.load(std::memory_order_relaxed);
}

CSrtOutput::Result CSrtOutput::SendNow(const std::uint8_t* data, std::uint32_t length)
{
    std::lock_guard lock(m_link.SocketLock());
    const int socket = m_link.Socket();
    if (socket == CSrtLink::kInvalidSocket)
        return Result::Later;
    if (srt_sendmsg2(socket, reinterpret_cast<const char*>(data), static_cast<int>(length), nullptr) != SRT_ERROR)
    {
        m_lastSendNs = CSteadyClock::NowNs();
        return Result::Sent;
    }
    const int code = srt_getlasterror(nullptr);
    if (code == SRT_EASYNCSND)
        return Result::Later;
    if (code == SRT_ELARGEMSG)
    {
        m_failed.fetch_add(1, std::memory_order_relaxed);
        m_failedBytes.fetch_add(length, std::memory_order_relaxed);
        m_lastError.store(EMSGSIZE, std::memory_order_relaxed);
        return Result::Lost;
    }
    // The connection failed under us: the datagram waits for the next one.
    m_link.NoteBroken();
    return Result::Later;
}

bool CSrtOutput::Send(const std::uint8_t* data, std::uint32_t length)
{
    if (length > kSlotBytes || !HasRoom())
        return false;
    if (m_count == 0 && SendNow(data, length) != Result::Later)
        return true;
    const std::uint32_t slot = (m_first + m_count) % kQueueSlots;
    std::memcpy(m_slots.data() + std::size_t{slot} * kSlotBytes, data, length);
    m_lengths[slot] = length;
    ++m_count;
    return true;
}

void CSrtOutput::Flush()
{
    while (m_count > 0)
    {
        if (SendNow(m_slots.data() + std::size_t{m_first} * kSlotBytes, m_lengths[m_first]) == Result::Later)
            return;
        m_first = (m_first + 1) % kQueueSlots;
        --m_count;
    }
}

bool CSrtOutput::IsDelivered() const
{
    if (m_count != 0)
        return false;
    // The peer plays the last message out one latency after it was sent.
    const std::int64_t latencyMs = std::max(m_settings.latencyMs, m_link.GetStats().latencyMs);
    if (CSteadyClock::NowNs() - m_lastSendNs < (latencyMs + kCloseMarginMs) * 1'000'000)
        return false;
    std::lock_guard lock(m_link.SocketLock());
    const int socket = m_link.Socket();
    if (socket == CSrtLink::kInvalidSocket)
        return false;
    std::size_t blocks = 0;
    std::size_t bytes = 0;
    return srt_getsndbuffer(socket, &blocks, &bytes) != SRT_ERROR && blocks == 0;
}
