#pragma once
//! @file CSendPaths.h
//! The protected output stage of the paced sender, used only when SMPTE 2022-1
//! FEC, impairment or more than one destination is on (the plain path sends
//! straight to the sender's socket).
//!
//! Each media datagram the sender takes is built once (RTP header with the
//! sender's sequence number and SSRC), handed to the FEC encoder, and then goes
//! to every output path: path 0 is the sender's own destination and socket,
//! the others are SMPTE 2022-7 copies with the same bytes. Every path has its
//! own column FEC socket (port + 2), row FEC socket (port + 4), its own
//! CImpairment (seeded from the play's seed and the path's index) and its own
//! delay queue for jitter: a delayed datagram leaves at the first burst at or
//! after its due time, and at the end of the stream or a stop everything held
//! leaves (nothing held is lost).
//!
//! Threads: Open and Close by the sender's owner while the play-out thread
//! waits (parameter lock, or joined); Send, Poll and Idle by the play-out
//! thread; GetCounters and GetDatagramsFailed by any thread.

#include "common/CSteadyClock.h"
#include "engine/CFecEncoder.h"
#include "engine/CImpairment.h"
#include "engine/CUdpIOCPSocket.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

class CSendPaths
{
public:
    static constexpr std::size_t kMaxPaths = 4;
    //! Jittered datagrams held per path at most; when full, the earliest leaves early (counted).
    static constexpr std::uint32_t kMaxDelayed = 16'384;

    struct Destination
    {
        std::uint32_t address = 0; //!< host order
        std::uint16_t port = 0;
        bool operator==(const Destination&) const = default;
    };

    struct Settings
    {
        std::vector<Destination> extra; //!< more destinations; the sender's own is path 0
        std::optional<CFecEncoder::Settings> fec;
        CImpairment::Settings impairment;
        std::uint64_t seed = 1;

        //! True when the stage is needed at all.
        bool IsActive() const { return fec.has_value() || impairment.IsActive() || !extra.empty(); }
    };

    struct Counters
    {
        CImpairment::Counters impairment; //!< summed over the paths
        CFecEncoder::Counters fec;
        std::uint64_t delayCut = 0; //!< jittered datagrams sent before their time (delay queue full)
    };

    //! The impairment seed of path @p path: the play's own for path 0, distinct ones for the others.
    static std::uint64_t PathSeed(std::uint64_t seed, std::size_t path);
    //! @p sum += @p c, field by field (maxDelayNs: the larger).
    static void Add(CImpairment::Counters& sum, const CImpairment::Counters& c);

    CSendPaths();
    ~CSendPaths();
    CSendPaths(const CSendPaths&) = delete;
    CSendPaths& operator=(const CSendPaths&) = delete;

    //! Opens the FEC and extra media sockets. @p primary is path 0's media
    //! socket (the sender's, open, to @p address : @p port); multicast hop limit
    //! and interface are taken from it. @p bitRate sizes the delay queues.
    //! @return false (GetError says why) on bad FEC settings or a socket the system refuses.
    bool Open(const Settings& s, CUdpIOCPSocket& primary, std::uint32_t address, std::uint16_t port,
              std::uint32_t bitRate, CSteadyClock::NowFn now = CSteadyClock::Default());
    const std::string& GetError() const { return m_error; }
    //! Sends everything still held now, then closes the stage's own sockets.
    void Close();

    //! One media datagram of @p length payload bytes: built (RTP when @p rtp),
    //! protected, impaired and queued on every path. @return false when it could
    //! not be built (too large, no socket); nothing was sent then.
    bool Send(const std::uint8_t* data, std::uint32_t length, bool rtp, std::uint32_t timestamp);
    //! Once per cycle: delayed datagrams now due leave, the sockets are flushed.
    //! @p endOfStream: nothing more comes; the held FEC and re-ordered datagrams go now.
    void Poll(bool endOfStream);
    //! True when nothing is held (delay queues and the stage's sockets empty).
    bool Idle() const;

    Counters GetCounters() const;
    //! Datagrams the kernel refused on the stage's own sockets (FEC, extra paths) since Open.
    std::uint64_t GetDatagramsFailed() const;
    //! errno of the last of those; 0 when none.
    int GetLastError() const;
    std::size_t PathCount() const { return m_paths.size(); }

private:
    enum Target : std::uint8_t
    {
        kMedia,
        kColumn,
        kRow,
        kTargets
    };

    struct Delayed
    {
        std::int64_t due = 0;
        std::uint64_t order = 0; // keeps datagrams due together in their order
        std::uint32_t slot = 0;
        std::uint32_t bytes = 0;
        Target target = kMedia;
    };

    struct Path
    {
        CUdpIOCPSocket* socket[kTargets] = {};
        std::unique_ptr<CUdpIOCPSocket> own[kTargets];
        std::unique_ptr<CImpairment> impairment;
        std::vector<Delayed> heap; // earliest due first
        std::vector<std::uint32_t> freeSlots;
        std::vector<std::uint8_t> storage;
        std::uint64_t order = 0;
    };

    void Emit(Path& p, std::span<const std::uint8_t> datagram, Target target);
    void Out(Path& p, std::span<const std::uint8_t> datagram, Target target, std::int64_t delayNs);
    void Transmit(Path& p, std::span<const std::uint8_t> datagram, Target target);
    void ReleaseDue(Path& p, std::int64_t now);
    void ReleaseFirst(Path& p);
    void FlushSockets();
    void Publish();
    Target Classify(std::span<const std::uint8_t> datagram) const;

    std::vector<Path> m_paths;
    CUdpIOCPSocket* m_primary = nullptr;
    std::unique_ptr<CFecEncoder> m_fec;
    CSteadyClock::NowFn m_now = CSteadyClock::Default();
    std::vector<std::uint8_t> m_built;
    std::uint32_t m_delaySlots = 0;
    bool m_finished = false;
    std::uint64_t m_delayCut = 0;
    std::string m_error;
    mutable std::mutex m_countersLock;
    Counters m_published;
};
