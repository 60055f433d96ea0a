#include "CMetricsServer.h"

#include "common/CNetAddress.h"
#include "common/Ipv4Address.h"

#include <httplib.h>

#include <cerrno>
#include <cstring>
#include <thread>

namespace
{
constexpr const char* kContentType = "text/plain; version=0.0.4; charset=utf-8";
constexpr std::size_t kWorkers = 2;     // Prometheus scrapes one request at a time
constexpr time_t kKeepAliveSeconds = 1; // bounds Stop: an idle connection is let go soon
} // namespace

CMetricsServer::CMetricsServer() = default;

CMetricsServer::~CMetricsServer()
{
    Stop();
}

bool CMetricsServer::ParseListen(const std::string& text, std::string& host, std::uint16_t& port)
{
    std::string_view address;
    std::uint16_t p = 0;
    std::uint32_t parsed = 0;
    if (!CNetAddress::SplitHostPort(text, address, p) ||
        !(address.empty() || address == "*" || ParseIpv4(address, parsed)))
        return false;
    host = address.empty() || address == "*" ? "0.0.0.0" : std::string(address);
    port = p;
    return true;
}

bool CMetricsServer::Start(const std::string& host, std::uint16_t port)
{
    Stop();
    m_error.clear();
    m_server = std::make_unique<httplib::Server>();
    m_server->new_task_queue = [] { return new httplib::ThreadPool(kWorkers); };
    m_server->set_keep_alive_timeout(kKeepAliveSeconds);
    m_server->Get("/metrics", [this](const httplib::Request&, httplib::Response& response) {
        std::lock_guard lock(m_lock);
        response.set_content(m_text, kContentType);
    });
    errno = 0;
    if (!m_server->bind_to_port(host, port))
    {
        const int error = errno;
        m_error = "cannot serve metrics on " + host + ":" + std::to_string(port) + ": " +
                  (error != 0 ? std::strerror(error) : "the address cannot be bound");
        m_server.reset();
        return false;
    }
    httplib::Server* server = m_server.get();
    if (!m_thread.Start("orvane-metrics", ThreadPriority::Normal, [server] { server->listen_after_bind(); }))
    {
        m_error = "cannot start the metrics thread";
        m_server.reset();
        return false;
    }
    // A stop before the server runs would not reach it: wait until it listens.
    const auto end = std::chrono::steady_clock::now() + kStopTimeout;
    while (!m_server->is_running() && !m_thread.IsFinished() && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    if (!m_server->is_running())
    {
        // Bound but not listening: a scrape would find nothing, so the run must not start.
        m_error = "the metrics server on " + host + ":" + std::to_string(port) + " did not start listening";
        Stop();
        return false;
    }
    return true;
}

void CMetricsServer::SetText(std::string text)
{
    std::lock_guard lock(m_lock);
    m_text = std::move(text);
}

bool CMetricsServer::Stop()
{
    if (!m_server)
        return true;
    m_server->stop();
    if (!m_thread.Join(kStopTimeout))
        return false; // the server stays until a later Stop or the destructor finds it ended
    m_server.reset();
    return true;
}
