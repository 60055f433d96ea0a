#include "engine/CSrtLink.h"

#include "common/CSteadyClock.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <srt/access_control.h>
#include <srt/srt.h>
#include <sys/socket.h>
#include <syslog.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <thread>

namespace
{
template<typename T> bool SetFlag(int socket, SRT_SOCKOPT option, T value)
{
    return srt_setsockflag(socket, option, &value, sizeof value) != SRT_ERROR;
}

std::string FormatAddress(const sockaddr* address, socklen_t length)
{
    char host[NI_MAXHOST] = "";
    char port[NI_MAXSERV] = "";
    if (getnameinfo(address, length, host, sizeof host, port, sizeof port, NI_NUMERICHOST | NI_NUMERICSERV) != 0)
        return "?";
    return address->sa_family == AF_INET6 ? "[" + std::string(host) + "]:" + port : std::string(host) + ":" + port;
}

std::string Endpoint(const CSrtSettings& s)
{
    const bool v6 = s.host.find(':') != std::string::npos;
    return (v6 ? "[" + s.host + "]" : s.host) + ":" + std::to_string(s.port);
}

//! libsrt's last error in its words, with the system's where it has one.
std::string LastSrtError()
{
    int system = 0;
    srt_getlasterror(&system);
    std::string text = srt_getlasterror_str();
    if (system != 0 && text.find(std::strerror(system)) == std::string::npos)
        text += std::string(" (") + std::strerror(system) + ")";
    return text;
}
} // namespace

CSrtLink::CSrtLink()
{
    srt_startup();
    // Our messages name the causes; libsrt's own log lines would only repeat them on stderr.
    srt_setloglevel(LOG_CRIT);
}

CSrtLink::~CSrtLink()
{
    while (!Stop(std::chrono::milliseconds(2'000)))
        std::fprintf(stderr, "orvane: SRT link thread slow to stop\n");
    srt_cleanup();
}

std::string CSrtLink::GetError() const
{
    std::lock_guard lock(m_statsLock);
    return m_stats.lastError;
}

void CSrtLink::SetError(std::string text)
{
    std::lock_guard lock(m_statsLock);
    m_stats.lastError = std::move(text);
}

void CSrtLink::SetState(TransportStats::State state)
{
    std::lock_guard lock(m_statsLock);
    m_stats.state = state;
}

TransportStats CSrtLink::GetStats() const
{
    std::lock_guard lock(m_statsLock);
    TransportStats s = m_stats;
    const TransportStats& c = m_current;
    s.rttMs = c.rttMs;
    s.sendRateMbps = c.sendRateMbps;
    s.receiveRateMbps = c.receiveRateMbps;
    s.bufferMs = c.bufferMs;
    s.sendBufferBytes = c.sendBufferBytes;
    if (c.latencyMs != 0)
        s.latencyMs = c.latencyMs;
    s.packetsSent += c.packetsSent;
    s.packetsReceived += c.packetsReceived;
    s.retransmitted += c.retransmitted;
    s.lost += c.lost;
    s.dropped += c.dropped;
    s.reconnects = s.connections > 0 ? s.connections - 1 : 0;
    return s;
}

bool CSrtLink::Start(const CSrtSettings& settings, Direction direction, ServeFn serve)
{
    if (!Stop(std::chrono::milliseconds(0)))
    {
        SetError("the previous SRT link has not ended yet");
        return false;
    }
    m_settings = settings;
    m_direction = direction;
    m_serve = std::move(serve);
    m_stop.store(false);
    m_failed.store(false);
    m_connected.store(false);
    m_brokenSeen.store(false);
    m_lostDatagrams.store(0);
    m_lostBytes.store(0);
    m_lossError.store(0);
    m_lostAtBreaks = m_lostBytesAtBreaks = m_sendDropBase = m_sendDropBytesBase = 0;
    {
        std::lock_guard lock(m_statsLock);
        m_stats = TransportStats();
        m_stats.valid = true;
        m_stats.transport = "srt";
        m_stats.latencyMs = settings.latencyMs;
        m_current = TransportStats();
    }
    if (settings.mode == CSrtSettings::Mode::Listener)
    {
        const int listener = MakeSocket();
        if (listener == kInvalidSocket)
            return false;
        sockaddr_storage local{};
        socklen_t length = 0;
        if (settings.host.empty())
        {
            auto* in = reinterpret_cast<sockaddr_in*>(&local);
            in->sin_family = AF_INET;
            in->sin_port = htons(settings.port);
            in->sin_addr.s_addr = htonl(INADDR_ANY);
            length = sizeof(sockaddr_in);
        }
        else
        {
            addrinfo hints{};
            hints.ai_family = AF_UNSPEC;
            hints.ai_socktype = SOCK_DGRAM;
            hints.ai_flags = AI_NUMERICHOST | AI_PASSIVE;
            addrinfo* found = nullptr;
            if (getaddrinfo(settings.host.c_str(), std::to_string(settings.port).c_str(), &hints, &found) != 0 ||
                found == nullptr)
            {
                srt_close(listener);
                SetError("SRT listener: \"" + settings.host + "\" is no local address");
                return false;
            }
            std::memcpy(&local, found->ai_addr, found->ai_addrlen);
            length = found->ai_addrlen;
            freeaddrinfo(found);
        }
        // libsrt closes its sockets lazily: a link of this program that has just
        // ended may hold the port for up to a second more.
        bool bound = false;
        for (int attempt = 0; attempt < kBindAttempts && !bound; ++attempt)
        {
            bound = srt_bind(listener, reinterpret_cast<sockaddr*>(&local), static_cast<int>(length)) != SRT_ERROR;
            if (!bound && srt_getlasterror(nullptr) != SRT_EBINDCONFLICT)
                break;
            if (!bound && attempt + 1 < kBindAttempts)
                std::this_thread::sleep_for(std::chrono::milliseconds(kPollMs));
        }
        if (!bound)
        {
            int system = 0;
            const int code = srt_getlasterror(&system);
            const std::string why = system == EADDRINUSE        ? "is in use by another program"
                                    : code == SRT_EBINDCONFLICT ? "is in use by another SRT link of this program"
                                    : system != 0               ? std::string("cannot be had: ") + std::strerror(system)
                                                                : "cannot be had: " + LastSrtError();
            SetError("SRT listener: port " + std::to_string(settings.port) + " " + why);
            srt_close(listener);
            return false;
        }
        if (srt_listen_callback(listener, &CSrtLink::OnListen, this) == SRT_ERROR ||
            srt_listen(listener, 1) == SRT_ERROR)
        {
            SetError("SRT listener on port " + std::to_string(settings.port) + ": " + LastSrtError());
            srt_close(listener);
            return false;
        }
        m_listener = listener;
    }
    m_threadEnded = false;
    if (!m_thread.Start("orvane-srt", ThreadPriority::AboveNormal, [this] { Run(); }))
    {
        m_threadEnded = true;
        if (m_listener != kInvalidSocket)
            srt_close(m_listener);
        m_listener = kInvalidSocket;
        SetError("SRT: the link thread cannot be started");
        return false;
    }
    return true;
}

bool CSrtLink::Stop(std::chrono::milliseconds timeout)
{
    if (m_threadEnded)
        return true;
    m_stop.store(true);
    if (!m_thread.Join(timeout))
        return false;
    m_threadEnded = true;
    if (m_listener != kInvalidSocket)
        srt_close(m_listener);
    m_listener = kInvalidSocket;
    m_connected.store(false);
    SetState(m_failed.load() ? TransportStats::State::Failed : TransportStats::State::Idle);
    return true;
}

int CSrtLink::MakeSocket()
{
    const int s = srt_create_socket();
    if (s == SRT_INVALID_SOCK)
    {
        SetError("SRT: no socket: " + LastSrtError());
        return kInvalidSocket;
    }
    const CSrtSettings& c = m_settings;
    // The transfer type first: it resets the other options to its defaults.
    bool ok = SetFlag<int>(s, SRTO_TRANSTYPE, SRTT_LIVE) && SetFlag<int>(s, SRTO_LATENCY, c.latencyMs) &&
              SetFlag<int>(s, SRTO_PAYLOADSIZE, kPayloadBytes) && SetFlag<int>(s, SRTO_CONNTIMEO, c.connectTimeoutMs) &&
              SetFlag<bool>(s, SRTO_RCVSYN, false) && SetFlag<bool>(s, SRTO_SNDSYN, false);
    // A listener of this program that has just ended still holds its port in
    // libsrt's multiplexer: the next one shares it. Another program's socket
    // on the port is still refused (EADDRINUSE).
    if (ok && c.mode == CSrtSettings::Mode::Listener)
        ok = SetFlag<bool>(s, SRTO_REUSEADDR, true);
    if (ok && c.mode == CSrtSettings::Mode::Rendezvous)
        ok = SetFlag<bool>(s, SRTO_RENDEZVOUS, true);
    if (ok && !c.passphrase.empty())
        ok = srt_setsockflag(s, SRTO_PASSPHRASE, c.passphrase.data(), static_cast<int>(c.passphrase.size())) !=
                 SRT_ERROR &&
             (c.keyLength == 0 || SetFlag<int>(s, SRTO_PBKEYLEN, c.keyLength));
    if (ok && !c.streamId.empty() && c.mode != CSrtSettings::Mode::Listener)
        ok = srt_setsockflag(s, SRTO_STREAMID, c.streamId.data(), static_cast<int>(c.streamId.size())) != SRT_ERROR;
    if (!ok)
    {
        SetError("SRT: an option was refused: " + LastSrtError());
        srt_close(s);
        return kInvalidSocket;
    }
    return s;
}

int CSrtLink::OnListen(void* opaque, int socket, int version, const sockaddr* peer, const char* streamId)
{
    (void)version;
    (void)peer;
    auto* self = static_cast<CSrtLink*>(opaque);
    // One peer at a time: the stream goes to one place.
    if (self->m_connected.load(std::memory_order_acquire))
    {
        srt_setrejectreason(socket, SRT_REJX_CONFLICT);
        return -1;
    }
    const std::string& wanted = self->m_settings.streamId;
    if (!wanted.empty() && (streamId == nullptr || wanted != streamId))
    {
        srt_setrejectreason(socket, SRT_REJX_NOTFOUND);
        return -1;
    }
    return 0;
}

bool CSrtLink::IsFatal(int reason)
{
    switch (reason)
    {
    case SRT_REJ_BADSECRET:
    case SRT_REJ_UNSECURE:
    case SRT_REJ_VERSION:
    case SRT_REJ_MESSAGEAPI:
    case SRT_REJ_CONGESTION:
    case SRT_REJ_FILTER:
    case SRT_REJ_GROUP:
        return true;
    default:
        // The application's refusals (a stream id) stand, except a busy one.
        return reason >= SRT_REJC_PREDEFINED && reason != SRT_REJX_CONFLICT && reason != SRT_REJX_OVERLOAD &&
               reason != SRT_REJX_DOWN;
    }
}

std::string CSrtLink::RejectText(int reason, const std::string& streamId)
{
    switch (reason)
    {
    case SRT_REJ_BADSECRET:
        return "wrong passphrase: the peer's passphrase is another one (SRT_REJ_BADSECRET)";
    case SRT_REJ_UNSECURE:
        return "passphrase mismatch: one side has a passphrase, the other none (SRT_REJ_UNSECURE)";
    case SRT_REJ_TIMEOUT:
        return "connection timed out: no answer from the peer (SRT_REJ_TIMEOUT)";
    case SRT_REJ_PEER:
        return "the peer refused the connection (SRT_REJ_PEER)";
    default:
        break;
    }
    if (reason >= SRT_REJC_PREDEFINED)
    {
        const char* what = "refused";
        switch (reason)
        {
        case SRT_REJX_BAD_REQUEST:
            what = "a bad request";
            break;
        case SRT_REJX_UNAUTHORIZED:
            what = "unauthorized";
            break;
        case SRT_REJX_OVERLOAD:
            what = "the peer is overloaded";
            break;
        case SRT_REJX_FORBIDDEN:
            what = "forbidden";
            break;
        case SRT_REJX_NOTFOUND:
            what = "no such stream";
            break;
        case SRT_REJX_CONFLICT:
            what = "another peer is connected";
            break;
        default:
            break;
        }
        if (reason == SRT_REJX_CONFLICT || reason == SRT_REJX_OVERLOAD)
            return std::string("the peer refused the connection: ") + what + " (code " + std::to_string(reason) + ")";
        return "the peer rejected the stream id \"" + streamId + "\": " + what + " (code " + std::to_string(reason) +
               ")";
    }
    return std::string(srt_rejectreason_str(reason)) + " (SRT reject reason " + std::to_string(reason) + ")";
}

bool CSrtLink::Pause(std::int64_t ms)
{
    const std::int64_t end = CSteadyClock::NowNs() + ms * 1'000'000;
    while (!m_stop.load())
    {
        const std::int64_t left = end - CSteadyClock::NowNs();
        if (left <= 0)
            return true;
        std::this_thread::sleep_for(std::chrono::nanoseconds(std::min<std::int64_t>(left, kPollMs * 1'000'000)));
    }
    return false;
}

int CSrtLink::Connect()
{
    const int s = MakeSocket();
    if (s == kInvalidSocket)
        return kInvalidSocket;
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* found = nullptr;
    const int resolved = getaddrinfo(m_settings.host.c_str(), std::to_string(m_settings.port).c_str(), &hints, &found);
    if (resolved != 0 || found == nullptr)
    {
        SetError("SRT: cannot resolve \"" + m_settings.host + "\": " + gai_strerror(resolved));
        srt_close(s);
        return kInvalidSocket;
    }
    bool ok = true;
    if (m_settings.mode == CSrtSettings::Mode::Rendezvous || m_settings.localPort != 0)
    {
        // A rendezvous uses the peer's port locally too unless told another;
        // bound in the peer's family.
        sockaddr_storage local{};
        std::memcpy(&local, found->ai_addr, found->ai_addrlen);
        const std::uint16_t localPort = htons(m_settings.localPort != 0 ? m_settings.localPort : m_settings.port);
        if (local.ss_family == AF_INET)
        {
            reinterpret_cast<sockaddr_in*>(&local)->sin_addr.s_addr = htonl(INADDR_ANY);
            reinterpret_cast<sockaddr_in*>(&local)->sin_port = localPort;
        }
        else
        {
            reinterpret_cast<sockaddr_in6*>(&local)->sin6_addr = in6addr_any;
            reinterpret_cast<sockaddr_in6*>(&local)->sin6_port = localPort;
        }
        ok = srt_bind(s, reinterpret_cast<sockaddr*>(&local), static_cast<int>(found->ai_addrlen)) != SRT_ERROR;
    }
    ok = ok && srt_connect(s, found->ai_addr, static_cast<int>(found->ai_addrlen)) != SRT_ERROR;
    freeaddrinfo(found);
    if (!ok)
    {
        SetError("SRT: cannot connect to " + Endpoint(m_settings) + ": " + LastSrtError());
        srt_close(s);
        return kInvalidSocket;
    }
    // Non-blocking: the state is polled so that a stop is seen within kPollMs.
    const int eid = srt_epoll_create();
    int events = SRT_EPOLL_OUT | SRT_EPOLL_ERR;
    srt_epoll_add_usock(eid, s, &events);
    int result = kInvalidSocket;
    while (!m_stop.load())
    {
        SRT_EPOLL_EVENT event{};
        srt_epoll_uwait(eid, &event, 1, kPollMs);
        const SRT_SOCKSTATUS state = srt_getsockstate(s);
        if (state == SRTS_CONNECTED)
        {
            result = s;
            break;
        }
        if (state == SRTS_BROKEN || state == SRTS_CLOSED || state == SRTS_NONEXIST)
        {
            const int reason = srt_getrejectreason(s);
            SetError("SRT " + std::string(CSrtSettings::ModeName(m_settings.mode)) + " to " + Endpoint(m_settings) +
                     ": " + RejectText(reason, m_settings.streamId));
            if (IsFatal(reason))
            {
                // The state first: whoever sees the failure flag finds the state that goes with it.
                SetState(TransportStats::State::Failed);
                m_failed.store(true);
            }
            break;
        }
    }
    srt_epoll_release(eid);
    if (result == kInvalidSocket)
        srt_close(s);
    return result;
}

int CSrtLink::Accept()
{
    const int eid = srt_epoll_create();
    int events = SRT_EPOLL_IN | SRT_EPOLL_ERR;
    srt_epoll_add_usock(eid, m_listener, &events);
    int result = kInvalidSocket;
    while (!m_stop.load())
    {
        SRT_EPOLL_EVENT event{};
        if (srt_epoll_uwait(eid, &event, 1, kPollMs) <= 0)
            continue;
        sockaddr_storage peer{};
        int length = sizeof peer;
        result = srt_accept(m_listener, reinterpret_cast<sockaddr*>(&peer), &length);
        if (result != SRT_INVALID_SOCK)
        {
            m_acceptedPeer = FormatAddress(reinterpret_cast<sockaddr*>(&peer), static_cast<socklen_t>(length));
            break;
        }
        result = kInvalidSocket;
        if (srt_getlasterror(nullptr) != SRT_EASYNCRCV)
        {
            SetError("SRT listener on port " + std::to_string(m_settings.port) + ": " + LastSrtError());
            Pause(kRetryMs);
        }
    }
    srt_epoll_release(eid);
    return result;
}

void CSrtLink::Run()
{
    const bool listener = m_settings.mode == CSrtSettings::Mode::Listener;
    while (!m_stop.load())
    {
        SetState(listener ? TransportStats::State::Listening : TransportStats::State::Connecting);
        const int s = listener ? Accept() : Connect();
        if (s == kInvalidSocket)
        {
            if (m_failed.load())
            {
                SetState(TransportStats::State::Failed);
                return;
            }
            // A caller tries again every second; a listener's accept only ends on a stop.
            Pause(kRetryMs);
            continue;
        }
        // A caller knows its peer; a listener has it from the accept.
        const std::string peerText = listener ? m_acceptedPeer : Endpoint(m_settings);
        {
            std::lock_guard lock(m_statsLock);
            m_stats.state = TransportStats::State::Connected;
            m_stats.peer = peerText;
            ++m_stats.connections;
            m_current = TransportStats();
        }
        m_brokenSeen.store(false);
        {
            std::lock_guard lock(m_socketLock);
            m_socket = s;
        }
        m_connected.store(true, std::memory_order_release);
        RefreshStats(s);
        if (m_direction == Direction::Receive && m_serve)
            m_serve(s, m_stop);
        else
            WatchSend(s, m_stop);
        EndConnection(s);
        if (!m_stop.load() && !listener)
            Pause(kRetryMs);
    }
}

void CSrtLink::WatchSend(int socket, const std::atomic<bool>& stop)
{
    const int eid = srt_epoll_create();
    int events = SRT_EPOLL_ERR;
    srt_epoll_add_usock(eid, socket, &events);
    while (!stop.load())
    {
        SRT_EPOLL_EVENT event{};
        srt_epoll_uwait(eid, &event, 1, kPollMs);
        if (srt_getsockstate(socket) != SRTS_CONNECTED)
            break;
        RefreshStats(socket);
    }
    srt_epoll_release(eid);
}

void CSrtLink::RefreshStats(int socket)
{
    SRT_TRACEBSTATS perf{};
    if (srt_bstats(socket, &perf, 0) == SRT_ERROR)
        return;
    const bool sending = m_direction == Direction::Send;
    {
        std::lock_guard lock(m_statsLock);
        TransportStats& c = m_current;
        c.rttMs = perf.msRTT;
        c.sendRateMbps = perf.mbpsSendRate;
        c.receiveRateMbps = perf.mbpsRecvRate;
        c.packetsSent = static_cast<std::uint64_t>(std::max<std::int64_t>(perf.pktSentTotal, 0));
        c.packetsReceived = static_cast<std::uint64_t>(std::max<std::int64_t>(perf.pktRecvTotal, 0));
        // The interval counters are never cleared here: they count since the connection began.
        c.retransmitted = static_cast<std::uint64_t>(std::max(sending ? perf.pktRetransTotal : perf.pktRcvRetrans, 0));
        c.lost = static_cast<std::uint64_t>(std::max(sending ? perf.pktSndLossTotal : perf.pktRcvLossTotal, 0));
        c.dropped = static_cast<std::uint64_t>(std::max(sending ? perf.pktSndDropTotal : perf.pktRcvDropTotal, 0));
        c.latencyMs = sending ? perf.msSndTsbPdDelay : perf.msRcvTsbPdDelay;
        c.bufferMs = sending ? perf.msSndBuf : perf.msRcvBuf;
        c.sendBufferBytes = static_cast<std::uint64_t>(std::max(perf.byteSndBuf, 0));
    }
    if (sending)
    {
        const auto drops = static_cast<std::uint64_t>(std::max(perf.pktSndDropTotal, 0));
        if (drops != 0)
            m_lossError.store(ETIME, std::memory_order_relaxed);
        m_lostDatagrams.store(m_lostAtBreaks + m_sendDropBase + drops, std::memory_order_relaxed);
        m_lostBytes.store(m_lostBytesAtBreaks + m_sendDropBytesBase + perf.byteSndDropTotal, std::memory_order_relaxed);
    }
}

void CSrtLink::EndConnection(int socket)
{
    {
        std::lock_guard lock(m_socketLock);
        m_socket = kInvalidSocket;
    }
    RefreshStats(socket);
    const bool stopped = m_stop.load();
    if (m_direction == Direction::Send)
    {
        // What the peer has not acknowledged when the link broke may never
        // have arrived: lost, for all the sender can know. A stop is the
        // user's: what is still in flight then is no loss.
        std::size_t blocks = 0;
        std::size_t bytes = 0;
        if (!stopped && srt_getsndbuffer(socket, &blocks, &bytes) != SRT_ERROR && blocks != 0)
        {
            m_lostAtBreaks += blocks;
            m_lostBytesAtBreaks += bytes;
            m_lossError.store(ECONNRESET, std::memory_order_relaxed);
        }
        SRT_TRACEBSTATS perf{};
        if (srt_bstats(socket, &perf, 0) != SRT_ERROR)
        {
            m_sendDropBase += static_cast<std::uint64_t>(std::max(perf.pktSndDropTotal, 0));
            m_sendDropBytesBase += perf.byteSndDropTotal;
        }
        m_lostDatagrams.store(m_lostAtBreaks + m_sendDropBase, std::memory_order_relaxed);
        m_lostBytes.store(m_lostBytesAtBreaks + m_sendDropBytesBase, std::memory_order_relaxed);
    }
    {
        std::lock_guard lock(m_statsLock);
        TransportStats& s = m_stats;
        const TransportStats& c = m_current;
        s.packetsSent += c.packetsSent;
        s.packetsReceived += c.packetsReceived;
        s.retransmitted += c.retransmitted;
        s.lost += c.lost;
        s.dropped += c.dropped;
        m_current = TransportStats();
        if (m_direction == Direction::Send)
            s.dropped = m_lostAtBreaks + m_sendDropBase;
        if (!stopped)
            s.lastError = "SRT link to " + (s.peer.empty() ? Endpoint(m_settings) : s.peer) + " broken";
        s.peer.clear();
        s.state = m_settings.mode == CSrtSettings::Mode::Listener ? TransportStats::State::Listening
                                                                  : TransportStats::State::Connecting;
    }
    // Last: whoever sees the link down finds its reason and its losses counted.
    m_connected.store(false, std::memory_order_release);
    srt_close(socket);
}
