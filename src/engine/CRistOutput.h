#pragma once
//! @file CRistOutput.h
//! The paced sender's way out over RIST (librist, simple or main profile):
//! each datagram unit of seven packets leaves as one RIST packet. Pacing stays
//! the sender's; librist adds the retransmissions the receiver asks for.
//!
//! Until the peer has answered once the schedule holds (IsReady false), so
//! that a listener that comes up late gets the stream from where the play
//! stood. librist keeps the link alive by itself after that; a peer that
//! stops answering shows in the status, and what is sent meanwhile is in
//! librist's retransmission buffer for as long as it keeps it.
//!
//! Threads: as IDatagramOutput.

#include "common/CSteadyClock.h"
#include "engine/CRistLink.h"
#include "engine/CRistSettings.h"
#include "engine/IDatagramOutput.h"

#include <atomic>
#include <cstdint>

class CRistOutput final : public IDatagramOutput
{
public:
    //! librist's sender thread takes a written packet within a few
    //! milliseconds; it tells no count of what it still holds, so the output
    //! counts as delivered this long after the last write.
    static constexpr std::int64_t kDeliveredAfterNs = 200'000'000;
    //! Null packets of the datagram that opens a simple-profile flow.
    static constexpr std::uint32_t kNullPackets = 7;
    static constexpr std::uint32_t kPacketBytes = 188;

    explicit CRistOutput(const CRistSettings& settings = CRistSettings());
    ~CRistOutput() override;

    //! Taken by the next Open.
    void SetSettings(const CRistSettings& settings) { m_settings = settings; }
    const CRistSettings& GetSettings() const { return m_settings; }

    bool Open() override;
    std::string GetOpenError() const override { return m_openError.empty() ? m_link.GetError() : m_openError; }
    void Close() override;
    bool IsReady() const override { return m_everConnected.load(std::memory_order_acquire) || m_link.IsConnected(); }
    bool HasRoom() const override { return true; }
    bool Send(const std::uint8_t* data, std::uint32_t length) override;
    void Flush() override {}
    std::int32_t GetPendingSends() const override { return 0; }
    bool IsDelivered() const override;
    std::uint64_t GetDatagramsFailed() const override { return m_failed.load(std::memory_order_relaxed); }
    std::uint64_t GetPayloadBytesFailed() const override { return m_failedBytes.load(std::memory_order_relaxed); }
    int GetLastError() const override { return m_lastError.load(std::memory_order_relaxed); }
    bool HasFailed() const override { return false; }
    TransportStats GetStats() const override { return m_link.GetStats(); }

private:
    CRistSettings m_settings;
    CRistLink m_link;
    std::string m_openError;
    bool m_primed = false; // play-out thread: the simple profile's opening datagram has gone
    mutable std::atomic<bool> m_everConnected{false};
    std::atomic<std::int64_t> m_lastWriteNs{0};
    std::atomic<std::uint64_t> m_failed{0};
    std::atomic<std::uint64_t> m_failedBytes{0};
    std::atomic<int> m_lastError{0};
};
