#include "analysis/CAnalysisTreeBuilder.h"

#include "analysis/StreamTypeName.h"
#include "common/FormatThousands.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <limits>

namespace
{
void MarkError(CTreeNode& node, std::uint64_t count)
{
    if (count > 0)
    {
        node.hasColour = true;
        node.colour = CAnalysisTreeBuilder::kRed;
    }
}

std::int64_t ToInt(std::uint64_t value)
{
    return value > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())
               ? std::numeric_limits<std::int64_t>::max()
               : static_cast<std::int64_t>(value);
}

const CPidEntry* FindPid(const CAnalysisSnapshot& snapshot, std::uint16_t pid)
{
    const auto it = std::lower_bound(snapshot.pids.begin(), snapshot.pids.end(), pid,
                                     [](const CPidEntry& entry, std::uint16_t value) { return entry.pid < value; });
    return it != snapshot.pids.end() && it->pid == pid ? &*it : nullptr;
}

std::int64_t RateValue(double bitsPerSecond)
{
    if (!(bitsPerSecond > 0.0) || bitsPerSecond > 1e18)
        return 0;
    return static_cast<std::int64_t>(bitsPerSecond);
}
} // namespace

std::string CAnalysisTreeBuilder::PidText(std::uint16_t pid)
{
    char text[32];
    std::snprintf(text, sizeof text, "PID 0x%04X (%u)", pid, static_cast<unsigned>(pid));
    return text;
}

std::string CAnalysisTreeBuilder::TimeText(std::int64_t secondsSince1970)
{
    const auto time = static_cast<std::time_t>(secondsSince1970);
    std::tm utc{};
    if (gmtime_r(&time, &utc) == nullptr)
        return "?";
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d UTC", utc.tm_year + 1900, utc.tm_mon + 1,
                  utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec);
    return text;
}

std::string CAnalysisTreeBuilder::Rate(double bitsPerSecond) const
{
    return FormatThousands(RateValue(bitsPerSecond), m_separator) + " bps";
}

std::string CAnalysisTreeBuilder::Count(std::uint64_t value) const
{
    return FormatThousands(ToInt(value), m_separator);
}

std::map<std::uint16_t, std::string> CAnalysisTreeBuilder::PidUses(const CAnalysisSnapshot& snapshot)
{
    // One pass over the programs; a PID used by many programs keeps a short list.
    constexpr std::size_t kMaxUseText = 200;
    std::map<std::uint16_t, std::string> uses;
    auto append = [&uses](std::uint16_t pid, const std::string& text) {
        std::string& use = uses[pid & 0x1FFF];
        if (use.size() > kMaxUseText)
            return;
        use += (use.empty() ? "" : "; ") + (use.size() + text.size() > kMaxUseText ? std::string("...") : text);
    };
    for (const auto& [number, program] : snapshot.programs)
    {
        const std::string suffix = std::to_string(number);
        append(program.pmtPid, "PMT of program " + suffix);
        bool pcrIsStream = false;
        for (const CStreamInfo& stream : program.streams)
        {
            append(stream.pid, StreamTypeName(stream.streamType, stream.descriptorHint) + ", program " + suffix);
            pcrIsStream = pcrIsStream || stream.pid == program.pcrPid;
        }
        if (program.hasPmt && program.pcrPid != 0x1FFF && !pcrIsStream)
            append(program.pcrPid, "PCR of program " + suffix);
    }
    const std::pair<std::uint16_t, const char*> fixed[] = {{0x0000, "PAT"},     {0x0001, "CAT"},
                                                           {0x0011, "SDT/BAT"}, {0x0012, "EIT"},
                                                           {0x0014, "TDT/TOT"}, {0x1FFF, "Null packets"}};
    if (snapshot.networkPid != 0)
        uses[snapshot.networkPid & 0x1FFF] = "NIT";
    for (const auto& [pid, name] : fixed)
        uses[pid] = name;
    return uses;
}

std::vector<CTreeNode> CAnalysisTreeBuilder::BuildProgramTree(const CAnalysisSnapshot& snapshot) const
{
    std::vector<CTreeNode> roots;
    for (const auto& [number, program] : snapshot.programs)
    {
        CTreeNode node;
        char title[64];
        std::snprintf(title, sizeof title, "Program %u (0x%04X)", static_cast<unsigned>(number),
                      static_cast<unsigned>(number));
        node.text = title;
        node.key = "program";
        node.value = number;
        node.expanded = true;
        const auto service = snapshot.services.find(number);
        if (service != snapshot.services.end() && !service->second.serviceName.empty())
        {
            node.text += ": " + service->second.serviceName;
            node.Add("Service: " + service->second.serviceName).key = "service";
            if (!service->second.providerName.empty())
                node.Add("Provider: " + service->second.providerName).key = "provider";
        }
        node.Add("PMT: " + PidText(program.pmtPid), "pmtPid", program.pmtPid);
        if (!program.hasPmt)
        {
            CTreeNode& missing = node.Add("PMT not received");
            MarkError(missing, 1);
            roots.push_back(std::move(node));
            continue;
        }
        node.Add("PCR: " + (program.pcrPid == 0x1FFF ? std::string("none") : PidText(program.pcrPid)), "pcrPid",
                 program.pcrPid);
        CTreeNode& streams = node.Add("Streams: " + std::to_string(program.streams.size()), "streams",
                                      static_cast<std::int64_t>(program.streams.size()));
        streams.expanded = true;
        for (const CStreamInfo& stream : program.streams)
        {
            char type[16];
            std::snprintf(type, sizeof type, "0x%02X", stream.streamType);
            std::string text = PidText(stream.pid) + ": " + StreamTypeName(stream.streamType, stream.descriptorHint) +
                               " (type " + type + ")";
            if (!stream.language.empty())
                text += ", " + stream.language;
            CTreeNode& child = streams.Add(std::move(text), "pid", stream.pid);
            const CPidEntry* entry = FindPid(snapshot, stream.pid);
            if (entry != nullptr)
                child.Add("Bit rate: " + Rate(entry->bitRate), "bitRate", RateValue(entry->bitRate));
            else
                child.Add("Not present", "bitRate", 0);
        }
        roots.push_back(std::move(node));
    }
    if (snapshot.programsDropped > 0)
    {
        CTreeNode& more = roots.emplace_back();
        more.text = Count(snapshot.programsDropped) + " more programs not shown";
        MarkError(more, 1);
    }
    return roots;
}

std::vector<CTreeNode> CAnalysisTreeBuilder::BuildPidTree(const CAnalysisSnapshot& snapshot) const
{
    std::vector<CTreeNode> roots;

    CTreeNode& stream = roots.emplace_back();
    stream.text = "Transport stream";
    stream.expanded = true;
    stream.Add(snapshot.packetSize > 0 ? "Packet size: " + std::to_string(snapshot.packetSize)
                                       : std::string("Packet size: not found"),
               "packetSize", snapshot.packetSize);
    CTreeNode& rate = stream.Add(snapshot.pcrSeen ? "Bit rate: " + Rate(snapshot.bitRate) : "Bit rate: no PCR",
                                 "bitRate", RateValue(snapshot.bitRate));
    if (!snapshot.pcrSeen)
        MarkError(rate, 1);
    stream.Add("Packets: " + Count(snapshot.totalPackets), "packets", ToInt(snapshot.totalPackets));
    MarkError(stream.Add("Sync losses: " + Count(snapshot.syncLoss), "syncLoss", snapshot.syncLoss), snapshot.syncLoss);
    if (snapshot.hasPat)
        stream.Add("Transport stream id: " + std::to_string(snapshot.transportStreamId), "transportStreamId",
                   snapshot.transportStreamId);
    if (snapshot.firstTime != 0)
        stream.Add("First TDT/TOT: " + TimeText(snapshot.firstTime), "firstTime", snapshot.firstTime);
    if (snapshot.lastTdt != 0)
        stream.Add("TDT: " + TimeText(snapshot.lastTdt), "tdt", snapshot.lastTdt);
    if (snapshot.lastTot != 0)
        stream.Add("TOT: " + TimeText(snapshot.lastTot), "tot", snapshot.lastTot);

    const std::map<std::uint16_t, std::string> uses = PidUses(snapshot);
    for (const CPidEntry& entry : snapshot.pids)
    {
        const CPidStats& s = entry.stats;
        CTreeNode node;
        const auto use = uses.find(entry.pid);
        node.text = PidText(entry.pid) + ": " + (use != uses.end() ? use->second : std::string("Unreferenced"));
        node.key = "pid";
        node.value = entry.pid;
        const std::uint64_t errors = std::uint64_t{s.continuityErrors} + s.transportErrors + s.crcErrors;
        MarkError(node, errors);
        node.Add("Packets: " + Count(s.packets), "packets", ToInt(s.packets));
        node.Add("Bit rate: " + Rate(entry.bitRate), "bitRate", RateValue(entry.bitRate));
        MarkError(node.Add("Continuity errors: " + Count(s.continuityErrors), "continuityErrors", s.continuityErrors),
                  s.continuityErrors);
        MarkError(node.Add("Transport errors: " + Count(s.transportErrors), "transportErrors", s.transportErrors),
                  s.transportErrors);
        if (s.scrambledPackets > 0)
            node.Add("Scrambled packets: " + Count(s.scrambledPackets), "scrambledPackets", s.scrambledPackets);
        if (s.crcErrors > 0)
            MarkError(node.Add("CRC errors: " + Count(s.crcErrors), "crcErrors", s.crcErrors), s.crcErrors);
        if (s.carriesPcr)
            node.Add("Carries PCR", "pcr", 1);
        roots.push_back(std::move(node));
    }
    return roots;
}
