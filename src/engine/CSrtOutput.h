#pragma once
//! @file CSrtOutput.h
//! The paced sender's way out over SRT (live mode): each datagram unit of
//! seven packets leaves as one SRT message through a CSrtLink that connects
//! (caller, rendezvous) or listens, and reconnects after a break without
//! ending the play.
//!
//! srt_sendmsg never blocks the play-out thread: a datagram that SRT's send
//! buffer cannot take now waits in a queue of kQueueSlots and goes first at
//! the next Flush (GetPendingSends shows the backlog, the busy measure). The
//! queue keeps its datagrams over a break; SRT's unacknowledged ones count as
//! lost (CSrtLink).
//!
//! Threads: as IDatagramOutput.

#include "engine/CSrtLink.h"
#include "engine/CSrtSettings.h"
#include "engine/IDatagramOutput.h"

#include <atomic>
#include <cstdint>
#include <vector>

class CSrtOutput final : public IDatagramOutput
{
public:
    static constexpr std::uint32_t kQueueSlots = 1'024;
    static constexpr std::uint32_t kSlotBytes = 1'536;
    //! After the last acknowledgement the peer still holds the stream for its
    //! latency before it plays it out; closing earlier would cut that tail.
    static constexpr std::int64_t kCloseMarginMs = 100;

    explicit CSrtOutput(const CSrtSettings& settings = CSrtSettings());
    ~CSrtOutput() override;

    //! Taken by the next Open.
    void SetSettings(const CSrtSettings& settings) { m_settings = settings; }
    const CSrtSettings& GetSettings() const { return m_settings; }

    bool Open() override;
    std::string GetOpenError() const override { return m_link.GetError(); }
    void Close() override;
    bool IsReady() const override { return m_link.IsConnected(); }
    bool HasRoom() const override { return m_count < kQueueSlots; }
    bool Send(const std::uint8_t* data, std::uint32_t length) override;
    void Flush() override;
    std::int32_t GetPendingSends() const override { return static_cast<std::int32_t>(m_count); }
    bool IsDelivered() const override;
    std::uint64_t GetDatagramsFailed() const override
    {
        return m_failed.load(std::memory_order_relaxed) + m_link.GetLostDatagrams();
    }
    std::uint64_t GetPayloadBytesFailed() const override
    {
        return m_failedBytes.load(std::memory_order_relaxed) + m_link.GetLostBytes();
    }
    int GetLastError() const override;
    bool HasFailed() const override { return m_link.HasFailed(); }
    TransportStats GetStats() const override { return m_link.GetStats(); }
    //! Why the link last failed or broke (also while it retries).
    std::string GetLinkError() const { return m_link.GetError(); }

private:
    enum class Result : std::uint8_t
    {
        Sent,
        Later, //!< no room in SRT's buffer or no connection: keep it
        Lost,  //!< refused for good (too large): counted
    };
    Result SendNow(const std::uint8_t* data, std::uint32_t length);

    CSrtSettings m_settings;
    mutable CSrtLink m_link;
    // The queue: one block of slots; [m_first, m_first + m_count) wait. Play-out thread only.
    std::vector<std::uint8_t> m_slots;
    std::vector<std::uint32_t> m_lengths;
    std::uint32_t m_first = 0;
    std::uint32_t m_count = 0;
    std::atomic<std::uint64_t> m_failed{0};
    std::atomic<std::uint64_t> m_failedBytes{0};
    std::atomic<int> m_lastError{0};
    std::int64_t m_lastSendNs = 0; // play-out thread: steady clock of the last message SRT took
};
