#pragma once
//! @file CSrtInput.h
//! The network receiver's way in over SRT (live mode): every SRT message is
//! one datagram of the stream, read on the link thread straight into the
//! receiver's records. SRT delivers in order at the sender's pace plus its
//! latency; a packet it gives up (too late: TLPKTDROP) leaves a gap in the
//! packet sequence numbers, which is reported to the receiver as lost. After
//! a break the caller connects again (every second), the listener accepts
//! again, and the stream goes on in the same recording.
//!
//! Threads: as IDatagramInput; the sink is called on the link thread.

#include "engine/CSrtLink.h"
#include "engine/CSrtSettings.h"
#include "engine/IDatagramInput.h"

#include <atomic>

class CSrtInput final : public IDatagramInput
{
public:
    explicit CSrtInput(const CSrtSettings& settings = CSrtSettings());
    ~CSrtInput() override;

    //! Taken by the next Open.
    void SetSettings(const CSrtSettings& settings) { m_settings = settings; }
    const CSrtSettings& GetSettings() const { return m_settings; }

    bool Open(Sink sink) override;
    bool Close(std::chrono::milliseconds timeout) override;
    std::string LastError() const override { return m_link.GetError(); }
    bool HasFailed() const override { return m_link.HasFailed(); }
    TransportStats GetStats() const override { return m_link.GetStats(); }
    bool IsConnected() const { return m_link.IsConnected(); }
    //! Messages given up by SRT since Open (gaps in the packet sequence).
    std::uint64_t GetLostDatagrams() const { return m_lost.load(std::memory_order_relaxed); }

private:
    void Serve(int socket, const std::atomic<bool>& stop);

    CSrtSettings m_settings;
    Sink m_sink;
    CSrtLink m_link;
    DvbIpRecvBuffer* m_held = nullptr; // link thread: a record taken and not yet filled
    std::atomic<std::uint64_t> m_lost{0};
};
