#include "CStreamReport.h"

#include <nlohmann/json.hpp>

#include <cctype>
#include <cmath>
#include <cstdio>
#include <ctime>

namespace
{
// One metric family: its # HELP and # TYPE lines, then its samples.
class CFamily
{
public:
    CFamily(std::string& out, const char* name, const char* type, const char* help) : m_out(out), m_name(name)
    {
        m_out += std::string("# HELP ") + name + ' ' + help + "\n# TYPE " + name + ' ' + type + '\n';
    }
    //! @p labels already rendered: stream="x",pid="256".
    void Sample(const std::string& labels, double value)
    {
        char number[32];
        if (std::isnan(value))
            std::snprintf(number, sizeof number, "NaN");
        else if (value == std::floor(value) && std::fabs(value) < 1e15)
            std::snprintf(number, sizeof number, "%.0f", value);
        else
            std::snprintf(number, sizeof number, "%.9g", value);
        m_out += m_name + '{' + labels + "} " + number + '\n';
    }

private:
    std::string& m_out;
    std::string m_name;
};

std::string Label(const char* name, const std::string& value)
{
    return std::string(name) + "=\"" + CStreamReport::EscapeLabel(value) + '"';
}

double Count(std::uint64_t value)
{
    return static_cast<double>(value);
}

//! A family of one sample, labelled @p labels (the stream's).
void Single(std::string& out, const char* name, const char* type, const char* help, const std::string& labels,
            double value)
{
    CFamily(out, name, type, help).Sample(labels, value);
}

//! orvane_up: 1 for the stream in @p mode (monitor, record, play).
void Up(std::string& out, const std::string& stream, const std::string& mode)
{
    Single(out, "orvane_up", "gauge", "1 while orvane-cli runs for the stream.", stream + ',' + Label("mode", mode), 1);
}

nlohmann::ordered_json TransportObject(const TransportStats& t)
{
    return {
        {"state", TransportStats::StateName(t.state)},
        {"peer", t.peer},
        {"connections", t.connections},
        {"reconnects", t.reconnects},
        {"rtt_ms", t.rttMs},
        {"send_rate_mbps", t.sendRateMbps},
        {"receive_rate_mbps", t.receiveRateMbps},
        {"packets_sent", t.packetsSent},
        {"packets_received", t.packetsReceived},
        {"retransmitted", t.retransmitted},
        {"lost", t.lost},
        {"dropped", t.dropped},
        {"latency_ms", t.latencyMs},
        {"buffer_ms", t.bufferMs},
        {"send_buffer_bytes", t.sendBufferBytes},
        {"last_error", t.lastError},
    };
}

// The link's families, for a received or a played stream: orvane_srt_* or orvane_rist_*.
void TransportMetrics(std::string& out, const std::string& s, const TransportStats& t)
{
    if (!t.valid)
        return;
    const std::string prefix = "orvane_" + t.transport + '_';
    std::string name = t.transport;
    for (char& c : name)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    const auto family = [&](const char* suffix, const char* type, const std::string& help) {
        return CFamily(out, (prefix + suffix).c_str(), type, (name + ' ' + help).c_str());
    };
    family("connected", "gauge", "link: 1 while connected.")
        .Sample(s, t.state == TransportStats::State::Connected ? 1 : 0);
    family("reconnects_total", "counter", "connections made after a broken one.").Sample(s, Count(t.reconnects));
    family("rtt_ms", "gauge", "round-trip time, ms.").Sample(s, t.rttMs);
    family("send_rate_mbps", "gauge", "sending rate, Mbit/s.").Sample(s, t.sendRateMbps);
    family("receive_rate_mbps", "gauge", "receiving rate, Mbit/s.").Sample(s, t.receiveRateMbps);
    family("retransmitted_total", "counter", "packets sent again (received again, for RIST's receiver).")
        .Sample(s, Count(t.retransmitted));
    family("lost_total", "counter", "packets found missing (retransmission may recover them).")
        .Sample(s, Count(t.lost));
    family("dropped_total", "counter", "packets given up for good (too late or link broken).")
        .Sample(s, Count(t.dropped));
    family("buffer_ms", "gauge", "stream time in the receive (or send) buffer, ms.").Sample(s, t.bufferMs);
    family("send_buffer_bytes", "gauge", "bytes in the send buffer not yet acknowledged.")
        .Sample(s, Count(t.sendBufferBytes));
}
} // namespace

std::string CStreamReport::TransportText(const TransportStats& t)
{
    return t.StatusText();
}

std::string CStreamReport::TransportJson(const TransportStats& t)
{
    return TransportObject(t).dump();
}

std::string CStreamReport::EscapeLabel(const std::string& text)
{
    std::string out;
    for (const char c : text)
    {
        if (c == '\\' || c == '"')
            out += '\\';
        if (c == '\n')
            out += "\\n";
        else
            out += c;
    }
    return out;
}

std::string CStreamReport::IsoTime(std::chrono::system_clock::time_point time)
{
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(time.time_since_epoch()).count();
    const std::time_t seconds = static_cast<std::time_t>(ms / 1'000);
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900, utc.tm_mon + 1,
                  utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec, static_cast<int>(ms % 1'000));
    return text;
}

std::string CStreamReport::JsonLine(const Receive& r)
{
    using json = nlohmann::ordered_json; // "t" first, as written
    json p1 = json::object();
    json p2 = json::object();
    for (std::size_t i = 0; i < CTr101290Counters::kCount; ++i)
    {
        const auto& info = CTr101290Counters::kInfo[i];
        (info.priority == 1 ? p1 : p2)[info.key] = r.tr101290.count[i];
    }
    json pids = json::array();
    for (const CPidEntry& e : r.pids)
        pids.push_back(
            {{"pid", e.pid}, {"bitrate_bps", std::llround(e.bitRate)}, {"cc_error", e.stats.continuityErrors}});
    // Not measured yet (or the stream stopped): null rather than a made-up 0.
    const json df = r.mdi.valid ? json(r.mdi.dfMs) : json(nullptr);
    const json mlr = r.mdi.valid ? json(r.mdi.mlr) : json(nullptr);
    json line = {
        {"t", IsoTime(r.time)},
        {"bitrate_bps", std::llround(r.bitRate)},
        {"pcr_bitrate_bps", std::llround(r.pcrBitRate)},
        {"packets", r.packets},
        {"mdi", {{"df_ms", df}, {"mlr", mlr}, {"max_df_ms", r.mdi.maxDfMs}}},
        {"tr101290", {{"p1", p1}, {"p2", p2}}},
        {"rtp",
         {{"lost", r.counters.missing},
          {"too_late", r.counters.tooLate},
          {"reordered", r.counters.reordered},
          {"duplicates", r.counters.duplicates}}},
        {"kernel_drops", r.counters.kernelDrops},
        {"pids", pids},
    };
    // Only with protection on, so that a plain stream's line stays as it was.
    if (r.counters.fec)
        line["fec"] = {{"recovered", r.counters.fecRecovered},
                       {"unrecoverable", r.counters.fecUnrecoverable},
                       {"fec_packets", r.counters.fecPackets},
                       {"invalid", r.counters.fecInvalid}};
    if (r.counters.twoPaths)
    {
        json paths = json::array();
        for (const auto& p : r.counters.paths)
            paths.push_back({{"received", p.received}, {"missing", p.missing}, {"only_here", p.onlyHere}});
        line["paths"] = paths;
        line["skew_ms"] = r.counters.skewMs;
    }
    if (r.transport.valid)
    {
        line[r.transport.transport] = TransportObject(r.transport);
        line[r.transport.transport]["transport_drops"] = r.counters.transportDrops;
    }
    return line.dump();
}

std::string CStreamReport::ReceiveMetrics(const std::string& stream, const std::string& mode, const Receive& r)
{
    std::string out;
    const std::string s = Label("stream", stream);
    Up(out, s, mode);
    CFamily errors(out, "orvane_tr101290_errors_total", "counter", "TR 101 290 indicator events since the start.");
    for (std::size_t i = 0; i < CTr101290Counters::kCount; ++i)
        errors.Sample(s + ',' + Label("priority", std::to_string(CTr101290Counters::kInfo[i].priority)) + ',' +
                          Label("indicator", CTr101290Counters::kInfo[i].key),
                      Count(r.tr101290.count[i]));
    CFamily active(out, "orvane_tr101290_active", "gauge", "1 when the indicator fired in the last second.");
    for (std::size_t i = 0; i < CTr101290Counters::kCount; ++i)
        active.Sample(s + ',' + Label("priority", std::to_string(CTr101290Counters::kInfo[i].priority)) + ',' +
                          Label("indicator", CTr101290Counters::kInfo[i].key),
                      r.tr101290.active[i] ? 1 : 0);
    // Absent while not measured: a gap in the graph, not a false 0.
    CFamily df(out, "orvane_mdi_df_ms", "gauge", "MDI delay factor of the last second (RFC 4445), ms.");
    CFamily mlr(out, "orvane_mdi_mlr", "gauge", "MDI media loss rate of the last second, TS packets per second.");
    if (r.mdi.valid)
    {
        df.Sample(s, r.mdi.dfMs);
        mlr.Sample(s, r.mdi.mlr);
    }
    Single(out, "orvane_bitrate_bps", "gauge", "Transport stream received in the last second, bit/s.", s, r.bitRate);
    Single(out, "orvane_packets_total", "counter", "Transport stream packets received.", s, r.packets);
    CFamily pidRate(out, "orvane_pid_bitrate_bps", "gauge", "Bit rate of one PID, bit/s.");
    for (const CPidEntry& e : r.pids)
        pidRate.Sample(s + ',' + Label("pid", std::to_string(e.pid)), e.bitRate);
    CFamily pidCc(out, "orvane_pid_cc_errors_total", "counter", "Continuity count errors of one PID.");
    for (const CPidEntry& e : r.pids)
        pidCc.Sample(s + ',' + Label("pid", std::to_string(e.pid)), e.stats.continuityErrors);
    const auto& c = r.counters;
    Single(out, "orvane_kernel_drops_total", "counter", "Datagrams the kernel dropped from the full receive queue.", s,
           c.kernelDrops);
    Single(out, "orvane_rtp_lost_total", "counter", "RTP datagrams missing (given up after waiting).", s, c.missing);
    Single(out, "orvane_rtp_too_late_total", "counter",
           "Of the missing: datagrams that came or were rebuilt after their number was given up.", s, c.tooLate);
    Single(out, "orvane_rtp_reordered_total", "counter", "RTP datagrams that arrived behind a newer one.", s,
           c.reordered);
    Single(out, "orvane_rtp_duplicates_total", "counter", "RTP datagrams that arrived twice.", s, c.duplicates);
    Single(out, "orvane_received_bytes_total", "counter", "Transport stream bytes received.", s, c.payloadBytes);
    if (c.fec)
    {
        Single(out, "orvane_fec_recovered_total", "counter", "Media datagrams rebuilt from SMPTE 2022-1 FEC.", s,
               c.fecRecovered);
        Single(out, "orvane_fec_unrecoverable_total", "counter", "Lost media datagrams FEC could not rebuild.", s,
               c.fecUnrecoverable);
        Single(out, "orvane_fec_packets_total", "counter", "FEC datagrams received (column and row).", s, c.fecPackets);
        Single(out, "orvane_fec_invalid_total", "counter",
               "FEC datagrams of no use: not SMPTE 2022-1 XOR FEC, or parity that does not add up.", s, c.fecInvalid);
    }
    if (c.twoPaths)
    {
        const auto perPath = [&](const char* name, const char* help, auto field) {
            CFamily family(out, name, "counter", help);
            for (std::size_t p = 0; p < c.paths.size(); ++p)
                family.Sample(s + ',' + Label("path", std::to_string(p + 1)), Count(c.paths[p].*field));
        };
        perPath("orvane_path_received_total", "Media datagrams received on one path (2022-7).",
                &CDvbIpRecvThread::PathCounters::received);
        perPath("orvane_path_missing_total", "Sequence numbers one path did not bring in time.",
                &CDvbIpRecvThread::PathCounters::missing);
        perPath("orvane_path_only_total", "Sequence numbers only one path brought.",
                &CDvbIpRecvThread::PathCounters::onlyHere);
        Single(out, "orvane_path_skew_ms", "gauge", "How long the second copy of a datagram trailed the first, ms.", s,
               c.skewMs);
    }
    TransportMetrics(out, s, r.transport);
    return out;
}

std::string CStreamReport::PlayMetrics(const std::string& stream, const Play& p)
{
    std::string out;
    const std::string s = Label("stream", stream);
    Up(out, s, "play");
    Single(out, "orvane_play_bitrate_bps", "gauge", "Bit rate of the play, bit/s.", s, p.bitRate);
    Single(out, "orvane_play_fifo_level_ratio", "gauge", "Fill level of the sender's FIFO, 0..1.", s, p.fifoLevelRatio);
    Single(out, "orvane_play_send_errors_total", "counter", "Datagrams the kernel refused to send.", s, p.sendErrors);
    Single(out, "orvane_play_loops_total", "counter", "Completed passes over the play range.", s, p.loops);
    Single(out, "orvane_play_sent_bytes_total", "counter", "Bytes sent to the network.", s, p.sentBytes);
    const CImpairment::Counters& i = p.impairment;
    CFamily lost(out, "orvane_play_impair_lost_total", "counter", "Datagrams lost on purpose (--impair), by kind.");
    lost.Sample(s + ',' + Label("kind", "random"), Count(i.lost));
    lost.Sample(s + ',' + Label("kind", "burst"), Count(i.burstLost));
    Single(out, "orvane_play_impair_reordered_total", "counter", "Datagrams re-ordered on purpose.", s, i.reordered);
    Single(out, "orvane_play_impair_duplicated_total", "counter", "Datagrams sent twice on purpose.", s, i.duplicated);
    Single(out, "orvane_play_impair_delayed_total", "counter", "Datagrams delayed on purpose (jitter).", s, i.delayed);
    Single(out, "orvane_play_fec_media_total", "counter", "Media datagrams protected by SMPTE 2022-1 FEC.", s,
           p.fec.media);
    CFamily fec(out, "orvane_play_fec_packets_total", "counter", "FEC datagrams made, by kind (column, row).");
    fec.Sample(s + ',' + Label("kind", "column"), Count(p.fec.column));
    fec.Sample(s + ',' + Label("kind", "row"), Count(p.fec.row));
    TransportMetrics(out, s, p.transport);
    return out;
}
