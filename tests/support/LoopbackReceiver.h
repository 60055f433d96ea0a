#pragma once
//! @file LoopbackReceiver.h
//! A UDP receiver on 127.0.0.1: collects every datagram on its own thread so
//! that tests can check what a sender put on the wire.

#include "common/CThread.h"
#include "common/CUniqueFd.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <vector>

namespace tstest
{
class LoopbackReceiver
{
public:
    //! Binds @p port of 127.0.0.1 (0: one the system picks); throws when it is taken.
    explicit LoopbackReceiver(std::uint16_t port = 0);
    ~LoopbackReceiver();

    std::uint16_t Port() const { return m_port; }
    std::vector<std::vector<std::uint8_t>> Datagrams();
    std::size_t Count();
    std::uint64_t Bytes();
    //! All payload bytes received so far, in arrival order.
    std::vector<std::uint8_t> Payload();
    //! The packet classes (see tstest::Classify) of everything received.
    std::vector<std::int64_t> Packets();
    //! Waits until at least @p bytes have arrived; false on time-out.
    bool WaitForBytes(std::uint64_t bytes, std::chrono::milliseconds timeout);
    //! Waits until nothing arrived for @p quiet (bounded by @p timeout).
    void WaitQuiet(std::chrono::milliseconds quiet = std::chrono::milliseconds(100),
                   std::chrono::milliseconds timeout = std::chrono::seconds(5));

private:
    void Run();

    CUniqueFd m_fd;
    std::uint16_t m_port = 0;
    CThread m_thread;
    std::atomic<bool> m_stop{false};
    std::mutex m_lock;
    std::vector<std::vector<std::uint8_t>> m_datagrams;
    std::uint64_t m_bytes = 0;
};
} // namespace tstest
