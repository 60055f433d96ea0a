#pragma once
//! @file CRistLink.h
//! One RIST context of librist (a sender or a receiver with one peer) kept for
//! a whole run. librist runs the protocol on threads of its own: it connects,
//! keeps the link alive, asks for and sends retransmissions, and after a
//! break takes the peer back by itself, so the run never ends for a broken
//! link. This class holds the context, turns librist's connection events and
//! statistics into TransportStats (cumulative over the run) and keeps the
//! last error librist logged, in its own words, for the status line.
//!
//! librist's header stays out of this one.
//! Threads: Start, Stop and Context on the owner's (and, for the data calls,
//! the user's) thread; librist's callbacks on its threads; the getters from any thread.

#include "engine/CRistSettings.h"
#include "engine/TransportStats.h"

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

struct rist_ctx;
struct rist_logging_settings;

class CRistLink
{
public:
    enum class Direction : std::uint8_t
    {
        Send,
        Receive,
    };

    static constexpr int kStatsIntervalMs = 250;
    //! Datagrams librist's receiver keeps for the reader (a power of two): a
    //! second of 7-packet datagrams at 80 Mbit/s.
    static constexpr std::uint32_t kReceiveFifo = 65'536;

    CRistLink();
    ~CRistLink();
    CRistLink(const CRistLink&) = delete;
    CRistLink& operator=(const CRistLink&) = delete;

    //! Creates the context and its peer and starts librist. @return false when
    //! librist refuses (a listener's port in use, an address it cannot use);
    //! GetError says why and nothing runs.
    bool Start(const CRistSettings& settings, Direction direction);
    //! Stops librist and frees the context. Harmless when not started.
    void Stop();

    //! The running context (null when not started), for the data calls.
    rist_ctx* Context() const { return m_ctx; }
    //! librist has a peer that answers.
    bool IsConnected() const { return m_connected.load(std::memory_order_acquire); }
    //! The last error librist logged (or Start's reason); empty: none.
    std::string GetError() const;
    TransportStats GetStats() const;

private:
    struct Callbacks; // librist's callbacks, with librist's own types
    friend struct Callbacks;
    void SetError(std::string text);

    Direction m_direction = Direction::Send;
    rist_ctx* m_ctx = nullptr;
    rist_logging_settings* m_logging = nullptr;
    std::atomic<bool> m_connected{false};
    mutable std::mutex m_lock;
    TransportStats m_stats; // under m_lock
    std::string m_error;    // under m_lock
};
