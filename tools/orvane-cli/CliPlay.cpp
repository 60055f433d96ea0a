// orvane-cli play: plays a transport-stream file to UDP/RTP as the Play tab
// does, through the same play controller: the options become its settings, a
// status line every second shows its progress, and the play ends when it has
// played out (or on a stop signal). With --metrics ADDR:PORT its progress is
// served at /metrics (a port that cannot be bound: status 1, before the play).
// Protection (RTP only for FEC): --fec L,D sends SMPTE 2022-1 FEC to port + 2
// (and + 4 with row+column), --to given twice plays the same RTP datagrams to
// two destinations (SMPTE 2022-7), --impair loses, re-orders, duplicates and
// delays datagrams on purpose on every output path; all of it is counted in the
// status line and the summary, and deliberate loss alone keeps exit status 0.
// --to srt://... or rist://... plays over SRT or RIST instead (docs/srt.md,
// docs/rist.md): the same pacing, one datagram unit per message; the status
// line adds the link's figures, and a refusal retrying cannot cure (a wrong
// passphrase) ends the play with status 1.

#include "CMetricsServer.h"
#include "CStopSignals.h"
#include "CStreamReport.h"
#include "CTransportUrl.h"
#include "CliCommands.h"
#include "analysis/CDecodeStream.h"
#include "analysis/CFileAnalysis.h"
#include "common/CNetAddress.h"
#include "common/IMessageSink.h"
#include "common/Ipv4Address.h"
#include "engine/CFilePlayEngine.h"
#include "engine/CNetworkSender.h"
#include "engine/CPlayController.h"
#include "engine/CSendPaths.h"

#include <arpa/inet.h>
#include <ifaddrs.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace
{
constexpr int kExitFile = 1;
constexpr int kExitUsage = 2;

struct PlayOptions
{
    std::string file;
    std::vector<std::string> to;
    bool rtp = false;
    bool loop = false;
    std::uint32_t position = 0;
    bool positionGiven = false; // without --position the play starts at the range start
    std::string range;
    std::uint64_t bitRate = 0; // 0: from the file
    std::uint32_t packetSize = 0;
    bool burst = false;
    std::string pacing; // empty: auto
    bool pcrRestamp = false;
    bool ccRestamp = false;
    std::string tdt;           // empty: the TDT/TOT pass unchanged
    int ttl = 0;               // multicast hop limit; 0: the system's (1)
    std::string interfaceName; // multicast outgoing interface; empty: the route's
    std::string metrics;       // ADDR:PORT; empty: no metrics
    std::string name;          // the stream label; empty: the file name
    bool quiet = false;        // no status line every second (services, metrics only)
    std::string fec;           // L,D; empty: no FEC
    std::string fecMode;       // column or row+column; empty: column
    std::string impair;        // the impairment text; empty: none
    std::uint64_t impairSeed = 1;
};

class StderrSink : public IMessageSink
{
public:
    void ShowMessage(const std::string& text) override { std::fprintf(stderr, "orvane-cli play: %s\n", text.c_str()); }
};

bool ParseRange(const std::string& text, std::uint32_t& start, std::uint32_t& end)
{
    unsigned s = 0, e = 0;
    char tail = 0;
    if (std::sscanf(text.c_str(), "%u:%u%c", &s, &e, &tail) != 2 || s >= e || e > 1'000)
        return false;
    start = s;
    end = e;
    return true;
}

// --tdt: "file" (type 0), "now" (type 1) or a local "YYYY-MM-DD HH:MM:SS" (type 2,
// as an offset from now, like the Play tab's dialog).
bool ParseTdt(const std::string& text, std::int32_t& type, std::int64_t& offset)
{
    offset = 0;
    if (text == "file")
    {
        type = 0;
        return true;
    }
    if (text == "now")
    {
        type = 1;
        return true;
    }
    std::tm fields{};
    char tail = 0;
    if (std::sscanf(text.c_str(), "%4d-%2d-%2d %2d:%2d:%2d%c", &fields.tm_year, &fields.tm_mon, &fields.tm_mday,
                    &fields.tm_hour, &fields.tm_min, &fields.tm_sec, &tail) != 6)
        return false;
    if (fields.tm_year < 1970 || fields.tm_mon < 1 || fields.tm_mon > 12 || fields.tm_mday < 1 || fields.tm_mday > 31 ||
        fields.tm_hour > 23 || fields.tm_min > 59 || fields.tm_sec > 59)
        return false;
    fields.tm_year -= 1900;
    fields.tm_mon -= 1;
    fields.tm_isdst = -1;
    const std::time_t chosen = std::mktime(&fields);
    if (chosen == static_cast<std::time_t>(-1))
        return false;
    type = 2;
    offset = static_cast<std::int64_t>(chosen) - static_cast<std::int64_t>(std::time(nullptr));
    return true;
}

// An interface given by its IPv4 address or by its name (its first IPv4 address).
bool ParseInterface(const std::string& text, std::uint32_t& address)
{
    if (ParseIpv4(text, address))
        return true;
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0)
        return false;
    bool found = false;
    for (const ifaddrs* i = list; i != nullptr && !found; i = i->ifa_next)
    {
        if (i->ifa_addr != nullptr && i->ifa_addr->sa_family == AF_INET && text == i->ifa_name)
        {
            address = ntohl(reinterpret_cast<const sockaddr_in*>(i->ifa_addr)->sin_addr.s_addr);
            found = true;
        }
    }
    freeifaddrs(list);
    return found;
}

CStreamReport::Play PlayFigures(const CPlayController::PlayProgress& progress, const CNetworkSender& sender)
{
    CStreamReport::Play p;
    p.bitRate = sender.GetBitRate();
    const std::uint32_t capacity = sender.GetFifoCapacity();
    p.fifoLevelRatio = capacity != 0 ? std::min(1.0, static_cast<double>(progress.fifoLevel) / capacity) : 0.0;
    p.sendErrors = progress.datagramsNotSent;
    p.loops = progress.loopCount;
    p.sentBytes = sender.GetBytesSent();
    p.impairment = progress.impairment;
    p.fec = progress.fec;
    return p;
}

// --fec L,D and --fec-mode: @return "" when good, else what is wrong.
std::string ParseFec(const PlayOptions& o, CFecEncoder::Settings& fec)
{
    unsigned l = 0, d = 0;
    char tail = 0;
    if (std::sscanf(o.fec.c_str(), "%u,%u%c", &l, &d, &tail) != 2)
        return "bad --fec \"" + o.fec + "\": expected L,D (columns 1-20, rows 4-20, L x D <= 100)";
    fec.columns = l;
    fec.rows = d;
    if (o.fecMode.empty() || o.fecMode == "column")
        fec.mode = CFecEncoder::Mode::Column;
    else if (o.fecMode == "row+column")
        fec.mode = CFecEncoder::Mode::RowColumn;
    else
        return "bad --fec-mode \"" + o.fecMode + "\": expected column or row+column";
    const std::string fault = CFecEncoder::CheckSettings(fec);
    return fault.empty() ? fault : "bad --fec \"" + o.fec + "\": " + fault;
}

// "FEC: ..." for the summary and the status line's short form.
std::string FecText(const CFecEncoder::Counters& c)
{
    std::string text = "FEC: " + CFilePlayEngine::FormatThousands(static_cast<std::int64_t>(c.media)) +
                       " media datagrams protected, " +
                       CFilePlayEngine::FormatThousands(static_cast<std::int64_t>(c.column)) + " column and " +
                       CFilePlayEngine::FormatThousands(static_cast<std::int64_t>(c.row)) + " row FEC datagrams";
    if (c.abandoned > 0)
        text += ", " + CFilePlayEngine::FormatThousands(static_cast<std::int64_t>(c.abandoned)) +
                " not protected (sequence breaks)";
    if (c.refused > 0)
        text += ", " + CFilePlayEngine::FormatThousands(static_cast<std::int64_t>(c.refused)) +
                " refused (not RTP or too long)";
    return text;
}

// The network status with its detail, as one field of the status line.
std::string StatusLine(const CPlayController::PlayProgress& progress)
{
    return progress.statusDetail.empty() ? progress.statusText : progress.statusText + ": " + progress.statusDetail;
}

int RunPlay(const PlayOptions& o)
{
    std::vector<CSendPaths::Destination> extra;
    std::string toText;
    if (o.to.size() > CSendPaths::kMaxPaths)
    {
        std::fprintf(stderr, "orvane-cli play: at most %zu --to destinations\n", CSendPaths::kMaxPaths);
        return kExitUsage;
    }
    CTransportUrl link; // before the sender, which closes the output when it goes
    const bool overLink = CTransportUrl::IsTransport(o.to.front());
    if (overLink)
    {
        std::string linkError;
        if (!link.MakeOutput(o.to.front(), linkError))
        {
            std::fprintf(stderr, "orvane-cli play: bad destination \"%s\": %s\n", o.to.front().c_str(),
                         linkError.c_str());
            return kExitUsage;
        }
        const char* clash = o.to.size() > 1            ? "a second --to"
                            : o.rtp                    ? "--rtp"
                            : o.ttl != 0               ? "--ttl"
                            : !o.interfaceName.empty() ? "--interface"
                            : !o.fec.empty()           ? "--fec"
                            : !o.impair.empty()        ? "--impair"
                                                       : nullptr;
        if (clash != nullptr)
        {
            std::fprintf(stderr, "orvane-cli play: %s does not go with %s: %s carries the datagrams itself\n", clash,
                         o.to.front().substr(0, o.to.front().find(':') + 3).c_str(), link.Name());
            return kExitUsage;
        }
        toText = link.DisplayUrl();
    }
    CNetAddress destination;
    const std::vector<std::string> noDestinations;
    const std::vector<std::string>& destinations = overLink ? noDestinations : o.to;
    for (const std::string& to : destinations)
    {
        CNetAddress parsed;
        if (!CNetAddress::Parse(to, parsed))
        {
            std::fprintf(stderr,
                         "orvane-cli play: bad destination \"%s\": expected IPv4ADDRESS:PORT or [IPv6ADDRESS]:PORT "
                         "(port 1-65535)\n",
                         to.c_str());
            return kExitUsage;
        }
        if (&to == &destinations.front())
            destination = parsed;
        else if (!parsed.IsIpv4() || !destination.IsIpv4())
        {
            std::fprintf(stderr, "orvane-cli play: more than one --to works over IPv4 only\n");
            return kExitUsage;
        }
        else
            extra.push_back({parsed.Ipv4(), parsed.Port()});
        toText += (toText.empty() ? "" : " and ") + to;
    }
    if ((!o.fec.empty() || !o.impair.empty()) && destination.IsIpv6())
    {
        std::fprintf(stderr, "orvane-cli play: %s works over IPv4 only\n", !o.fec.empty() ? "--fec" : "--impair");
        return kExitUsage;
    }

    std::optional<CFecEncoder::Settings> fec;
    if (!o.fecMode.empty() && o.fec.empty())
    {
        std::fprintf(stderr, "orvane-cli play: --fec-mode needs --fec L,D\n");
        return kExitUsage;
    }
    if (!o.fec.empty())
    {
        if (!o.rtp)
        {
            std::fprintf(stderr, "orvane-cli play: --fec needs --rtp\n");
            return kExitUsage;
        }
        fec.emplace();
        const std::string fault = ParseFec(o, *fec);
        if (!fault.empty())
        {
            std::fprintf(stderr, "orvane-cli play: %s\n", fault.c_str());
            return kExitUsage;
        }
        for (const std::string& to : o.to)
        {
            CNetAddress parsed;
            CNetAddress::Parse(to, parsed);
            if (parsed.Port() > 65'535 - (fec->mode == CFecEncoder::Mode::RowColumn ? 4 : 2))
            {
                std::fprintf(stderr, "orvane-cli play: %s: the FEC ports (port + 2, + 4) would be above 65535\n",
                             to.c_str());
                return kExitUsage;
            }
        }
    }
    CImpairment::Settings impairment;
    std::string impairError;
    if (!o.impair.empty() && !CImpairment::Parse(o.impair, impairment, impairError))
    {
        std::fprintf(stderr, "orvane-cli play: bad --impair \"%s\": %s\n", o.impair.c_str(), impairError.c_str());
        return kExitUsage;
    }
    std::uint32_t rangeStart = 0, rangeEnd = 1'000;
    if (!o.range.empty() && !ParseRange(o.range, rangeStart, rangeEnd))
    {
        std::fprintf(stderr,
                     "orvane-cli play: bad range \"%s\": expected START:END per mille, 0 <= START < END <= 1000\n",
                     o.range.c_str());
        return kExitUsage;
    }
    if (o.position > 1'000)
    {
        std::fprintf(stderr, "orvane-cli play: bad position %u: per mille, 0..1000\n", o.position);
        return kExitUsage;
    }
    if (o.bitRate > 0xFFFF'FFFFu)
    {
        std::fprintf(stderr, "orvane-cli play: bit rate %llu too high: at most 4294967295 bit/s\n",
                     static_cast<unsigned long long>(o.bitRate));
        return kExitUsage;
    }

    // IPv4 groups leave by the interface's address, IPv6 groups by its index.
    std::uint32_t interfaceAddress = 0;
    unsigned interfaceIndex = 0;
    if (!o.interfaceName.empty() &&
        (destination.IsIpv6() ? (interfaceIndex = CNetAddress::InterfaceIndex(o.interfaceName)) == 0
                              : !ParseInterface(o.interfaceName, interfaceAddress)))
    {
        std::fprintf(stderr, "orvane-cli play: bad --interface \"%s\": no such %s address or interface\n",
                     o.interfaceName.c_str(), destination.IsIpv6() ? "IPv6" : "IPv4");
        return kExitUsage;
    }
    if ((o.ttl != 0 || !o.interfaceName.empty()) && !destination.IsMulticast())
    {
        std::fprintf(stderr, "orvane-cli play: --ttl and --interface are for a multicast destination (224.0.0.0/4 or "
                             "ff00::/8)\n");
        return kExitUsage;
    }

    CNetworkSender::PacingMode pacing = CNetworkSender::PacingMode::Auto;
    if (!o.pacing.empty() && !CNetworkSender::ParsePacing(o.pacing, pacing))
    {
        std::fprintf(stderr, "orvane-cli play: bad --pacing \"%s\": expected auto, uring, txtime, thread or burst\n",
                     o.pacing.c_str());
        return kExitUsage;
    }
    if (o.burst)
        pacing = CNetworkSender::PacingMode::Burst; // --burst is --pacing burst

    std::int32_t timeType = 0;
    std::int64_t timeOffset = 0;
    if (!o.tdt.empty() && !ParseTdt(o.tdt, timeType, timeOffset))
    {
        std::fprintf(stderr,
                     "orvane-cli play: bad --tdt \"%s\": expected file, now or \"YYYY-MM-DD HH:MM:SS\" (local time)\n",
                     o.tdt.c_str());
        return kExitUsage;
    }

    std::string metricsHost;
    std::uint16_t metricsPort = 0;
    if (!o.metrics.empty() && !CMetricsServer::ParseListen(o.metrics, metricsHost, metricsPort))
    {
        std::fprintf(stderr,
                     "orvane-cli play: bad --metrics \"%s\": expected ADDR:PORT (IPv4 address or *, port 1-65535)\n",
                     o.metrics.c_str());
        return kExitUsage;
    }
    const std::string streamName = o.name.empty() ? std::filesystem::path(o.file).filename().string() : o.name;
    CMetricsServer metrics;
    if (!o.metrics.empty())
    {
        if (!metrics.Start(metricsHost, metricsPort))
        {
            std::fprintf(stderr, "orvane-cli play: %s\n", metrics.Error().c_str());
            return kExitFile;
        }
        metrics.SetText(CStreamReport::PlayMetrics(streamName, CStreamReport::Play()));
    }

    // Analyse first, as the Play tab does on opening a file: packet size, PCR
    // bit rate (or the default rate by file size) and play time.
    CDecodeStream decoder;
    StderrSink messages;
    CNetworkSender sender;
    CPlayController play(sender, decoder, &messages);
    const CFileAnalysisResult est = play.Analyse(o.file);

    CPlayController::PlaySettings settings;
    settings.address = destination.Ipv4();
    settings.port = destination.Port();
    settings.destination = destination;
    settings.rtp = o.rtp;
    settings.ttl = o.ttl;
    settings.interfaceAddress = interfaceAddress;
    settings.interfaceIndex = interfaceIndex;
    settings.loop = o.loop;
    settings.rangeStart = rangeStart;
    settings.rangeEnd = rangeEnd;
    if (o.positionGiven)
        settings.position = o.position;
    settings.bitRate = static_cast<std::uint32_t>(o.bitRate);
    settings.packetSize = o.packetSize;
    settings.smoothPacing = pacing != CNetworkSender::PacingMode::Burst;
    settings.pacing = pacing;
    settings.adaptations = {o.pcrRestamp, o.ccRestamp, !o.tdt.empty(), timeType, timeOffset};
    settings.fec = fec;
    settings.impairment = impairment;
    settings.impairSeed = o.impairSeed;
    settings.extraDestinations = extra;
    settings.output = link.Output();

    const CStopSignals stopSignals;

    switch (play.Start(o.file, settings))
    {
    case CPlayController::StartResult::Started:
    case CPlayController::StartResult::AlreadyPlaying:
        break;
    case CPlayController::StartResult::NotTransportStream:
        std::fprintf(stderr, "orvane-cli play: %s: %s\n", o.file.c_str(),
                     play.File().error.empty() ? "no transport stream packets found" : play.File().error.c_str());
        return kExitUsage;
    case CPlayController::StartResult::PacketSizeMismatch:
        std::fprintf(stderr, "orvane-cli play: --packet-size %u does not match %s (%d-byte packets)\n", o.packetSize,
                     o.file.c_str(), est.packetSize);
        return kExitUsage;
    case CPlayController::StartResult::PositionOutsideRange:
        std::fprintf(stderr, "orvane-cli play: --position %u is outside --range %u:%u\n", o.position, rangeStart,
                     rangeEnd);
        return kExitUsage;
    case CPlayController::StartResult::Failed:
        return kExitFile; // the engine has said why
    }
    const char* rateSource = o.bitRate != 0 ? "given"
                             : est.pcrFound ? "PCR"
                                            : "default for the file size, no PCR found";
    const std::string sizeText = CFilePlayEngine::FormatThousands(est.fileSize);
    const std::string rateText = CFilePlayEngine::FormatThousands(play.BitRate());
    const CPlayController::PlayProgress first = play.Progress();
    std::printf("Playing %s (%s bytes, %u-byte packets) to %s %s at %s bit/s (%s), %s pacing\n", o.file.c_str(),
                sizeText.c_str(), play.PacketSize(), toText.c_str(),
                overLink ? link.Name()
                : o.rtp  ? "RTP"
                         : "UDP",
                rateText.c_str(), rateSource, first.pacing.c_str());
    if (fec)
        std::printf("FEC: SMPTE 2022-1, %u x %u (L x D), %s, to port + 2%s of each destination\n", fec->columns,
                    fec->rows, fec->mode == CFecEncoder::Mode::RowColumn ? "row and column" : "column only",
                    fec->mode == CFecEncoder::Mode::RowColumn ? " and + 4" : "");
    if (impairment.IsActive())
        std::printf("Impairment: %s on every output, seed %llu\n", CImpairment::Describe(impairment).c_str(),
                    static_cast<unsigned long long>(o.impairSeed));
    if (!first.pacingNote.empty())
        std::printf("Pacing: %s\n", first.pacingNote.c_str());
    std::fflush(stdout);

    auto nextStatus = std::chrono::steady_clock::now() + std::chrono::seconds(1);
    while (CStopSignals::Received() == 0)
    {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        const CPlayController::PlayProgress progress = play.Progress();
        if (progress.playedOut)
            break;
        if (overLink && link.Output()->HasFailed())
            break;
        const auto now = std::chrono::steady_clock::now();
        if (now < nextStatus)
            continue;
        nextStatus += std::chrono::seconds(1);
        CStreamReport::Play figures = PlayFigures(progress, sender);
        if (overLink)
            figures.transport = link.Output()->GetStats();
        if (!o.metrics.empty())
            metrics.SetText(CStreamReport::PlayMetrics(streamName, figures));
        if (o.quiet)
            continue;
        std::string fecField;
        if (fec)
            fecField =
                "fec col/row " + std::to_string(progress.fec.column) + '/' + std::to_string(progress.fec.row) + "  ";
        const std::string linkText = overLink ? "  " + CStreamReport::TransportText(figures.transport) : "";
        std::printf("elapsed %s  ts %s  position %3u/1000  loops %lld  fifo %s bytes  %s%s%s\n",
                    CPlayController::FormatDuration(progress.elapsedMs / 1'000).c_str(),
                    CPlayController::FormatDuration(progress.tsSeconds).c_str(), progress.positionPermille,
                    static_cast<long long>(progress.loopCount),
                    CFilePlayEngine::FormatThousands(static_cast<std::int64_t>(progress.fifoLevel)).c_str(),
                    fecField.c_str(), StatusLine(progress).c_str(), linkText.c_str());
        std::fflush(stdout);
    }
    const bool interrupted = CStopSignals::Received() != 0;
    const bool readFailed = play.Engine().HasFailed();
    const bool linkFailed = overLink && link.Output()->HasFailed();
    const TransportStats linkStats = overLink ? link.Output()->GetStats() : TransportStats();
    const bool stopped = play.Stop();
    // Every send has ended now: what the kernel refused is counted in full.
    const CPlayController::PlayProgress last = play.Progress();
    const std::int64_t elapsedMs = last.elapsedMs;
    std::printf("%s after %s.%03lld s\n", interrupted || linkFailed ? "Stopped" : "Finished",
                CPlayController::FormatDuration(elapsedMs / 1'000).c_str(), static_cast<long long>(elapsedMs % 1'000));
    if (fec)
        std::printf("%s\n", FecText(last.fec).c_str());
    if (impairment.IsActive())
        std::printf("%s%s\n", CPlayController::ImpairmentText(last.impairment).c_str(),
                    last.delayCut == 0
                        ? ""
                        : (", " + std::to_string(last.delayCut) + " sent early (delay queue full)").c_str());
    std::fflush(stdout);
    if (!stopped)
    {
        std::fprintf(stderr, "orvane-cli play: the file reader did not end in time\n");
        return kExitFile;
    }
    if (readFailed || play.Engine().HasFailed())
    {
        // The engine has shown why ("Error reading file", an emptied file).
        std::fprintf(stderr, "orvane-cli play: the play ended on a read failure\n");
        return kExitFile;
    }
    if (overLink)
        std::printf("%s: %llu connection(s), %llu reconnect(s), %llu retransmitted, %llu dropped\n", link.Name(),
                    static_cast<unsigned long long>(linkStats.connections),
                    static_cast<unsigned long long>(linkStats.reconnects),
                    static_cast<unsigned long long>(linkStats.retransmitted),
                    static_cast<unsigned long long>(linkStats.dropped));
    if (linkFailed)
    {
        std::fprintf(stderr, "orvane-cli play: %s\n", linkStats.lastError.c_str());
        return kExitFile;
    }
    if (last.network == CPlayController::NetworkStatus::SendError)
    {
        std::fprintf(stderr, "orvane-cli play: %s: %s\n", last.statusText.c_str(), last.statusDetail.c_str());
        return kExitFile;
    }
    return 0;
}
} // namespace

void AddPlayCommand(CLI::App& app, int& exitCode)
{
    auto opts = std::make_shared<PlayOptions>();
    CLI::App* play = app.add_subcommand("play", "Play a transport stream file to UDP/RTP at its PCR bit rate");
    play->add_option("file", opts->file, "Transport stream file (.ts, 188- or 204-byte packets)")->required();
    play->add_option(
            "--to", opts->to,
            "Destination IPv4ADDRESS:PORT or [IPv6ADDRESS]:PORT; given again (up to 4 in all, IPv4), each gets "
            "the same RTP datagrams "
            "(SMPTE 2022-7). Or one srt://HOST:PORT?mode=caller|listener|rendezvous&latency=MS&"
            "passphrase=...&streamid=... (docs/srt.md), or rist://HOST:PORT or rist://@:PORT?"
            "profile=simple|main&buffer=MS&secret=... (docs/rist.md)")
        ->required()
        ->expected(1)
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
    play->add_flag("--rtp", opts->rtp, "Add an RTP header (payload type 33)");
    play->add_flag("--loop", opts->loop, "Play the range again and again");
    play->add_flag("--quiet", opts->quiet, "No status line every second");
    CLI::Option* position =
        play->add_option("--position", opts->position, "Where to start, per mille of the file (0..1000)");
    play->add_option("--range", opts->range, "Stretch to play, START:END per mille of the file");
    play->add_option("--bitrate", opts->bitRate, "Bit rate in bit/s (default: measured from the PCRs)");
    play->add_option("--packet-size", opts->packetSize, "Packet size, 188 or 204 (default: detected)")
        ->check(CLI::IsMember({188u, 204u}));
    play->add_option("--pacing", opts->pacing,
                     "How datagrams are timed: auto (the cheapest available), uring (io_uring timeouts), txtime "
                     "(SO_TXTIME with an fq or etf qdisc), thread (the play-out thread) or burst (each 1 ms cycle "
                     "back to back)");
    play->add_flag("--burst", opts->burst, "Same as --pacing burst");
    play->add_flag("--pcr-restamp", opts->pcrRestamp,
                   "Restamp PCRs at the play rate and shift PTS/DTS with them (seamless loops and jumps)");
    play->add_flag("--cc-restamp", opts->ccRestamp, "Continue the continuity counters across loops and jumps");
    play->add_option("--tdt", opts->tdt,
                     "Rewrite the TDT/TOT time along the play: file, now or \"YYYY-MM-DD HH:MM:SS\" (local time)");
    play->add_option("--ttl", opts->ttl, "Multicast hop limit, IPv4 TTL or IPv6 hops (default: 1)")
        ->check(CLI::Range(1, 255));
    play->add_option("--interface", opts->interfaceName,
                     "Multicast outgoing interface, by name or address (default: the route's)");
    play->add_option("--metrics", opts->metrics, "Serve Prometheus metrics at http://ADDR:PORT/metrics");
    play->add_option("--name", opts->name, "The stream label of the metrics (default: the file name)");
    play->add_option("--fec", opts->fec,
                     "SMPTE 2022-1 FEC (needs --rtp): L,D = columns 1-20, rows 4-20, L x D <= 100; column FEC to "
                     "port + 2, row FEC to port + 4");
    play->add_option("--fec-mode", opts->fecMode, "column (default) or row+column");
    play->add_option(
        "--impair", opts->impair,
        "Impair every output on purpose: loss=P,burst=N/M,reorder=P/D,dup=P,jitter=MS (docs/protection.md)");
    play->add_option("--impair-seed", opts->impairSeed,
                     "Seed of the impairment (default 1): the same seed repeats a run");
    play->callback([opts, position, &exitCode] {
        opts->positionGiven = position->count() > 0;
        exitCode = RunPlay(*opts);
    });
}
