#pragma once
// What a receiver sees of a played stream: continuity errors, the PCR of each
// program against the byte position at the play rate, the distance of PTS/DTS to
// their program's PCR, the TDT/TOT times and the TOT CRCs.

#include <bitstream/dvb/si.h>
#include <bitstream/mpeg/pes.h>
#include <bitstream/mpeg/psi.h>
#include <bitstream/mpeg/ts.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <map>
#include <vector>

namespace adaptcheck
{
constexpr std::uint64_t kPcrModulus = (std::uint64_t{1} << 33) * 300;
constexpr std::uint64_t kPtsModulus = std::uint64_t{1} << 33;

struct TimeEntry
{
    std::int64_t position = 0; // byte position of the packet in the checked bytes
    std::int64_t time = 0;     // s since 1970
    bool tot = false;
};

struct Report
{
    std::uint64_t packets = 0;
    std::uint64_t ccErrors = 0;
    std::map<std::uint16_t, std::uint64_t> pcrCount;
    // Largest distance of a PCR from the line through its PID's first PCR at the play rate, in 27 MHz ticks.
    double pcrPositionError = 0.0;
    // PTS - PCR of the program (the last PCR before the PES), 90 kHz ticks.
    std::int64_t ptsDistanceMin = INT64_MAX;
    std::int64_t ptsDistanceMax = INT64_MIN;
    std::uint64_t pesWithTime = 0;
    // DTS (else PTS) steps per PID that go back or forward by more than a second.
    std::uint64_t ptsJumps = 0;
    std::vector<TimeEntry> times;
    std::uint64_t timeBackSteps = 0;
    std::uint64_t totBadCrc = 0;
};

inline std::int64_t SignedDiff(std::uint64_t to, std::uint64_t from, std::uint64_t modulus)
{
    const std::uint64_t d = (to + modulus - from % modulus) % modulus;
    return d > modulus / 2 ? static_cast<std::int64_t>(d) - static_cast<std::int64_t>(modulus)
                           : static_cast<std::int64_t>(d);
}

inline std::int64_t DecodeUtc(const std::uint8_t* utc)
{
    std::uint64_t v = 0;
    for (int i = 0; i < 5; ++i)
        v = (v << 8) | utc[i];
    return static_cast<std::int64_t>(dvb_time_decode_UTC(v));
}

//! @param bytes whole 188-byte packets as received;
//! @param pcrPidOf elementary PID -> PCR PID of its program; @param rate the play bit rate.
inline Report Check(const std::vector<std::uint8_t>& bytes, const std::map<std::uint16_t, std::uint16_t>& pcrPidOf,
                    double rate)
{
    Report r;
    std::vector<int> lastCc(8192, -1);
    struct Clock
    {
        std::uint64_t last = 0;
        std::int64_t unwrapped = 0;
        std::int64_t firstPosition = 0;
        bool seen = false;
    };
    std::map<std::uint16_t, Clock> clocks;
    std::map<std::uint16_t, std::int64_t> lastTime; // unwrapped DTS/PTS per PID, 90 kHz
    std::map<std::uint16_t, std::uint64_t> lastRaw;
    const std::size_t count = bytes.size() / 188;
    for (std::size_t i = 0; i < count; ++i)
    {
        const std::uint8_t* p = bytes.data() + i * 188;
        const auto position = static_cast<std::int64_t>(i * 188);
        if (p[0] != 0x47)
            continue;
        ++r.packets;
        const std::uint16_t pid = ts_get_pid(p);
        if (pid == 0x1FFF)
            continue;
        const int cc = ts_get_cc(p);
        if (lastCc[pid] >= 0)
        {
            const int expected = ts_has_payload(p) ? (lastCc[pid] + 1) & 0x0F : lastCc[pid];
            if (cc != expected)
                ++r.ccErrors;
        }
        lastCc[pid] = cc;
        std::size_t payload = 4;
        if (ts_has_adaptation(p))
        {
            payload = 5 + p[4];
            if (p[4] >= 7 && tsaf_has_pcr(p))
            {
                const std::uint64_t pcr = tsaf_get_pcr(p) * 300 + tsaf_get_pcrext(p);
                Clock& c = clocks[pid];
                if (!c.seen)
                {
                    c.seen = true;
                    c.firstPosition = position;
                }
                else
                    c.unwrapped += SignedDiff(pcr, c.last, kPcrModulus);
                c.last = pcr;
                ++r.pcrCount[pid];
                const double expected = static_cast<double>(position - c.firstPosition) * 8.0 * 27'000'000.0 / rate;
                r.pcrPositionError =
                    std::max(r.pcrPositionError, std::fabs(static_cast<double>(c.unwrapped) - expected));
            }
        }
        if (!ts_get_unitstart(p) || !ts_has_payload(p) || payload >= 188)
            continue;
        const std::uint8_t* pes = p + payload;
        if (pid == 0x14)
        {
            std::size_t at = payload + 1 + pes[0];
            while (at + 8 <= 188 && p[at] != 0xFF)
            {
                const std::uint8_t* section = p + at;
                const std::size_t length = psi_get_length(section);
                if (at + 3 + length > 188)
                    break;
                if (section[0] == 0x70 || section[0] == 0x73)
                {
                    TimeEntry e{position, DecodeUtc(section + 3), section[0] == 0x73};
                    if (!r.times.empty() && e.time < r.times.back().time)
                        ++r.timeBackSteps;
                    r.times.push_back(e);
                    if (e.tot && !psi_check_crc(section))
                        ++r.totBadCrc;
                }
                at += 3 + length;
            }
            continue;
        }
        if (payload + 19 > 188 || !pes_validate(pes) || !pes_has_pts(pes))
            continue;
        const std::uint64_t pts = pes_get_pts(pes);
        const std::uint64_t step = pes_has_dts(pes) ? pes_get_dts(pes) : pts;
        if (lastRaw.count(pid) != 0)
        {
            const std::int64_t d = SignedDiff(step, lastRaw[pid], kPtsModulus);
            if (d < 0 || d > 90'000)
                ++r.ptsJumps;
        }
        lastRaw[pid] = step;
        const auto program = pcrPidOf.find(pid);
        if (program == pcrPidOf.end() || !clocks[program->second].seen)
            continue;
        const std::int64_t distance = SignedDiff(pts, clocks[program->second].last / 300, kPtsModulus);
        r.ptsDistanceMin = std::min(r.ptsDistanceMin, distance);
        r.ptsDistanceMax = std::max(r.ptsDistanceMax, distance);
        ++r.pesWithTime;
    }
    return r;
}
} // namespace adaptcheck
