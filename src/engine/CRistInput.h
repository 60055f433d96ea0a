#pragma once
//! @file CRistInput.h
//! The network receiver's way in over RIST (librist, simple or main
//! profile): every RIST packet is one datagram of the stream, read on a
//! thread of this input straight into the receiver's records. librist puts
//! the packets back in order and asks for the missing ones; a packet it gives
//! up (not recovered within its buffer) leaves a gap in the RTP sequence
//! numbers it hands over, which is reported to the receiver as lost.
//!
//! Threads: as IDatagramInput; the sink is called on the input's thread.

#include "common/CThread.h"
#include "engine/CRistLink.h"
#include "engine/CRistSettings.h"
#include "engine/IDatagramInput.h"

#include <atomic>

class CRistInput final : public IDatagramInput
{
public:
    static constexpr int kReadTimeoutMs = 100; //!< longest wait before the stop flag is seen

    explicit CRistInput(const CRistSettings& settings = CRistSettings());
    ~CRistInput() override;

    //! Taken by the next Open.
    void SetSettings(const CRistSettings& settings) { m_settings = settings; }
    const CRistSettings& GetSettings() const { return m_settings; }

    bool Open(Sink sink) override;
    bool Close(std::chrono::milliseconds timeout) override;
    std::string LastError() const override { return m_link.GetError(); }
    bool HasFailed() const override { return false; }
    TransportStats GetStats() const override { return m_link.GetStats(); }
    bool IsConnected() const { return m_link.IsConnected(); }
    //! Packets given up by librist since Open (gaps in the sequence numbers).
    std::uint64_t GetLostDatagrams() const { return m_lost.load(std::memory_order_relaxed); }

private:
    void Run();

    CRistSettings m_settings;
    Sink m_sink;
    CRistLink m_link;
    CThread m_thread;
    bool m_threadEnded = true; // owner's thread
    std::atomic<bool> m_stop{false};
    std::atomic<std::uint64_t> m_lost{0};
};
