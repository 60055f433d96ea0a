#pragma once
//! @file CMetricsServer.h
//! Serves GET /metrics (the Prometheus text exposition format, version 0.0.4)
//! for one orvane-cli run, with cpp-httplib. The CLI loop builds the text once
//! a second and hands it over with SetText; scrapes read the last text given,
//! so a scrape never waits for the stream and sees one consistent second.
//!
//! Threads: Start, SetText and Stop on the CLI loop's thread; the server
//! listens on its own thread ("orvane-metrics") and answers on a pool of two.

#include "common/CThread.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

namespace httplib
{
class Server;
}

class CMetricsServer
{
public:
    //! How long Stop waits for the listening thread.
    static constexpr auto kStopTimeout = std::chrono::milliseconds(2'000);

    CMetricsServer();
    ~CMetricsServer();
    CMetricsServer(const CMetricsServer&) = delete;
    CMetricsServer& operator=(const CMetricsServer&) = delete;

    //! Splits "ADDR:PORT" (an IPv4 address, or empty / "*" for every address).
    //! @return false when @p text is not of that form or the port is not 1..65535.
    static bool ParseListen(const std::string& text, std::string& host, std::uint16_t& port);

    //! Binds @p host : @p port and starts answering. @return false when the port
    //! cannot be bound (in use, no such address); Error() says why, nothing runs.
    bool Start(const std::string& host, std::uint16_t port);
    //! The text every scrape gets from now on.
    void SetText(std::string text);
    //! Ends the server. @return false when its thread did not end within kStopTimeout.
    bool Stop();
    const std::string& Error() const { return m_error; }

private:
    std::unique_ptr<httplib::Server> m_server;
    CThread m_thread;
    std::mutex m_lock;
    std::string m_text; // guarded by m_lock
    std::string m_error;
};
