#include "engine/CRistLink.h"

#include "common/CUniqueFd.h"

#include <arpa/inet.h>
#include <librist/librist.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>

namespace
{
// librist binds a listener's port shared (SO_REUSEPORT), so a second
// listener on a taken port would start and never hear a packet: a plain bind
// first finds out. @return 0, or the errno of the bind.
int ProbeBind(const std::string& address, std::uint16_t port)
{
    sockaddr_storage local{};
    socklen_t length = 0;
    const char* host = address.empty() ? "0.0.0.0" : address.c_str();
    auto* v4 = reinterpret_cast<sockaddr_in*>(&local);
    auto* v6 = reinterpret_cast<sockaddr_in6*>(&local);
    if (inet_pton(AF_INET, host, &v4->sin_addr) == 1)
    {
        v4->sin_family = AF_INET;
        v4->sin_port = htons(port);
        length = sizeof *v4;
    }
    else if (inet_pton(AF_INET6, host, &v6->sin6_addr) == 1)
    {
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(port);
        length = sizeof *v6;
    }
    else
        return 0; // a name: librist resolves it and says what fails
    CUniqueFd fd(::socket(local.ss_family, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (!fd.Valid())
        return 0;
    return ::bind(fd.Get(), reinterpret_cast<sockaddr*>(&local), length) == 0 ? 0 : errno;
}

// librist logs its reasons at error level; warnings and below are its chatter.
constexpr rist_log_level kLogLevel = RIST_LOG_ERROR;
} // namespace

CRistLink::CRistLink() = default;

CRistLink::~CRistLink()
{
    Stop();
}

void CRistLink::SetError(std::string text)
{
    // librist's messages end with a line feed.
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    std::lock_guard lock(m_lock);
    m_error = std::move(text);
}

std::string CRistLink::GetError() const
{
    std::lock_guard lock(m_lock);
    return m_error;
}

TransportStats CRistLink::GetStats() const
{
    std::lock_guard lock(m_lock);
    TransportStats s = m_stats;
    s.state = m_ctx == nullptr                                            ? TransportStats::State::Idle
              : m_connected.load()                                        ? TransportStats::State::Connected
              : m_direction == Direction::Receive && m_stats.peer.empty() ? TransportStats::State::Listening
                                                                          : TransportStats::State::Connecting;
    s.lastError = m_error;
    return s;
}

struct CRistLink::Callbacks
{
    static int OnLog(void* arg, rist_log_level level, const char* message);
    static int OnStats(void* arg, const rist_stats* stats);
    static void OnConnection(void* arg, rist_peer* peer, rist_connection_status status);
};

int CRistLink::Callbacks::OnLog(void* arg, rist_log_level level, const char* message)
{
    // librist logs its out-of-band channel being off at error level on every link: no error of ours.
    if (level <= RIST_LOG_ERROR && message != nullptr && std::strstr(message, "oob") == nullptr)
        static_cast<CRistLink*>(arg)->SetError(message);
    return 0;
}

void CRistLink::Callbacks::OnConnection(void* arg, rist_peer* /*peer*/, rist_connection_status status)
{
    auto* self = static_cast<CRistLink*>(arg);
    const bool up = status == RIST_CONNECTION_ESTABLISHED || status == RIST_CLIENT_CONNECTED;
    const bool was = self->m_connected.exchange(up, std::memory_order_acq_rel);
    if (up == was)
        return;
    std::lock_guard lock(self->m_lock);
    if (up)
    {
        ++self->m_stats.connections;
        self->m_stats.reconnects = self->m_stats.connections - 1;
    }
    else
        self->m_error = "RIST: the peer stopped answering (the link timed out); waiting for it";
}

int CRistLink::Callbacks::OnStats(void* arg, const rist_stats* stats)
{
    auto* self = static_cast<CRistLink*>(arg);
    {
        // Counts come per interval: the run's figures are their sums.
        std::lock_guard lock(self->m_lock);
        TransportStats& s = self->m_stats;
        if (stats->stats_type == RIST_STATS_SENDER_PEER)
        {
            const auto& p = stats->stats.sender_peer;
            s.rttMs = p.rtt;
            s.sendRateMbps = static_cast<double>(p.bandwidth) / 1e6;
            s.packetsSent += p.sent;
            s.packetsReceived += p.received;
            s.retransmitted += p.retransmitted;
            s.peer = p.cname;
        }
        else
        {
            const auto& f = stats->stats.receiver_flow;
            s.rttMs = f.rtt;
            s.receiveRateMbps = static_cast<double>(f.bandwidth) / 1e6;
            s.packetsReceived += f.received;
            s.retransmitted += f.recovered;
            s.lost += f.missing;
            s.dropped += f.lost;
            s.peer = f.cname;
        }
    }
    rist_stats_free(stats);
    return 0;
}

bool CRistLink::Start(const CRistSettings& settings, Direction direction)
{
    Stop();
    m_direction = direction;
    m_connected.store(false);
    {
        std::lock_guard lock(m_lock);
        m_stats = TransportStats();
        m_stats.valid = true;
        m_stats.transport = "rist";
        m_error.clear();
    }
    const auto fail = [this](const std::string& why) {
        const std::string logged = GetError();
        SetError(why + (logged.empty() ? std::string() : ": " + logged));
        Stop();
        return false;
    };
    if (rist_logging_set(&m_logging, kLogLevel, &Callbacks::OnLog, this, nullptr, nullptr) != 0)
        return fail("RIST: librist's logging cannot be set up");
    const auto profile = static_cast<rist_profile>(settings.profile);
    const int created = direction == Direction::Send ? rist_sender_create(&m_ctx, profile, 0, m_logging)
                                                     : rist_receiver_create(&m_ctx, profile, m_logging);
    if (created != 0 || m_ctx == nullptr)
        return fail("RIST: librist cannot create a " +
                    std::string(direction == Direction::Send ? "sender" : "receiver"));
    if (direction == Direction::Receive && rist_receiver_set_output_fifo_size(m_ctx, kReceiveFifo) != 0)
        return fail("RIST: librist refuses a receive queue of " + std::to_string(kReceiveFifo) + " datagrams");
    if (settings.listener)
    {
        // The simple profile listens on the even port and the odd one above it.
        const int ports = settings.profile == CRistSettings::Profile::Simple ? 2 : 1;
        for (int i = 0; i < ports; ++i)
        {
            const auto port = static_cast<std::uint16_t>(settings.port + i);
            if (const int error = ProbeBind(settings.host, port); error != 0)
                return fail("RIST: cannot listen on port " + std::to_string(port) + ": " + std::strerror(error) +
                            (error == EADDRINUSE ? " (another program listens there)" : ""));
        }
    }
    rist_peer_config* config = nullptr;
    if (rist_parse_address2(settings.url.c_str(), &config) != 0 || config == nullptr)
        return fail("RIST: librist does not take '" + settings.ToDisplayUrl() + "'");
    rist_peer* peer = nullptr;
    const int made = rist_peer_create(m_ctx, &peer, config);
    rist_peer_config_free2(&config);
    if (made != 0)
        return fail("RIST: cannot " + std::string(settings.listener ? "listen on" : "reach") + " '" +
                    settings.ToDisplayUrl() + "'");
    // Without connection events a play would wait for its peer for ever.
    if (rist_connection_status_callback_set(m_ctx, &Callbacks::OnConnection, this) != 0 ||
        rist_stats_callback_set(m_ctx, kStatsIntervalMs, &Callbacks::OnStats, this) != 0 || rist_start(m_ctx) != 0)
        return fail("RIST: librist does not start");
    return true;
}

void CRistLink::Stop()
{
    if (m_ctx != nullptr)
    {
        // Joins librist's threads: no callback runs after this.
        rist_destroy(m_ctx);
        m_ctx = nullptr;
    }
    if (m_logging != nullptr)
        rist_logging_settings_free2(&m_logging);
    m_connected.store(false);
}
