#include "analysis/CStreamAdapter.h"

#include <bitstream/dvb/si.h>
#include <bitstream/mpeg/pes.h>
#include <bitstream/mpeg/psi.h>
#include <bitstream/mpeg/ts.h>

#include <cmath>

namespace
{
constexpr std::size_t kTsBytes = 188;
constexpr std::size_t kTsHeaderBytes = 4;
constexpr std::uint8_t kSyncByte = 0x47;
constexpr double kTicksPerSecond = 27'000'000.0;
constexpr std::uint64_t kTicksPerSecondInt = 27'000'000;
// The PCR refers to the byte that holds the last bit of its base: the 11th of the packet.
constexpr std::int64_t kPcrByte = 10;
constexpr std::uint8_t kTdtTableId = 0x70;
constexpr std::uint8_t kTotTableId = 0x73;
constexpr std::size_t kTimeSectionHeader = 3; // table id and section length
constexpr std::size_t kUtcBytes = 5;
constexpr std::size_t kTotMinLength = kUtcBytes + 2 + 4; // time, descriptor loop length, CRC_32

// Stream ids whose PES packets have no PTS/DTS header (ISO/IEC 13818-1 table 2-22).
bool HasPesHeader(std::uint8_t streamId)
{
    switch (streamId)
    {
    case 0xBC: // program stream map
    case 0xBE: // padding
    case 0xBF: // private stream 2
    case 0xF0: // ECM
    case 0xF1: // EMM
    case 0xF2: // DSM-CC
    case 0xF8: // H.222.1 type E
    case 0xFF: // program stream directory
        return false;
    default:
        return streamId >= 0xBC;
    }
}

// Offset of the payload, or 0 when the adaptation field is malformed or there is no payload.
std::size_t PayloadOffset(const std::uint8_t* packet)
{
    if (!ts_has_payload(packet))
        return 0;
    if (!ts_has_adaptation(packet))
        return kTsHeaderBytes;
    const std::size_t afLength = packet[4];
    const std::size_t offset = kTsHeaderBytes + 1 + afLength;
    return offset < kTsBytes ? offset : 0;
}

bool HasValidPcr(const std::uint8_t* packet)
{
    if (!ts_has_adaptation(packet) || (packet[3] & 0x30) == 0)
        return false;
    const std::size_t afLength = packet[4];
    // A PCR needs the flags byte and six bytes; a longer field than the packet is not trusted.
    return afLength >= 7 && afLength <= kTsBytes - kTsHeaderBytes - 1 && tsaf_has_pcr(packet);
}

std::uint64_t PcrOf(const std::uint8_t* packet)
{
    return (tsaf_get_pcr(packet) * 300 + tsaf_get_pcrext(packet)) % CStreamAdapter::kPcrModulus;
}
} // namespace

CStreamAdapter::CStreamAdapter() : m_pids(kNullPid + 1), m_history(kHistoryPackets, 0) {}

void CStreamAdapter::NewPlay(std::int64_t now)
{
    for (PidState& state : m_pids)
        state = PidState{};
    m_position = 0;
    m_wallStart = now;
    m_rate = 0.0;
    m_anchorPosition = 0;
    m_anchorTicks = 0;
    m_lastPcrPid = kNullPid;
    m_fileTimeAnchored = false;
    m_historyNext = 0;
    m_historyFill = 0;
    m_skipLeading = true;
}

void CStreamAdapter::Rebase()
{
    for (PidState& state : m_pids)
    {
        state.shiftKnown = false;
        state.ccKnown = false;
    }
    m_skipLeading = true;
}

void CStreamAdapter::AddOutputBytes(std::int64_t bytes, int packetSize)
{
    m_position += bytes;
    if (packetSize <= 0)
        return;
    if (bytes >= 0)
    {
        // Stuffing: null packets, which carry no counter of ours.
        for (std::int64_t i = 0; i < bytes / packetSize; ++i)
            Remember(kNullPid, -1);
        return;
    }
    // Packets dropped before they were sent: the last counter a receiver saw on
    // each PID is the one of its last packet before them.
    std::size_t dropped = static_cast<std::size_t>(-bytes / packetSize);
    if (dropped > m_historyFill)
    {
        for (PidState& state : m_pids)
            state.lastCc = -1;
        m_historyFill = 0;
        return;
    }
    std::vector<bool> touched(m_pids.size(), false);
    for (std::size_t i = 0; i < dropped; ++i)
    {
        m_historyNext = (m_historyNext + kHistoryPackets - 1) % kHistoryPackets;
        touched[m_history[m_historyNext] & kNullPid] = true;
    }
    m_historyFill -= dropped;
    std::size_t open = 0;
    for (std::size_t pid = 0; pid < touched.size(); ++pid)
        open += touched[pid] ? 1 : 0;
    std::size_t index = m_historyNext;
    for (std::size_t i = 0; i < m_historyFill && open > 0; ++i)
    {
        index = (index + kHistoryPackets - 1) % kHistoryPackets;
        const std::uint32_t entry = m_history[index];
        const std::size_t pid = entry & kNullPid;
        if (!touched[pid])
            continue;
        touched[pid] = false;
        --open;
        m_pids[pid].lastCc = (entry >> 17) != 0 ? static_cast<std::int8_t>((entry >> 13) & 0x0F) : -1;
    }
    for (std::size_t pid = 0; pid < touched.size() && open > 0; ++pid)
        if (touched[pid])
            m_pids[pid].lastCc = -1; // nothing of this PID left the sender
}

std::uint64_t CStreamAdapter::Ticks(std::int64_t position) const
{
    if (m_rate <= 0.0)
        return m_anchorTicks;
    const long double bytes = static_cast<long double>(position - m_anchorPosition);
    const long double ticks = bytes * 8.0L * kTicksPerSecond / static_cast<long double>(m_rate);
    return m_anchorTicks + static_cast<std::uint64_t>(std::llround(ticks < 0 ? 0.0L : ticks));
}

void CStreamAdapter::UpdateRate(double rate)
{
    if (!(rate > 0.0) || !std::isfinite(rate) || rate == m_rate)
        return;
    // The timeline goes on at the new rate from here.
    m_anchorTicks = Ticks(m_position);
    m_anchorPosition = m_position;
    m_rate = rate;
}

void CStreamAdapter::Process(std::uint8_t* data, std::size_t length, int packetSize, const CAdaptSettings& settings,
                             const PcrPidLookup& pcrPidOf)
{
    UpdateRate(settings.playBitRate);
    const auto size = static_cast<std::size_t>(packetSize);
    const bool timed = m_rate > 0.0;
    // With every adaptation off only the output position is kept, and that
    // needs the first packet after a jump alone.
    const bool adapting = settings.pcr || settings.cc || settings.time;
    if (size >= kTsBytes && data != nullptr)
    {
        std::size_t offset = 0;
        while (offset + size <= length && (adapting || m_skipLeading))
        {
            std::uint8_t* packet = data + offset;
            // A packet is one whose sync byte the next packet confirms (the range
            // ends on a packet boundary); other bytes are not ours and pass unchanged.
            const bool confirmed = offset + size == length || packet[size] == kSyncByte;
            if (packet[0] != kSyncByte || !confirmed)
            {
                ++offset;
                continue;
            }
            if (m_skipLeading)
            {
                // The partial packet in front of the first one after a jump never
                // leaves: the sender starts at a packet. It is no output position.
                m_position -= static_cast<std::int64_t>(offset);
                m_skipLeading = false;
            }
            const std::int64_t position = m_position + static_cast<std::int64_t>(offset);
            const std::uint16_t pid = ts_get_pid(packet);
            if (pid != kNullPid && (packet[3] & 0x30) != 0)
            {
                if (settings.pcr && timed)
                {
                    if (HasValidPcr(packet))
                        RestampPcr(packet, pid, position);
                    RestampPes(packet, pid, packet + size, length - offset - size,
                               position + static_cast<std::int64_t>(size), packetSize, pcrPidOf);
                }
                if (settings.cc)
                    RestampCc(packet, pid);
                if (settings.time && timed && pid == kTimePid)
                    RewriteTime(packet, position, settings);
            }
            if (settings.cc)
                Remember(pid, pid != kNullPid && (packet[3] & 0x30) != 0 ? ts_get_cc(packet) : -1);
            offset += size;
        }
    }
    m_position += static_cast<std::int64_t>(length);
}

void CStreamAdapter::RestampPcr(std::uint8_t* packet, std::uint16_t pid, std::int64_t position)
{
    PidState& state = m_pids[pid];
    const std::uint64_t in = PcrOf(packet);
    const std::uint64_t ticks = Ticks(position + kPcrByte) % kPcrModulus;
    if (!state.pcrBased)
    {
        // The first PCR of the play keeps its value; all later ones follow the output.
        state.pcrBase = (in + kPcrModulus - ticks) % kPcrModulus;
        state.pcrBased = true;
    }
    const std::uint64_t out = (state.pcrBase + ticks) % kPcrModulus;
    state.shift90 = ((out + kPcrModulus - in) % kPcrModulus) / 300;
    state.shiftKnown = true;
    m_lastPcrPid = pid;
    tsaf_set_pcr(packet, out / 300);
    tsaf_set_pcrext(packet, static_cast<std::uint16_t>(out % 300));
}

bool CStreamAdapter::LookAheadShift(std::uint16_t pcrPid, const std::uint8_t* rest, std::size_t restLength,
                                    std::int64_t restPosition, int packetSize)
{
    const auto size = static_cast<std::size_t>(packetSize);
    for (std::size_t offset = 0; offset + size <= restLength; offset += size)
    {
        const std::uint8_t* packet = rest + offset;
        if (packet[0] != kSyncByte || ts_get_pid(packet) != pcrPid || !HasValidPcr(packet))
            continue;
        PidState& state = m_pids[pcrPid];
        const std::uint64_t in = PcrOf(packet);
        const std::uint64_t ticks = Ticks(restPosition + static_cast<std::int64_t>(offset) + kPcrByte) % kPcrModulus;
        const std::uint64_t base = state.pcrBased ? state.pcrBase : (in + kPcrModulus - ticks) % kPcrModulus;
        const std::uint64_t out = (base + ticks) % kPcrModulus;
        state.shift90 = ((out + kPcrModulus - in) % kPcrModulus) / 300;
        state.shiftKnown = true;
        return true;
    }
    return false;
}

void CStreamAdapter::RestampPes(std::uint8_t* packet, std::uint16_t pid, const std::uint8_t* rest,
                                std::size_t restLength, std::int64_t restPosition, int packetSize,
                                const PcrPidLookup& pcrPidOf)
{
    // Scrambled payloads hide their PES header; a header cut by the packet end is left alone.
    if (!ts_get_unitstart(packet) || ts_get_scrambling(packet) != 0)
        return;
    const std::size_t start = PayloadOffset(packet);
    if (start == 0 || start + 9 > kTsBytes)
        return;
    std::uint8_t* pes = packet + start;
    if (!pes_validate(pes) || !HasPesHeader(pes_get_streamid(pes)) || !pes_validate_header(pes))
        return;
    const bool hasPts = pes_has_pts(pes);
    const bool hasDts = pes_has_dts(pes);
    if (!hasPts)
        return;
    const std::size_t timeBytes = hasDts ? 10 : 5;
    if (pes_get_headerlength(pes) < timeBytes || start + 9 + timeBytes > kTsBytes)
        return;
    if (!pes_validate_pts(pes) || (hasDts && !pes_validate_dts(pes)))
        return;

    std::uint16_t pcrPid = pcrPidOf ? pcrPidOf(pid) : kNullPid;
    if (pcrPid == kNullPid)
        pcrPid = m_lastPcrPid; // no PMT names the program: the clock seen last
    if (pcrPid == kNullPid)
        return;
    PidState& clock = m_pids[pcrPid];
    if (!clock.shiftKnown && !LookAheadShift(pcrPid, rest, restLength, restPosition, packetSize) && !clock.pcrBased)
        return; // no PCR of this program yet: nothing to shift by
    pes_set_pts(pes, (pes_get_pts(pes) + clock.shift90) % kPtsModulus);
    if (hasDts)
        pes_set_dts(pes, (pes_get_dts(pes) + clock.shift90) % kPtsModulus);
}

void CStreamAdapter::RestampCc(std::uint8_t* packet, std::uint16_t pid)
{
    PidState& state = m_pids[pid];
    const std::uint8_t cc = ts_get_cc(packet);
    const bool payload = ts_has_payload(packet);
    if (!state.ccKnown)
    {
        // First packet of this PID since the play started or moved: continue the
        // counter the receiver saw last; within the pass the file's pattern stays.
        if (state.lastCc < 0)
            state.ccOffset = 0;
        else
        {
            const int expected = payload ? (state.lastCc + 1) & 0x0F : state.lastCc;
            state.ccOffset = static_cast<std::uint8_t>((expected - cc) & 0x0F);
        }
        state.ccKnown = true;
    }
    const auto out = static_cast<std::uint8_t>((cc + state.ccOffset) & 0x0F);
    ts_set_cc(packet, out);
    state.lastCc = static_cast<std::int8_t>(out);
}

void CStreamAdapter::Remember(std::uint16_t pid, int cc)
{
    std::uint32_t entry = pid & kNullPid;
    if (cc >= 0)
        entry |= (static_cast<std::uint32_t>(cc) << 13) | (std::uint32_t{1} << 17);
    m_history[m_historyNext] = entry;
    m_historyNext = (m_historyNext + 1) % kHistoryPackets;
    if (m_historyFill < kHistoryPackets)
        ++m_historyFill;
}

std::int64_t CStreamAdapter::TimeAt(std::int64_t position, const CAdaptSettings& settings, std::int64_t sectionTime)
{
    const std::uint64_t ticks = Ticks(position);
    if (settings.timeType == 1 || settings.timeType == 2)
    {
        // The wall clock of the play start, carried along the output timeline.
        const std::int64_t start = m_wallStart + (settings.timeType == 2 ? settings.timeOffset : 0);
        return start + static_cast<std::int64_t>(ticks / kTicksPerSecondInt);
    }
    if (!m_fileTimeAnchored)
    {
        // The file's own first time belongs to the first TDT/TOT sent.
        m_fileTimeAnchored = true;
        m_fileTimeStart = settings.fileTime != 0 ? settings.fileTime : sectionTime;
        m_fileTimeTicks = ticks;
    }
    return m_fileTimeStart + static_cast<std::int64_t>((ticks - m_fileTimeTicks) / kTicksPerSecondInt);
}

void CStreamAdapter::RewriteTime(std::uint8_t* packet, std::int64_t position, const CAdaptSettings& settings)
{
    if (!ts_get_unitstart(packet) || ts_get_scrambling(packet) != 0)
        return;
    const std::size_t start = PayloadOffset(packet);
    if (start == 0)
        return;
    // Sections that start in this packet and end in it; the others are not touched.
    std::size_t at = start + 1 + packet[start];
    while (at + kTimeSectionHeader <= kTsBytes)
    {
        std::uint8_t* section = packet + at;
        const std::uint8_t tableId = psi_get_tableid(section);
        if (tableId == 0xFF)
            break;
        const std::size_t length = psi_get_length(section);
        if (at + kTimeSectionHeader + length > kTsBytes)
            break;
        const bool tdt = tableId == kTdtTableId && length == kUtcBytes;
        const bool tot = tableId == kTotTableId && length >= kTotMinLength && psi_check_crc(section);
        if (tdt || tot)
        {
            std::uint8_t* utc = section + kTimeSectionHeader;
            std::uint64_t fileUtc = 0;
            for (std::size_t i = 0; i < kUtcBytes; ++i)
                fileUtc = (fileUtc << 8) | utc[i];
            const std::int64_t time = TimeAt(position, settings, dvb_time_decode_UTC(fileUtc));
            const std::uint64_t encoded = dvb_time_encode_UTC(static_cast<time_t>(time));
            for (std::size_t i = 0; i < kUtcBytes; ++i)
                utc[i] = static_cast<std::uint8_t>(encoded >> (8 * (kUtcBytes - 1 - i)));
            if (tot)
                psi_set_crc(section);
        }
        at += kTimeSectionHeader + length;
    }
}
