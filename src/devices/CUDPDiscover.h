#pragma once
//! @file CUDPDiscover.h
//! Finds the maker's devices on the LAN: SendDiscoverPacket sends one discovery
//! request; a receive thread of its own collects the announcements into a device
//! list that readers take as a locked snapshot.
//!
//! Ready to send after construction. The list keeps at most kMaxDevices devices,
//! in the order they were first heard; a device that has not answered for
//! kExpiry is dropped. Whatever arrives that is not a well-formed announcement
//! from the address it names is ignored and counted, so a flood of datagrams
//! costs neither memory nor the list's integrity.
//!
//! Threads: SendDiscoverPacket, SetTargets and the readers may be called from
//! any thread (the window thread in practice); the receive thread is joined by
//! the destructor.

#include "common/CSteadyClock.h"
#include "common/CThread.h"
#include "common/CUniqueFd.h"
#include "devices/CDiscoverProtocol.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <vector>

class CUDPDiscover
{
public:
    static constexpr std::size_t kMaxDevices = 1024;
    static constexpr auto kExpiry = std::chrono::seconds(15);
    static constexpr auto kPollInterval = std::chrono::milliseconds(100); // stop latency of the thread
    static constexpr int kMaxDatagramsPerWake = 256;                      // keeps a flood from starving expiry and stop

    //! Counters of what the receive thread saw; read from any thread.
    struct Counters
    {
        std::uint64_t requestsSent = 0;
        std::uint64_t sendErrors = 0;
        std::uint64_t announcements = 0; //!< accepted into the list (new or refreshed)
        std::uint64_t ignoredShort = 0;  //!< truncated messages
        std::uint64_t ignoredOversized = 0;
        std::uint64_t ignoredForeign = 0;  //!< not ours, wrong version or type
        std::uint64_t ignoredAddress = 0;  //!< record address unusable or not the sender's
        std::uint64_t droppedListFull = 0; //!< new devices refused because kMaxDevices are listed
        std::uint64_t expired = 0;         //!< devices dropped after kExpiry of silence
    };

    //! Opens the socket (any local address, an ephemeral port, broadcast allowed)
    //! and starts the receive thread. IsReady() says whether that worked.
    CUDPDiscover();
    //! Binds to @p localAddress (most significant first) instead: tests use 127.0.0.1.
    explicit CUDPDiscover(std::uint32_t localAddress, CSteadyClock::NowFn now = CSteadyClock::Default());
    ~CUDPDiscover();
    CUDPDiscover(const CUDPDiscover&) = delete;
    CUDPDiscover& operator=(const CUDPDiscover&) = delete;

    bool IsReady() const { return m_socket.Valid() && m_thread.IsStarted(); }
    //! The local port replies come back to (0 when not ready).
    std::uint16_t GetLocalPort() const { return m_localPort; }

    //! Where requests go: by default 255.255.255.255 on port 8947. Addresses are
    //! most significant first; an empty list means the default.
    void SetTargets(const std::vector<std::uint32_t>& addresses, std::uint16_t port = CDiscoverProtocol::kPort);
    std::vector<std::uint32_t> GetTargets() const;

    //! Sends one discovery request to every target and returns at once.
    //! @return false when a send failed (counted; the next round tries again).
    bool SendDiscoverPacket();

    //! A copy of the device list, first-heard first, without the expired devices.
    std::vector<DeviceRecord> GetDevices() const;
    Counters GetCounters() const;

private:
    struct Device
    {
        DeviceRecord record;
        std::int64_t lastSeenNs;
    };

    void Open(std::uint32_t localAddress);
    void ReceiveThread();
    void Accept(const DeviceRecord& record, std::uint32_t sourceAddress);
    void Expire(std::int64_t nowNs);

    CUniqueFd m_socket;
    std::uint16_t m_localPort = 0;
    CSteadyClock::NowFn m_now;

    mutable std::mutex m_targetLock;
    std::vector<std::uint32_t> m_targets;
    std::uint16_t m_targetPort = CDiscoverProtocol::kPort;

    mutable std::mutex m_listLock;
    std::vector<Device> m_devices; // reserved to kMaxDevices once: never grows past it

    std::atomic<std::uint64_t> m_requestsSent{0};
    std::atomic<std::uint64_t> m_sendErrors{0};
    std::atomic<std::uint64_t> m_announcements{0};
    std::atomic<std::uint64_t> m_ignoredShort{0};
    std::atomic<std::uint64_t> m_ignoredOversized{0};
    std::atomic<std::uint64_t> m_ignoredForeign{0};
    std::atomic<std::uint64_t> m_ignoredAddress{0};
    std::atomic<std::uint64_t> m_droppedListFull{0};
    std::atomic<std::uint64_t> m_expired{0};

    std::atomic<bool> m_stop{false};
    CThread m_thread;
};
