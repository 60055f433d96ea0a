#pragma once
//! @file CSrtLink.h
//! One SRT connection in live mode (libsrt), kept up for a whole run: a
//! caller (or rendezvous) connects and, when the link breaks or the attempt
//! fails, tries again every second; a listener takes its port at Start and
//! accepts its peer again after a break. A refusal that retrying cannot cure
//! (wrong passphrase, a stream id the peer rejects, an incompatible peer)
//! ends the link with HasFailed() and the reason in words.
//!
//! The link thread connects, then hands the connected socket to the serve
//! function (the input's receive loop; for sending, a watch for the break)
//! until it breaks. The sending side uses the socket under SocketLock() from
//! its own thread. Statistics (srt_bstats) are kept cumulative over the
//! connections; datagrams still unacknowledged in the send buffer when a link
//! breaks, and those SRT dropped as too late to send, count as lost.
//!
//! Sockets are libsrt's integer handles; its header stays out of this one.
//! Threads: Start, Stop on the owner's thread; the serve function on the link
//! thread; GetStats, GetError and the flags from any thread.

#include "common/CThread.h"
#include "engine/CSrtSettings.h"
#include "engine/TransportStats.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

struct sockaddr;

class CSrtLink
{
public:
    enum class Direction : std::uint8_t
    {
        Send,
        Receive,
    };
    //! Runs on the link thread while a connection is up; returns when the
    //! connection broke (after NoteBroken) or @p stop is set.
    using ServeFn = std::function<void(int socket, const std::atomic<bool>& stop)>;

    static constexpr std::int64_t kRetryMs = 1'000; //!< a caller's pause between two attempts
    static constexpr std::int64_t kPollMs = 100;    //!< longest wait before the stop flag is seen
    static constexpr std::int64_t kStatsMs = 250;   //!< statistics refresh while connected
    static constexpr int kPayloadBytes = 1'456;     //!< largest live-mode message: seven 204-byte packets fit
    static constexpr int kInvalidSocket = -1;
    //! A listener's bind is tried this often, kPollMs apart, while a link of this program still holds the port.
    static constexpr int kBindAttempts = 25;

    CSrtLink();
    ~CSrtLink();
    CSrtLink(const CSrtLink&) = delete;
    CSrtLink& operator=(const CSrtLink&) = delete;

    //! Starts the link: a listener binds and listens now, then the link thread
    //! connects and runs @p serve for each connection. The send direction
    //! needs no serve function (null: the link watches for the break).
    //! @return false when the listener's port cannot be had or a thread of an
    //! earlier run has not ended; GetError says why.
    bool Start(const CSrtSettings& settings, Direction direction, ServeFn serve);
    //! Ends the link thread (waiting up to @p timeout) and closes the sockets.
    //! @return true when the thread has ended (also when none ran).
    bool Stop(std::chrono::milliseconds timeout);

    bool IsConnected() const { return m_connected.load(std::memory_order_acquire); }
    bool HasFailed() const { return m_failed.load(std::memory_order_acquire); }
    //! Why the last attempt failed or the last connection broke; empty: none.
    std::string GetError() const;
    TransportStats GetStats() const;
    const CSrtSettings& Settings() const { return m_settings; }

    //! The sending side holds this lock while it uses Socket().
    std::mutex& SocketLock() { return m_socketLock; }
    //! The connected socket, kInvalidSocket while there is none (under SocketLock).
    int Socket() const { return m_socket; }
    //! A send or receive call saw the connection fail (any thread).
    void NoteBroken() { m_brokenSeen.store(true, std::memory_order_release); }
    //! Refreshes the statistics of @p socket (serve function, every kStatsMs).
    void RefreshStats(int socket);

    //! Datagrams (and bytes) the sending side lost in the transport: too late
    //! to send, or unacknowledged when a link broke.
    std::uint64_t GetLostDatagrams() const { return m_lostDatagrams.load(std::memory_order_relaxed); }
    std::uint64_t GetLostBytes() const { return m_lostBytes.load(std::memory_order_relaxed); }
    //! errno naming the last loss: ECONNRESET (a broken link) or ETIME (too late); 0 none.
    int GetLossError() const { return m_lossError.load(std::memory_order_relaxed); }

    //! The reason of a refused connection in words (srt_getrejectreason's
    //! code), naming the stream id when the peer rejected it.
    static std::string RejectText(int reason, const std::string& streamId);
    //! True when retrying cannot cure a refusal for @p reason.
    static bool IsFatal(int reason);

private:
    //! One connection attempt (caller, rendezvous) or accept (listener).
    //! @return the connected socket, or kInvalidSocket (error set, m_failed on a fatal refusal).
    int Connect();
    int Accept();
    //! A socket with the settings' options; kInvalidSocket with the error set.
    int MakeSocket();
    void Run();
    void WatchSend(int socket, const std::atomic<bool>& stop);
    //! The connection has ended: accounts its statistics and its losses, closes it.
    void EndConnection(int socket);
    void SetError(std::string text);
    void SetState(TransportStats::State state);
    //! Sleeps up to @p ms in kPollMs steps; false when stopped meanwhile.
    bool Pause(std::int64_t ms);
    static int OnListen(void* opaque, int socket, int version, const sockaddr* peer, const char* streamId);

    CSrtSettings m_settings;
    Direction m_direction = Direction::Send;
    ServeFn m_serve;
    CThread m_thread;
    bool m_threadEnded = true; // owner's thread
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_connected{false};
    std::atomic<bool> m_failed{false};
    std::atomic<bool> m_brokenSeen{false};
    int m_listener = kInvalidSocket; // owner's thread at Start/Stop, link thread between
    std::string m_acceptedPeer;      // link thread: the address the last accept gave
    std::mutex m_socketLock;
    int m_socket = kInvalidSocket; // under m_socketLock
    std::atomic<std::uint64_t> m_lostDatagrams{0};
    std::atomic<std::uint64_t> m_lostBytes{0};
    std::atomic<int> m_lossError{0};

    mutable std::mutex m_statsLock;
    TransportStats
        m_stats; // guarded by m_statsLock: state, peer, error, connections and the closed connections' counts
    TransportStats m_current;         // guarded by m_statsLock: the current connection's figures
    std::uint64_t m_lostAtBreaks = 0; // link thread: unacknowledged datagrams of broken links
    std::uint64_t m_lostBytesAtBreaks = 0;
    std::uint64_t m_sendDropBase = 0; // link thread: sender drops of the closed connections
    std::uint64_t m_sendDropBytesBase = 0;
};
