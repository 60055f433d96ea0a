// orvane-cli discover: sends discovery requests for a few seconds and lists the
// devices that answered, as the main window's schedule and dialog would.

#include "CliCommands.h"
#include "common/Ipv4Address.h"
#include "devices/CDiscoverProtocol.h"
#include "devices/CUDPDiscover.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace
{
constexpr double kMinSeconds = 0.1;
constexpr double kMaxSeconds = 3600.0;

struct DiscoverOptions
{
    double seconds = 3;
    std::vector<std::string> targets;
    std::uint16_t port = CDiscoverProtocol::kPort;
};

int RunDiscover(const DiscoverOptions& options)
{
    // Port 0 would send every request nowhere; a time outside the range would
    // end at once or never.
    if (options.port == 0)
    {
        std::fprintf(stderr, "discover: --port must be 1..65535\n");
        return 2;
    }
    if (!(options.seconds >= kMinSeconds && options.seconds <= kMaxSeconds))
    {
        std::fprintf(stderr, "discover: --seconds must be %.1f..%.0f\n", kMinSeconds, kMaxSeconds);
        return 2;
    }
    std::vector<std::uint32_t> targets;
    for (const auto& text : options.targets)
    {
        std::uint32_t address = 0;
        if (!ParseIpv4(text, address))
        {
            std::fprintf(stderr, "discover: \"%s\" is not an IPv4 address\n", text.c_str());
            return 2;
        }
        targets.push_back(address);
    }
    CUDPDiscover discover;
    if (!discover.IsReady())
    {
        std::fprintf(stderr, "discover: cannot open the discovery socket\n");
        return 1;
    }
    discover.SetTargets(targets, options.port);
    // Requests every second: a device that misses one still answers the next.
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration_cast<std::chrono::milliseconds>(
                                                            std::chrono::duration<double>(options.seconds));
    do
    {
        if (!discover.SendDiscoverPacket())
            std::fprintf(stderr, "discover: a request could not be sent\n");
        const auto next = std::min(end, std::chrono::steady_clock::now() + std::chrono::seconds(1));
        std::this_thread::sleep_until(next);
    } while (std::chrono::steady_clock::now() < end);

    const auto devices = discover.GetDevices();
    std::printf("%-16s %-20s %-17s %-9s %-5s %s\n", "IP address", "Serial number", "MAC address", "Firmware", "Ports",
                "Model");
    for (const auto& record : devices)
    {
        const std::string mac = CDiscoverProtocol::FormatMac(record);
        const std::string firmware = CDiscoverProtocol::FormatFirmware(record);
        std::printf("%-16s %-20llu %-17s %-9s %-5u %s\n", FormatIpv4(CDiscoverProtocol::GetAddress(record)).c_str(),
                    static_cast<unsigned long long>(CDiscoverProtocol::GetSerial(record)), mac.c_str(),
                    firmware.c_str(), record[CDiscoverProtocol::kPortsOffset],
                    CDiscoverProtocol::GetModel(record).c_str());
    }
    const auto c = discover.GetCounters();
    std::printf("%zu device(s); %llu request(s) sent, %llu reply(ies) ignored\n", devices.size(),
                static_cast<unsigned long long>(c.requestsSent),
                static_cast<unsigned long long>(c.ignoredShort + c.ignoredOversized + c.ignoredForeign +
                                                c.ignoredAddress + c.droppedListFull));
    return 0;
}
} // namespace

void AddDiscoverCommand(CLI::App& app, int& exitCode)
{
    auto options = std::make_shared<DiscoverOptions>();
    auto* cmd = app.add_subcommand("discover", "list the devices that answer discovery requests");
    cmd->add_option("--seconds", options->seconds, "how long to listen (0.1..3600)")->capture_default_str();
    cmd->add_option("--target", options->targets,
                    "where requests go (repeatable; default the broadcast address 255.255.255.255)");
    cmd->add_option("--port", options->port, "device UDP port (1..65535)")->capture_default_str();
    cmd->callback([options, &exitCode] { exitCode = RunDiscover(*options); });
}
