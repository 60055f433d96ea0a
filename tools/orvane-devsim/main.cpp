// orvane-devsim: one simulated streaming device. It answers discovery requests
// with its announcement, takes factory-reset requests, serves a small settings
// page over HTTP, and prints every message it receives, one line each.

#include "common/CUniqueFd.h"
#include "common/Ipv4Address.h"
#include "devices/CDiscoverProtocol.h"

#include <CLI/CLI.hpp>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <string>

namespace
{
std::atomic<bool> g_stop{false};

void OnSignal(int)
{
    g_stop.store(true);
}

struct Options
{
    std::string address = "127.0.0.1";
    std::uint16_t port = CDiscoverProtocol::kPort;
    std::uint16_t httpPort = 0;
    std::uint64_t serial = 1001;
    std::string model = "ORV-SIM";
    std::string mac = "02:00:00:00:00:01";
    std::string firmware = "1.0.0.0";
    unsigned ports = 4;
    double seconds = 0;
};

bool ParseBytes(const std::string& text, char separator, int base, std::uint8_t* out, std::size_t count)
{
    std::size_t pos = 0;
    for (std::size_t i = 0; i < count; ++i)
    {
        const auto end = i + 1 < count ? text.find(separator, pos) : text.size();
        if (end == std::string::npos || end == pos)
            return false;
        const auto part = text.substr(pos, end - pos);
        char* rest = nullptr;
        const auto value = std::strtoul(part.c_str(), &rest, base);
        if (*rest != '\0' || value > 255)
            return false;
        out[i] = static_cast<std::uint8_t>(value);
        pos = end + 1;
    }
    return true;
}

std::string Peer(const sockaddr_in& from)
{
    return FormatIpv4(ntohl(from.sin_addr.s_addr)) + ":" + std::to_string(ntohs(from.sin_port));
}

CUniqueFd OpenSocket(int type, std::uint32_t address, std::uint16_t port)
{
    CUniqueFd fd(socket(AF_INET, type | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!fd.Valid())
        return fd;
    const int on = 1;
    setsockopt(fd.Get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on));
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(address);
    local.sin_port = htons(port);
    if (bind(fd.Get(), reinterpret_cast<const sockaddr*>(&local), sizeof(local)) != 0 ||
        (type == SOCK_STREAM && listen(fd.Get(), 8) != 0))
        fd.Reset();
    return fd;
}

void ServeUdp(int fd, const DeviceRecord& record)
{
    std::array<std::uint8_t, 2048> buffer{};
    for (int i = 0; i < 256; ++i)
    {
        sockaddr_in from{};
        socklen_t fromLength = sizeof(from);
        const auto received = recvfrom(fd, buffer.data(), buffer.size(), MSG_DONTWAIT | MSG_TRUNC,
                                       reinterpret_cast<sockaddr*>(&from), &fromLength);
        if (received < 0)
            return;
        const auto length = static_cast<std::size_t>(received);
        switch (CDiscoverProtocol::Parse(buffer.data(), std::min(length, buffer.size()), nullptr))
        {
        case CDiscoverProtocol::Verdict::kDiscover: {
            const auto reply = CDiscoverProtocol::MakeAnnounce(record);
            sendto(fd, reply.data(), reply.size(), MSG_DONTWAIT, reinterpret_cast<const sockaddr*>(&from),
                   sizeof(from));
            std::printf("devsim: discover from %s, announced %s serial %llu\n", Peer(from).c_str(),
                        FormatIpv4(CDiscoverProtocol::GetAddress(record)).c_str(),
                        static_cast<unsigned long long>(CDiscoverProtocol::GetSerial(record)));
            break;
        }
        case CDiscoverProtocol::Verdict::kReset:
            std::printf("devsim: factory reset requested by %s\n", Peer(from).c_str());
            break;
        default:
            std::printf("devsim: ignored %zu-byte datagram from %s\n", length, Peer(from).c_str());
            break;
        }
        std::fflush(stdout);
    }
}

void ServeHttp(int listenFd, const DeviceRecord& record, const Options& options)
{
    sockaddr_in from{};
    socklen_t fromLength = sizeof(from);
    CUniqueFd client(accept4(listenFd, reinterpret_cast<sockaddr*>(&from), &fromLength, SOCK_CLOEXEC));
    if (!client.Valid())
        return;
    // Read the request line; a client that says nothing within 500 ms gets the page anyway.
    std::array<char, 2048> request{};
    pollfd pfd{client.Get(), POLLIN, 0};
    ssize_t got = 0;
    if (poll(&pfd, 1, 500) > 0)
        got = recv(client.Get(), request.data(), request.size() - 1, MSG_DONTWAIT);
    std::string line(request.data(), got > 0 ? static_cast<std::size_t>(got) : 0);
    line = line.substr(0, line.find('\r'));
    std::printf("devsim: HTTP \"%s\" from %s\n", line.c_str(), Peer(from).c_str());
    std::fflush(stdout);
    const std::string body =
        "<!DOCTYPE html><html><head><title>" + CDiscoverProtocol::GetModel(record) +
        " settings</title></head><body><h1>" + CDiscoverProtocol::GetModel(record) +
        "</h1><table><tr><td>Address</td><td>" + options.address + "</td></tr><tr><td>Serial number</td><td>" +
        std::to_string(CDiscoverProtocol::GetSerial(record)) + "</td></tr><tr><td>MAC address</td><td>" + options.mac +
        "</td></tr><tr><td>Firmware</td><td>" + options.firmware + "</td></tr><tr><td>Streaming ports</td><td>" +
        std::to_string(options.ports) + "</td></tr></table><p>Simulated by orvane-devsim.</p></body></html>\n";
    const std::string response =
        "HTTP/1.0 200 OK\r\nContent-Type: text/html; charset=utf-8\r\nContent-Length: " + std::to_string(body.size()) +
        "\r\nConnection: close\r\n\r\n" + body;
    send(client.Get(), response.data(), response.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
}
} // namespace

int main(int argc, char** argv)
{
    Options options;
    CLI::App app{"orvane-devsim: a simulated Orvane streaming device (discovery, reset, settings page)",
                 "orvane-devsim"};
    app.add_option("--address", options.address, "address to answer on, and the one announced")->capture_default_str();
    app.add_option("--port", options.port, "discovery UDP port")->capture_default_str();
    app.add_option("--http-port", options.httpPort, "TCP port of the settings page (0: none)")->capture_default_str();
    app.add_option("--serial", options.serial, "serial number")->capture_default_str();
    app.add_option("--model", options.model, "model name (at most 15 characters)")->capture_default_str();
    app.add_option("--mac", options.mac, "MAC address")->capture_default_str();
    app.add_option("--firmware", options.firmware, "firmware version a.b.c.d")->capture_default_str();
    app.add_option("--ports", options.ports, "number of streaming ports")->check(CLI::Range(0, 255));
    app.add_option("--seconds", options.seconds, "run this long, then exit (0: until interrupted)");
    CLI11_PARSE(app, argc, argv);

    std::uint32_t address = 0;
    std::array<std::uint8_t, 6> mac{};
    std::array<std::uint8_t, 4> firmware{};
    if (!ParseIpv4(options.address, address) || !CDiscoverProtocol::IsUsableDeviceAddress(address))
    {
        std::fprintf(stderr, "orvane-devsim: \"%s\" is not a device address\n", options.address.c_str());
        return 2;
    }
    if (!ParseBytes(options.mac, ':', 16, mac.data(), mac.size()))
    {
        std::fprintf(stderr, "orvane-devsim: \"%s\" is not a MAC address\n", options.mac.c_str());
        return 2;
    }
    if (!ParseBytes(options.firmware, '.', 10, firmware.data(), firmware.size()))
    {
        std::fprintf(stderr, "orvane-devsim: \"%s\" is not a version a.b.c.d\n", options.firmware.c_str());
        return 2;
    }
    const auto record = CDiscoverProtocol::MakeRecord(mac, firmware, options.serial,
                                                      static_cast<std::uint8_t>(options.ports), address, options.model);

    CUniqueFd udp = OpenSocket(SOCK_DGRAM, address, options.port);
    if (!udp.Valid())
    {
        std::perror("orvane-devsim: discovery socket");
        return 1;
    }
    CUniqueFd http;
    if (options.httpPort != 0)
    {
        http = OpenSocket(SOCK_STREAM, address, options.httpPort);
        if (!http.Valid())
        {
            std::perror("orvane-devsim: settings page socket");
            return 1;
        }
    }
    std::signal(SIGINT, OnSignal);
    std::signal(SIGTERM, OnSignal);
    std::printf("devsim: %s serial %llu answering on %s:%u%s\n", options.model.c_str(),
                static_cast<unsigned long long>(options.serial), options.address.c_str(), options.port,
                options.httpPort != 0 ? (", settings page on port " + std::to_string(options.httpPort)).c_str() : "");
    std::fflush(stdout);

    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(options.seconds);
    while (!g_stop.load() && (options.seconds <= 0 || std::chrono::steady_clock::now() < end))
    {
        std::array<pollfd, 2> fds{pollfd{udp.Get(), POLLIN, 0}, pollfd{http.Get(), POLLIN, 0}};
        if (poll(fds.data(), http.Valid() ? 2 : 1, 100) <= 0)
            continue;
        if (fds[0].revents & POLLIN)
            ServeUdp(udp.Get(), record);
        if (http.Valid() && (fds[1].revents & POLLIN))
            ServeHttp(http.Get(), record, options);
    }
    return 0;
}
