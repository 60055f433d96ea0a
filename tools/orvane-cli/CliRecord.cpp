// orvane-cli record / monitor: receive a UDP or RTP stream on a local port and
// write it to files (record) or only analyse it (monitor), with a status line
// every second. SIGINT or SIGTERM ends the run cleanly: everything received
// is written before the file is closed. Exit status: 0 done with nothing lost,
// 1 a port, file, disk or output failure, 3 done but datagrams were lost here
// (kernel receive queue or FIFO full) or, with --rtp, sequence numbers are
// missing from the file (given up, even when their datagram came later).
//
// With --json, standard output carries one JSON object per second and nothing
// else (CStreamReport); with --metrics ADDR:PORT the same figures are served
// at /metrics. A --metrics that cannot be bound ends the run before anything
// is received, with status 1 (as a receive port that cannot be opened); a
// --metrics that is not ADDR:PORT is a usage error, status 2.
//
// Protection (RTP only; --fec or --second-port without --rtp is a usage error):
// --fec also listens on port + 2 and + 4 for SMPTE 2022-1 FEC and rebuilds lost
// datagrams; --second-port (with its own group, source and interface) takes the
// same stream over a second path, merged per SMPTE 2022-7 (docs/protection.md).
//
// --from srt://... or rist://... (instead of --port) receives over SRT or RIST
// (docs/srt.md, docs/rist.md): the messages go the same way as UDP datagrams;
// what the transport gave up as too late is
// loss (status 3), and a refusal retrying cannot cure (a wrong passphrase)
// ends the run with status 1.

#include "CMetricsServer.h"
#include "CStopSignals.h"
#include "CStreamReport.h"
#include "CTransportUrl.h"
#include "CliCommands.h"
#include "analysis/CDecodeStream.h"
#include "common/CNetAddress.h"
#include "common/CSteadyClock.h"
#include "common/IMessageSink.h"
#include "engine/CDvbIpRecvThread.h"
#include "engine/CRecordController.h"
#include "engine/CRecordThread.h"

#include <arpa/inet.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <thread>

namespace
{
constexpr const char* kRtpHint = "look like RTP: use --rtp";
constexpr int kExitLost = 3;

struct RecordOptions
{
    int port = 0;
    std::string from; // srt://... or rist://...; empty: --port
    bool rtp = false;
    std::string group;
    std::string source;
    std::string interfaceName;
    std::string out;
    int seconds = -1;
    int megabytes = -1;
    int ring = 0;
    bool noAnalyzer = false;
    bool quiet = false;
    bool json = false;
    std::string metrics; // ADDR:PORT; empty: no metrics
    std::string name;    // the stream label; empty: the port
    bool fec = false;
    int secondPort = 0;
    std::string secondGroup;
    std::string secondSource;
    std::string secondInterface;
    int mergeWindowMs = static_cast<int>(CSeamlessMerge::kDefaultWindowMs);
};

class CStderrSink : public IMessageSink
{
public:
    void ShowMessage(const std::string& text) override
    {
        std::string oneLine = text;
        for (char& c : oneLine)
            if (c == '\n')
                c = ' ';
        std::fprintf(stderr, "orvane-cli: %s\n", oneLine.c_str());
    }
};

void AddReceiveOptions(CLI::App* cmd, RecordOptions& o)
{
    auto* port = cmd->add_option("--port", o.port, "Local UDP port to receive on")->check(CLI::Range(1, 65535));
    cmd->add_option("--from", o.from,
                    "Receive over SRT instead: srt://HOST:PORT?mode=caller|listener|rendezvous&latency=MS&"
                    "passphrase=...&streamid=... (docs/srt.md), or over RIST: rist://@:PORT or "
                    "rist://HOST:PORT?profile=simple|main&buffer=MS&secret=... (docs/rist.md)")
        ->excludes(port);
    cmd->add_flag("--rtp", o.rtp, "Datagrams carry an RTP header (put back into sequence order)");
    auto* group = cmd->add_option("--group", o.group, "Multicast group to join (IPv4 or IPv6, ff00::/8)");
    cmd->add_option("--source", o.source, "Source address for a source-specific join")->needs(group);
    cmd->add_option("--interface", o.interfaceName, "Interface (name or one of its addresses) to join the group on")
        ->needs(group);
    cmd->add_flag("--fec", o.fec, "Receive SMPTE 2022-1 FEC on port+2 (column) and port+4 (row) and rebuild losses");
    auto* second =
        cmd->add_option("--second-port", o.secondPort, "A second input of the same RTP stream (SMPTE 2022-7)")
            ->check(CLI::Range(1, 65535));
    auto* secondGroup =
        cmd->add_option("--second-group", o.secondGroup, "Multicast group of the second input")->needs(second);
    cmd->add_option("--second-source", o.secondSource, "Source address of the second input's join")->needs(secondGroup);
    cmd->add_option("--second-interface", o.secondInterface, "Interface of the second input's join")
        ->needs(secondGroup);
    cmd->add_option("--merge-window", o.mergeWindowMs, "Path-skew window of the merge in ms (1-500, default 50)")
        ->check(CLI::Range(1, static_cast<int>(CSeamlessMerge::kMaxWindowMs)))
        ->needs(second);
    cmd->add_flag("--no-analyzer", o.noAnalyzer, "Do not analyse the stream");
    cmd->add_flag("--quiet", o.quiet, "No status line every second");
    cmd->add_flag("--json", o.json, "One JSON object per second on standard output instead of the status line");
    cmd->add_option("--metrics", o.metrics, "Serve Prometheus metrics at http://ADDR:PORT/metrics");
    cmd->add_option("--name", o.name, "The stream label of the metrics (default: the port)");
}

// What one second of the stream looks like to the JSON line and the metrics.
// The rate is what the receiver passed on in @p elapsedMs, finer than the
// record thread's blocks.
CStreamReport::Receive TakeFigures(CDecodeStream& analysis, const CDvbIpRecvThread& receiver, bool analysed,
                                   std::uint64_t& lastReceived, std::uint32_t elapsedMs)
{
    CStreamReport::Receive r;
    r.time = std::chrono::system_clock::now();
    r.pcrBitRate = analysis.State().m_bitRate.load();
    r.mdi = receiver.GetMdi();
    r.counters = receiver.GetCounters();
    r.bitRate = static_cast<double>(r.counters.payloadBytes - lastReceived) * 8'000.0 / std::max(elapsedMs, 1u);
    lastReceived = r.counters.payloadBytes;
    if (analysed)
    {
        CAnalysisSnapshot snapshot = analysis.TakeSnapshot();
        r.packets = snapshot.totalPackets;
        r.tr101290 = snapshot.tr101290;
        r.pids = std::move(snapshot.pids);
    }
    else
        r.packets = r.counters.payloadBytes / receiver.GetPacketBytes();
    return r;
}

// With SIGPIPE ignored, a closed standard output shows here.
bool StdoutFailed()
{
    if (std::fflush(stdout) == 0 && std::ferror(stdout) == 0)
        return false;
    const int error = errno;
    std::fprintf(stderr, "orvane-cli: standard output failed (%s); stopping\n", std::strerror(error));
    return true;
}

std::string FormatRate(double bitsPerSecond)
{
    // Below 1 bit/s there is nothing to show.
    if (static_cast<std::uint32_t>(bitsPerSecond) == 0)
        return "-";
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", bitsPerSecond / 1'000'000.0);
    return text;
}

// The membership of --group/--source/--interface (or their --second- forms). @return false after the message.
bool ParseMembership(const char* prefix, const std::string& group, const std::string& source,
                     const std::string& interfaceName, CDvbIpRecvThread::Membership& membership)
{
    if (group.empty())
        return true;
    if (!CNetAddress::ParseHost(group, membership.group) || !membership.group.IsMulticast())
    {
        std::fprintf(stderr,
                     "orvane-cli: --%sgroup %s is not a multicast address (IPv4 224.0.0.0/4 or IPv6 ff00::/8)\n",
                     prefix, group.c_str());
        return false;
    }
    if (!source.empty() && !CNetAddress::ParseHost(source, membership.source))
    {
        std::fprintf(stderr, "orvane-cli: --%ssource %s is not an IPv4 or IPv6 address\n", prefix, source.c_str());
        return false;
    }
    if (membership.source.IsSet() && membership.source.Family() != membership.group.Family())
    {
        std::fprintf(stderr, "orvane-cli: --%ssource %s and --%sgroup %s are not of one family (IPv4, IPv6)\n", prefix,
                     source.c_str(), prefix, group.c_str());
        return false;
    }
    if (!interfaceName.empty() && CNetAddress::InterfaceIndex(interfaceName) == 0)
    {
        std::fprintf(stderr, "orvane-cli: --%sinterface %s: no such interface or interface address\n", prefix,
                     interfaceName.c_str());
        return false;
    }
    membership.interfaceName = interfaceName;
    return true;
}

// "; FEC ... ; path 1 ..." for the final summary line; empty without protection.
std::string ProtectionSummary(const CDvbIpRecvThread::Counters& c)
{
    std::string text;
    char part[160];
    if (c.fec)
    {
        std::snprintf(part, sizeof part, "; FEC: %llu recovered, %llu unrecoverable, %llu FEC packets",
                      static_cast<unsigned long long>(c.fecRecovered),
                      static_cast<unsigned long long>(c.fecUnrecoverable),
                      static_cast<unsigned long long>(c.fecPackets));
        text += part;
        if (c.fecInvalid > 0)
            text += " (" + std::to_string(c.fecInvalid) + " of no use: malformed or inconsistent)";
    }
    if (c.twoPaths)
    {
        for (std::size_t p = 0; p < c.paths.size(); ++p)
        {
            std::snprintf(part, sizeof part, "; path %zu: %llu received, %llu missing, %llu only here", p + 1,
                          static_cast<unsigned long long>(c.paths[p].received),
                          static_cast<unsigned long long>(c.paths[p].missing),
                          static_cast<unsigned long long>(c.paths[p].onlyHere));
            text += part;
        }
        std::snprintf(part, sizeof part, "; skew %.1f ms", c.skewMs);
        text += part;
    }
    return text;
}

int Run(const RecordOptions& o, bool record)
{
    CTransportUrl link; // before the receiver, which closes the input when it goes
    const bool overLink = !o.from.empty();
    if (!overLink && o.port == 0)
    {
        std::fprintf(stderr, "orvane-cli: --port or --from is required\n");
        return 2;
    }
    if (overLink)
    {
        std::string error;
        if (!CTransportUrl::IsTransport(o.from))
            error = "expected srt://... or rist://...";
        if (!error.empty() || !link.MakeInput(o.from, error))
        {
            std::fprintf(stderr, "orvane-cli: bad --from \"%s\": %s\n", o.from.c_str(), error.c_str());
            return 2;
        }
        if (o.rtp || o.fec || o.secondPort != 0 || !o.group.empty())
        {
            std::fprintf(stderr, "orvane-cli: %s does not go with --from %s: %s carries the datagrams itself\n",
                         o.rtp               ? "--rtp"
                         : o.fec             ? "--fec"
                         : o.secondPort != 0 ? "--second-port"
                                             : "--group",
                         o.from.substr(0, o.from.find(':') + 3).c_str(), link.Name());
            return 2;
        }
    }
    if ((o.fec || o.secondPort != 0) && !o.rtp)
    {
        std::fprintf(stderr, "orvane-cli: %s needs --rtp\n", o.fec ? "--fec" : "--second-port");
        return 2;
    }
    CDvbIpRecvThread::Membership membership;
    CDvbIpRecvThread::Membership secondMembership;
    if (!ParseMembership("", o.group, o.source, o.interfaceName, membership) ||
        !ParseMembership("second-", o.secondGroup, o.secondSource, o.secondInterface, secondMembership))
        return 2;

    std::string metricsHost;
    std::uint16_t metricsPort = 0;
    if (!o.metrics.empty() && !CMetricsServer::ParseListen(o.metrics, metricsHost, metricsPort))
    {
        std::fprintf(stderr, "orvane-cli: bad --metrics \"%s\": expected ADDR:PORT (IPv4 address or *, port 1-65535)\n",
                     o.metrics.c_str());
        return 2;
    }
    const std::string streamName = !o.name.empty() ? o.name : overLink ? link.DisplayUrl() : std::to_string(o.port);
    const std::string inputName = overLink ? link.DisplayUrl() : "port " + std::to_string(o.port);
    const char* mode = record ? "record" : "monitor";

    // Ignoring SIGPIPE and SIGXFSZ before any thread starts: every thread gets EPIPE/EFBIG.
    const CStopSignals stopSignals(true);
    // Before anything is received or written: a port in use ends the run at once.
    CMetricsServer metrics;
    if (!o.metrics.empty())
    {
        if (!metrics.Start(metricsHost, metricsPort))
        {
            std::fprintf(stderr, "orvane-cli: %s\n", metrics.Error().c_str());
            return 1;
        }
        metrics.SetText(CStreamReport::ReceiveMetrics(streamName, mode, CStreamReport::Receive()));
    }
    CStderrSink sink;
    auto analysis = std::make_unique<CDecodeStream>();
    auto receiver = std::make_unique<CDvbIpRecvThread>();
    receiver->SetPort(static_cast<std::uint16_t>(o.port));
    receiver->SetRtp(o.rtp);
    receiver->SetMembership(membership);
    receiver->SetFec(o.fec);
    receiver->SetSecondInput(static_cast<std::uint16_t>(o.secondPort), secondMembership);
    receiver->SetMergeWindowMs(static_cast<std::uint32_t>(o.mergeWindowMs));
    if (overLink)
        receiver->SetInput(link.Input());
    // Standard output carries the JSON lines only: the RTP gap lines go with the messages.
    if (o.json)
        receiver->SetDiagnostics(stderr);
    CRecordThread recorder(receiver.get(), &sink);
    recorder.SetAnalysis(analysis.get());
    recorder.SetAnalyzerEnabled(!o.noAnalyzer);
    CRecordController controller(recorder, *receiver);

    CRecordController::Settings settings;
    settings.outputFile = o.out;
    settings.limitEnabled = o.seconds >= 0 || o.megabytes >= 0;
    settings.sizeUnit = o.megabytes >= 0 ? CRecordController::kMegabytes : CRecordController::kSeconds;
    settings.recordingSize = o.megabytes >= 0 ? o.megabytes : o.seconds;
    settings.loopEnabled = o.ring > 0;
    settings.loopCount = o.ring > 0 ? o.ring : 1;
    controller.SetSettings(settings);

    const std::uint32_t startTick = CSteadyClock::GetTickMs();
    const bool started = record ? controller.StartRecord(startTick) : controller.StartMonitor();
    if (!started)
    {
        // A file that cannot be created has had its message through the sink.
        if (!receiver->LastError().empty())
            std::fprintf(stderr, "orvane-cli: cannot receive on %s: %s\n", inputName.c_str(),
                         receiver->LastError().c_str());
        else if (record && recorder.GetFailureText().empty())
            std::fprintf(stderr, "orvane-cli: cannot record to %s\n", o.out.c_str());
        return 1;
    }
    if (!o.quiet)
        std::fprintf(stderr, "orvane-cli: %s %s %s%s%s%s%s\n", record ? "recording" : "monitoring",
                     overLink ? link.Name()
                     : o.rtp  ? "RTP"
                              : "UDP",
                     inputName.c_str(), o.fec ? " with FEC" : "",
                     o.secondPort != 0 ? (" and port " + std::to_string(o.secondPort)).c_str() : "",
                     record ? " to " : "", record ? recorder.GetFileName().c_str() : "");

    int exitCode = 0;
    std::string statusText = "No errors detected";
    std::uint32_t lastStatusTick = startTick;
    std::uint64_t lastReceived = 0;
    bool rtpHintShown = false;
    // Bounded: ends on a signal, at the limit, on failure, or after --seconds when monitoring.
    while (CStopSignals::Received() == 0)
    {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        const std::uint32_t now = CSteadyClock::GetTickMs();
        const auto event = controller.Tick(now);
        if (event == CRecordController::Event::Failed)
        {
            exitCode = 1;
            break;
        }
        if (event == CRecordController::Event::LimitStopped)
            break;
        if (overLink && link.Input()->HasFailed())
        {
            std::fprintf(stderr, "orvane-cli: %s\n", link.Input()->LastError().c_str());
            exitCode = 1;
            break;
        }
        if (event == CRecordController::Event::Rotated && !o.quiet)
            std::fprintf(stderr, "orvane-cli: next ring file %d\n", controller.GetFileIndex());
        if (!record && o.seconds >= 0 && now - startTick >= static_cast<std::uint32_t>(std::max(o.seconds, 1)) * 1000u)
            break;
        if (now - lastStatusTick >= 1'000)
        {
            const std::uint32_t elapsedMs = now - lastStatusTick;
            // One look at the receiver and the analysis a second, for every output.
            CStreamReport::Receive figures = TakeFigures(*analysis, *receiver, !o.noAnalyzer, lastReceived, elapsedMs);
            if (overLink)
                figures.transport = link.Input()->GetStats();
            const auto& counters = figures.counters;
            if (!rtpHintShown && !o.rtp && CDvbIpRecvThread::LooksLikeRtp(counters))
            {
                std::fprintf(stderr, "orvane-cli: the datagrams %s\n", kRtpHint);
                rtpHintShown = true;
            }
            const std::uint64_t taken = recorder.GetBytesTaken();
            lastStatusTick = now;
            statusText = CRecordController::StatusText(receiver->GetStatus(), statusText);
            std::string restarts;
            if (o.rtp)
                restarts = "  restarts " + std::to_string(counters.restarts);
            if (counters.tooLate > 0)
                restarts += "  too late " + std::to_string(counters.tooLate);
            if (counters.fec)
                restarts += "  FEC rec/unrec " + std::to_string(counters.fecRecovered) + '/' +
                            std::to_string(counters.fecUnrecoverable);
            if (counters.fecInvalid > 0)
                restarts += "  FEC invalid " + std::to_string(counters.fecInvalid);
            if (counters.twoPaths)
                restarts += "  only on path 1/2 " + std::to_string(counters.paths[0].onlyHere) + '/' +
                            std::to_string(counters.paths[1].onlyHere);
            if (overLink)
                restarts += "  lost here " + std::to_string(counters.transportDrops) + "  " +
                            CStreamReport::TransportText(figures.transport);
            if (!o.metrics.empty())
                metrics.SetText(CStreamReport::ReceiveMetrics(streamName, mode, figures));
            if (o.json)
            {
                std::printf("%s\n", CStreamReport::JsonLine(figures).c_str());
                if (StdoutFailed())
                {
                    exitCode = 1;
                    break;
                }
            }
            if (!o.quiet && !o.json)
            {
                // MDI as DF:MLR, and the TR 101 290 events of each priority so far.
                const CDvbIpRecvThread::Mdi& mdi = figures.mdi;
                char quality[96] = "DF:MLR -";
                if (mdi.valid)
                    std::snprintf(quality, sizeof quality, "DF:MLR %.1f:%.0f", mdi.dfMs, mdi.mlr);
                if (!o.noAnalyzer)
                {
                    const CTr101290Counters& tr = figures.tr101290;
                    const std::size_t used = std::strlen(quality);
                    std::snprintf(quality + used, sizeof quality - used, "  TR 101 290 p1 %llu p2 %llu",
                                  static_cast<unsigned long long>(tr.Total(1)),
                                  static_cast<unsigned long long>(tr.Total(2)));
                }
                std::printf("%s  %llu MB  in %s Mb/s  bit rate %s  packet size %d  sync loss %d  %s  kernel drops "
                            "%llu%s  %s\n",
                            CRecordController::FormatElapsed((now - startTick) / 1000).c_str(),
                            static_cast<unsigned long long>((record ? recorder.GetBytesWritten() : taken) /
                                                            CRecordController::kBytesPerMegabyte),
                            FormatRate(figures.bitRate).c_str(), FormatRate(analysis->State().m_bitRate.load()).c_str(),
                            analysis->m_packetSize.load(), analysis->m_syncLoss.load(), quality,
                            static_cast<unsigned long long>(counters.kernelDrops), restarts.c_str(),
                            statusText.c_str());
                if (StdoutFailed())
                {
                    exitCode = 1;
                    break;
                }
            }
        }
    }
    if (recorder.GetState() != CRecordThread::kStopped)
        controller.Stop();
    if (!metrics.Stop())
        std::fprintf(stderr, "orvane-cli: the metrics server did not end in time\n");
    if (recorder.HasFailed())
        exitCode = 1;

    const auto c = receiver->GetCounters();
    std::fprintf(stderr,
                 "orvane-cli: %llu bytes in %llu datagrams; dropped: %llu late or duplicate, %llu invalid, "
                 "%llu overflow; %llu missing, %llu restarts; %llu lost in the kernel receive queue%s\n",
                 static_cast<unsigned long long>(c.payloadBytes), static_cast<unsigned long long>(c.datagrams),
                 static_cast<unsigned long long>(c.late), static_cast<unsigned long long>(c.invalid),
                 static_cast<unsigned long long>(c.overflowDrops), static_cast<unsigned long long>(c.missing),
                 static_cast<unsigned long long>(c.restarts), static_cast<unsigned long long>(c.kernelDrops),
                 ProtectionSummary(c).c_str());
    if (c.tooLate != 0)
        std::fprintf(stderr,
                     "orvane-cli: %llu of the missing datagrams came after their sequence number was given up\n",
                     static_cast<unsigned long long>(c.tooLate));
    if (c.oversized != 0)
        std::fprintf(stderr, "orvane-cli: %llu of the invalid datagrams were larger than %u bytes\n",
                     static_cast<unsigned long long>(c.oversized), DvbIpRecvBufferPool::kBufferBytes);
    if (c.receiveErrors != 0)
        std::fprintf(stderr, "orvane-cli: receiving failed %llu time(s), last: %s\n",
                     static_cast<unsigned long long>(c.receiveErrors), std::strerror(receiver->GetLastReceiveError()));
    if (!o.rtp && CDvbIpRecvThread::LooksLikeRtp(c))
        std::fprintf(stderr, "orvane-cli: %llu of %llu datagrams %s\n", static_cast<unsigned long long>(c.rtpInUdpMode),
                     static_cast<unsigned long long>(c.received), kRtpHint);
    if (overLink)
    {
        const TransportStats t = link.Input()->GetStats();
        std::fprintf(stderr,
                     "orvane-cli: %s: %llu given up by %s as too late; %llu connection(s), %llu reconnect(s), %llu "
                     "retransmitted, %llu found missing (recovered unless given up)\n",
                     link.Name(), static_cast<unsigned long long>(c.transportDrops), link.Name(),
                     static_cast<unsigned long long>(t.connections), static_cast<unsigned long long>(t.reconnects),
                     static_cast<unsigned long long>(t.retransmitted), static_cast<unsigned long long>(t.lost));
    }
    // A sequence number given up is a hole in the file, whatever came for it later.
    if (exitCode == 0 && c.kernelDrops + c.overflowDrops + c.transportDrops + c.missing + c.tooLate != 0)
        exitCode = kExitLost;
    if (recorder.GetBufferedFallbacks() != 0)
        std::fprintf(stderr, "orvane-cli: unbuffered writes fell behind; %u file(s) went on through the page cache\n",
                     recorder.GetBufferedFallbacks());
    return exitCode;
}
} // namespace

void AddRecordCommands(CLI::App& app, int& exitCode)
{
    auto record = std::make_shared<RecordOptions>();
    auto* rec = app.add_subcommand("record", "Receive a UDP/RTP stream into a file or a ring of files");
    AddReceiveOptions(rec, *record);
    rec->add_option("--out", record->out, "Output file (ring files are named NAME-0.EXT, NAME-1.EXT, ...)")->required();
    auto* secs = rec->add_option("--seconds", record->seconds, "Limit per file in seconds (0 counts as 1)")
                     ->check(CLI::NonNegativeNumber);
    auto* mbs = rec->add_option("--megabytes", record->megabytes, "Limit per file in MiB (0 counts as 1)")
                    ->check(CLI::NonNegativeNumber);
    secs->excludes(mbs);
    rec->add_option("--ring", record->ring, "Rotate over a ring of N files at the limit (1..100)")
        ->check(CLI::Range(1, 100));
    rec->callback([record, &exitCode] {
        if (record->ring > 0 && record->seconds < 0 && record->megabytes < 0)
        {
            std::fprintf(stderr, "orvane-cli: --ring needs --seconds or --megabytes\n");
            exitCode = 2;
            return;
        }
        exitCode = Run(*record, true);
    });

    auto monitor = std::make_shared<RecordOptions>();
    auto* mon = app.add_subcommand("monitor", "Receive and analyse a UDP/RTP stream without writing it");
    AddReceiveOptions(mon, *monitor);
    mon->add_option("--seconds", monitor->seconds, "End after this many seconds")->check(CLI::NonNegativeNumber);
    mon->callback([monitor, &exitCode] { exitCode = Run(*monitor, false); });
}
