#include "analysis/CTsGenerator.h"

#include "analysis/StreamTypeName.h"

#include <bitstream/dvb/si.h>
#include <bitstream/mpeg/pes.h>
#include <bitstream/mpeg/psi.h>
#include <bitstream/mpeg/ts.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <deque>

namespace
{
constexpr std::uint64_t kPcrHz = 27'000'000;
constexpr std::uint64_t kPcrWrap = (std::uint64_t{1} << 33) * 300;
constexpr std::uint64_t kPtsWrap = std::uint64_t{1} << 33;
constexpr std::uint64_t kPcrPeriod = kPcrHz * 40 / 1000;  // 40 ms at most
constexpr std::uint64_t kPsiPeriod = kPcrHz * 100 / 1000; // PAT, PMT every 100 ms
constexpr std::uint64_t kSdtPeriod = kPcrHz * 500 / 1000; // 500 ms
constexpr std::uint64_t kTimePeriod = kPcrHz;             // TDT and TOT every second
constexpr std::uint64_t kPtsDelay = 63'000;               // 0.7 s at 90 kHz
constexpr std::uint64_t kDtsBehind = 3'600;               // 40 ms at 90 kHz
constexpr int kVideoPesPackets = 8;
constexpr int kAudioPesPackets = 2;
constexpr std::size_t kTs = 188;
constexpr std::size_t kMaxSectionPayload = 1021 - 4 - 5; // section_length minus CRC and long header
constexpr std::uint16_t kPatPid = 0x0000;
constexpr std::uint16_t kSdtPid = 0x0011;
constexpr std::uint16_t kTimePid = 0x0014;
constexpr std::size_t kChunkBytes = 64 * 1024;

using Section = std::vector<std::uint8_t>;
__extension__ typedef unsigned __int128 Wide; // exact packet times of long streams

// A long-header section around @p body; the CRC is computed by bitstream.
Section LongSection(std::uint8_t table, std::uint16_t extension, std::uint8_t number, std::uint8_t last,
                    const std::vector<std::uint8_t>& body)
{
    Section s(8 + body.size() + 4);
    psi_init(s.data(), true);
    psi_set_tableid(s.data(), table);
    psi_set_length(s.data(), static_cast<std::uint16_t>(5 + body.size() + 4));
    psi_set_tableidext(s.data(), extension);
    psi_set_version(s.data(), 0);
    psi_set_current(s.data());
    psi_set_section(s.data(), number);
    psi_set_lastsection(s.data(), last);
    std::copy(body.begin(), body.end(), s.begin() + 8);
    psi_set_crc(s.data());
    return s;
}

void Put16(std::vector<std::uint8_t>& out, unsigned value)
{
    out.push_back(static_cast<std::uint8_t>(value >> 8));
    out.push_back(static_cast<std::uint8_t>(value));
}

void PutText(std::vector<std::uint8_t>& out, const std::string& text)
{
    out.push_back(static_cast<std::uint8_t>(text.size()));
    out.insert(out.end(), text.begin(), text.end());
}

class Writer
{
public:
    Writer(const CTsGeneratorConfig& config, CTsGeneratorStats& stats,
           const std::function<bool(const std::uint8_t*, std::size_t)>& write)
        : m_config(config), m_stats(stats), m_write(write), m_cc(8192, 0), m_pendingCcError(8192, false),
          m_seen(8192, false)
    {
        m_buffer.reserve(kChunkBytes + 2 * 204 + config.garbageBytes + config.leadingGarbage);
    }

    bool Run();

private:
    struct Due
    {
        std::uint64_t next;
        std::uint64_t period;
        int kind; // 0 PAT, 1 PMT, 2 SDT, 3 TDT + TOT
        int program;
    };

    std::uint64_t TimeOfSlot(std::uint64_t slot) const;
    void Packetize(std::uint16_t pid, const std::vector<Section>& sections);
    std::vector<Section> TablesFor(const Due& due, std::uint64_t now) const;
    void EsPacket(std::uint8_t* packet, std::uint64_t now);
    bool Emit(const std::uint8_t* packet, std::uint16_t pid, bool lost);
    void Garbage(std::size_t bytes);
    bool Flush(bool force);

    const CTsGeneratorConfig& m_config;
    CTsGeneratorStats& m_stats;
    const std::function<bool(const std::uint8_t*, std::size_t)>& m_write;
    std::vector<std::uint8_t> m_buffer;
    std::vector<std::uint8_t> m_cc;
    std::vector<bool> m_pendingCcError;
    std::vector<bool> m_seen;
    std::deque<std::array<std::uint8_t, kTs>> m_psiPackets;
    std::vector<std::uint64_t> m_lastPcr;
    std::uint64_t m_slot = 0; // the slot being written
    std::vector<int> m_videoLeft, m_audioLeft;
    std::uint64_t m_esTurn = 0, m_videoCount = 0, m_audioCount = 0;
    std::uint32_t m_random = 0x2545F491;
    std::uint64_t m_changeSlot = 0;
};

std::uint64_t Writer::TimeOfSlot(std::uint64_t slot) const
{
    // Exact integer time of a packet's first byte, in 27 MHz ticks.
    const auto bits = static_cast<Wide>(m_config.packetSize) * 8;
    if (m_config.secondBitRate == 0 || slot < m_changeSlot)
        return static_cast<std::uint64_t>(bits * slot * kPcrHz / m_config.bitRate);
    const std::uint64_t atChange = static_cast<std::uint64_t>(bits * m_changeSlot * kPcrHz / m_config.bitRate);
    return atChange + static_cast<std::uint64_t>(bits * (slot - m_changeSlot) * kPcrHz / m_config.secondBitRate);
}

void Writer::Packetize(std::uint16_t pid, const std::vector<Section>& sections)
{
    // Sections back to back; a packet in which a section starts carries the pointer field.
    std::vector<std::uint8_t> bytes;
    std::vector<std::size_t> starts;
    for (const Section& s : sections)
    {
        starts.push_back(bytes.size());
        bytes.insert(bytes.end(), s.begin(), s.end());
    }
    std::size_t pos = 0;
    std::size_t nextStart = 0;
    while (pos < bytes.size())
    {
        std::array<std::uint8_t, kTs> p;
        p.fill(0xFF);
        ts_init(p.data());
        ts_set_pid(p.data(), pid);
        ts_set_payload(p.data());
        std::size_t room = kTs - 4;
        std::size_t out = 4;
        while (nextStart < starts.size() && starts[nextStart] < pos)
            ++nextStart;
        if (nextStart < starts.size() && starts[nextStart] < pos + room - 1)
        {
            ts_set_unitstart(p.data());
            p[out++] = static_cast<std::uint8_t>(starts[nextStart] - pos);
            --room;
        }
        const std::size_t take = std::min(room, bytes.size() - pos);
        std::memcpy(p.data() + out, bytes.data() + pos, take);
        pos += take;
        m_psiPackets.push_back(p);
    }
}

std::vector<Section> Writer::TablesFor(const Due& due, std::uint64_t now) const
{
    std::vector<Section> sections;
    const int programs = m_config.programs;
    if (due.kind == 0)
    {
        // PAT: as many sections as the programs need.
        const std::size_t perSection = kMaxSectionPayload / 4;
        const std::size_t count = (static_cast<std::size_t>(programs) + perSection - 1) / perSection;
        for (std::size_t n = 0; n < count; ++n)
        {
            std::vector<std::uint8_t> body;
            for (std::size_t i = n * perSection; i < std::min((n + 1) * perSection, std::size_t(programs)); ++i)
            {
                Put16(body, static_cast<unsigned>(i + 1));
                Put16(body, 0xE000u | CTsGenerator::PmtPid(static_cast<int>(i)));
            }
            sections.push_back(LongSection(0x00, CTsGenerator::kTransportStreamId, static_cast<std::uint8_t>(n),
                                           static_cast<std::uint8_t>(count - 1), body));
        }
    }
    else if (due.kind == 1)
    {
        const int i = due.program;
        std::vector<std::uint8_t> body;
        Put16(body, 0xE000u | CTsGenerator::VideoPid(i)); // PCR PID
        Put16(body, 0xF000u);                             // no program descriptors
        body.push_back(CTsGenerator::VideoType(i));
        Put16(body, 0xE000u | CTsGenerator::VideoPid(i));
        Put16(body, 0xF000u);
        std::vector<std::uint8_t> descriptors = {DescriptorTag::kLanguage, 4, 'e', 'n', 'g', 0};
        if (CTsGenerator::AudioDescriptor(i) != 0)
            descriptors.insert(descriptors.begin(), {CTsGenerator::AudioDescriptor(i), 0});
        body.push_back(CTsGenerator::AudioType(i));
        Put16(body, 0xE000u | CTsGenerator::AudioPid(i));
        Put16(body, 0xF000u | static_cast<unsigned>(descriptors.size()));
        body.insert(body.end(), descriptors.begin(), descriptors.end());
        sections.push_back(LongSection(0x02, static_cast<std::uint16_t>(i + 1), 0, 0, body));
    }
    else if (due.kind == 2)
    {
        // SDT actual: services until a section is full, then the next section.
        std::vector<std::vector<std::uint8_t>> bodies(1);
        for (int i = 0; i < programs; ++i)
        {
            std::vector<std::uint8_t> service;
            Put16(service, static_cast<unsigned>(i + 1));
            service.push_back(0xFC);
            std::vector<std::uint8_t> descriptor = {DescriptorTag::kServiceDescriptor, 0, 0x01};
            PutText(descriptor, CTsGenerator::ProviderName());
            PutText(descriptor, CTsGenerator::ServiceName(i));
            descriptor[1] = static_cast<std::uint8_t>(descriptor.size() - 2);
            Put16(service, 0x8000u | static_cast<unsigned>(descriptor.size())); // running
            service.insert(service.end(), descriptor.begin(), descriptor.end());
            if (bodies.back().size() + service.size() + 3 > kMaxSectionPayload)
                bodies.emplace_back();
            bodies.back().insert(bodies.back().end(), service.begin(), service.end());
        }
        for (std::size_t n = 0; n < bodies.size(); ++n)
        {
            std::vector<std::uint8_t> body;
            Put16(body, CTsGenerator::kNetworkId);
            body.push_back(0xFF);
            body.insert(body.end(), bodies[n].begin(), bodies[n].end());
            sections.push_back(LongSection(0x42, CTsGenerator::kTransportStreamId, static_cast<std::uint8_t>(n),
                                           static_cast<std::uint8_t>(bodies.size() - 1), body));
        }
    }
    else
    {
        // TDT and TOT in one packet: two sections share it.
        const auto time = static_cast<time_t>(m_config.startTime + static_cast<std::int64_t>(now / kPcrHz));
        const std::uint64_t utc = dvb_time_encode_UTC(time);
        Section tdt(8);
        psi_init(tdt.data(), false);
        psi_set_tableid(tdt.data(), 0x70);
        psi_set_length(tdt.data(), 5);
        for (int b = 0; b < 5; ++b)
            tdt[3 + static_cast<std::size_t>(b)] = static_cast<std::uint8_t>(utc >> (8 * (4 - b)));
        Section tot(8 + 2 + 4);
        psi_init(tot.data(), false);
        psi_set_tableid(tot.data(), 0x73);
        psi_set_length(tot.data(), 5 + 2 + 4);
        for (int b = 0; b < 5; ++b)
            tot[3 + static_cast<std::size_t>(b)] = static_cast<std::uint8_t>(utc >> (8 * (4 - b)));
        tot[8] = 0xF0; // no descriptors
        tot[9] = 0x00;
        psi_set_crc(tot.data());
        sections.push_back(tdt);
        sections.push_back(tot);
    }
    return sections;
}

void Writer::EsPacket(std::uint8_t* p, std::uint64_t now)
{
    const int programs = m_config.programs;
    const std::uint64_t turn = m_esTurn++;
    const int program = static_cast<int>((turn / 5) % static_cast<std::uint64_t>(programs));
    const bool video = turn % 5 < 4;
    const std::uint16_t pid = video ? CTsGenerator::VideoPid(program) : CTsGenerator::AudioPid(program);
    std::memset(p, 0, kTs);
    ts_init(p);
    ts_set_pid(p, pid);
    ts_set_payload(p);
    std::size_t pos = 4;
    // A PCR when the program's next video packet could come more than 40 ms after
    // the last one: after the other programs' turns and a burst of every table.
    const std::uint64_t worstWait = TimeOfSlot(m_slot + 6 * static_cast<std::uint64_t>(programs) + 5) - now;
    if (video && now - m_lastPcr[static_cast<std::size_t>(program)] + worstWait >= kPcrPeriod)
    {
        m_lastPcr[static_cast<std::size_t>(program)] = now;
        ts_set_adaptation(p, 7);
        const std::uint64_t pcr = (m_config.pcrStart + now) % kPcrWrap;
        tsaf_set_pcr(p, pcr / 300);
        tsaf_set_pcrext(p, static_cast<std::uint16_t>(pcr % 300));
        pos += 8;
    }
    int& left = video ? m_videoLeft[static_cast<std::size_t>(program)] : m_audioLeft[static_cast<std::size_t>(program)];
    if (left == 0)
    {
        ts_set_unitstart(p);
        std::uint8_t* pes = p + pos;
        pes_init(pes);
        pes_set_streamid(pes, video ? 0xE0 : 0xC0);
        pes_set_length(pes, video ? 0 : static_cast<std::uint16_t>(kAudioPesPackets * (kTs - 4) - PES_HEADER_SIZE));
        pes[6] = 0x80;
        pes[7] = 0x00;
        pes[8] = 0;
        const std::uint64_t pts = (now / 300 + kPtsDelay) % kPtsWrap;
        if (video)
            pes_set_dts(pes, (pts + kPtsWrap - kDtsBehind) % kPtsWrap);
        pes_set_pts(pes, pts);
        pos += video ? PES_HEADER_SIZE_PTSDTS : PES_HEADER_SIZE_PTS;
        left = video ? kVideoPesPackets : kAudioPesPackets;
    }
    --left;
    // Payload: a running pattern, never mistaken for anything.
    for (; pos < kTs; ++pos)
    {
        m_random = m_random * 1664525u + 1013904223u;
        p[pos] = static_cast<std::uint8_t>(m_random >> 24);
    }
}

void Writer::Garbage(std::size_t bytes)
{
    for (std::size_t i = 0; i < bytes; ++i)
    {
        m_random = m_random * 1664525u + 1013904223u;
        auto b = static_cast<std::uint8_t>(m_random >> 24);
        m_buffer.push_back(b == 0x47 ? std::uint8_t{0x46} : b);
    }
    m_stats.bytes += bytes;
}

bool Writer::Emit(const std::uint8_t* packet, std::uint16_t pid, bool lost)
{
    if (lost)
    {
        m_pendingCcError[pid] = m_seen[pid];
        ++m_stats.droppedPackets;
        return true;
    }
    if (m_pendingCcError[pid])
    {
        ++m_stats.continuityErrors;
        m_pendingCcError[pid] = false;
    }
    m_buffer.insert(m_buffer.end(), packet, packet + kTs);
    m_buffer.insert(m_buffer.end(), static_cast<std::size_t>(m_config.packetSize) - kTs, std::uint8_t{0});
    ++m_stats.packets;
    m_stats.bytes += static_cast<std::uint64_t>(m_config.packetSize);
    if (m_config.garbageEvery > 0 && m_stats.packets % m_config.garbageEvery == 0 && m_config.garbageBytes > 0)
    {
        Garbage(m_config.garbageBytes);
        ++m_stats.garbageBursts;
    }
    return Flush(false);
}

bool Writer::Flush(bool force)
{
    if (m_buffer.empty() || (!force && m_buffer.size() < kChunkBytes))
        return true;
    const bool ok = m_write(m_buffer.data(), m_buffer.size());
    m_buffer.clear();
    return ok;
}

bool Writer::Run()
{
    const int programs = m_config.programs;
    m_lastPcr.assign(static_cast<std::size_t>(programs), ~std::uint64_t{0} / 2);
    m_videoLeft.assign(static_cast<std::size_t>(programs), 0);
    m_audioLeft.assign(static_cast<std::size_t>(programs), 0);
    const double bitsPerPacket = m_config.packetSize * 8.0;
    if (m_config.secondBitRate != 0)
        m_changeSlot = static_cast<std::uint64_t>(
            std::floor(m_config.rateChangeSeconds * static_cast<double>(m_config.bitRate) / bitsPerPacket));
    const double endTime = m_config.durationSeconds;
    std::uint64_t slots = m_changeSlot;
    if (m_config.secondBitRate == 0)
        slots = static_cast<std::uint64_t>(std::ceil(endTime * static_cast<double>(m_config.bitRate) / bitsPerPacket));
    else
        slots += static_cast<std::uint64_t>(std::ceil(std::max(0.0, endTime - m_config.rateChangeSeconds) *
                                                      static_cast<double>(m_config.secondBitRate) / bitsPerPacket));

    std::vector<Due> dues;
    dues.push_back(Due{0, kPsiPeriod, 0, 0});
    for (int i = 0; i < programs; ++i)
        dues.push_back(Due{0, kPsiPeriod, 1, i});
    dues.push_back(Due{0, kSdtPeriod, 2, 0});
    dues.push_back(Due{0, kTimePeriod, 3, 0});

    Garbage(m_config.leadingGarbage);
    std::array<std::uint8_t, kTs> packet;
    for (std::uint64_t slot = 0; slot < slots; ++slot)
    {
        const std::uint64_t now = TimeOfSlot(slot);
        m_slot = slot;
        if (m_psiPackets.empty())
        {
            Due* first = nullptr;
            for (Due& due : dues)
                if (due.next <= now && (first == nullptr || due.next < first->next))
                    first = &due;
            if (first != nullptr)
            {
                const std::uint16_t pid = first->kind == 0   ? kPatPid
                                          : first->kind == 1 ? CTsGenerator::PmtPid(first->program)
                                          : first->kind == 2 ? kSdtPid
                                                             : kTimePid;
                Packetize(pid, TablesFor(*first, now));
                first->next += first->period;
            }
        }
        bool lost = false;
        if (!m_psiPackets.empty())
        {
            packet = m_psiPackets.front();
            m_psiPackets.pop_front();
        }
        else
        {
            EsPacket(packet.data(), now);
            const bool video = (m_esTurn - 1) % 5 < 4;
            if (video)
            {
                ++m_videoCount;
                if (m_config.ccErrorEvery > 0 && m_videoCount % m_config.ccErrorEvery == 0)
                {
                    const std::uint16_t videoPid = ts_get_pid(packet.data());
                    m_cc[videoPid]++;
                    if (m_seen[videoPid])
                        ++m_stats.continuityErrors;
                }
            }
            else
            {
                ++m_audioCount;
                lost = m_config.dropEvery > 0 && m_audioCount % m_config.dropEvery == 0;
            }
        }
        const std::uint16_t pid = ts_get_pid(packet.data());
        ts_set_cc(packet.data(), m_cc[pid]++ & 0x0F);
        ++m_stats.slots;
        if (!Emit(packet.data(), pid, lost))
            return false;
        m_seen[pid] = m_seen[pid] || !lost;
    }
    return Flush(true);
}
} // namespace

std::uint8_t CTsGenerator::VideoType(int index)
{
    static constexpr std::uint8_t kTypes[] = {0x1B, 0x02, 0x24};
    return kTypes[index % 3];
}

std::uint8_t CTsGenerator::AudioType(int index)
{
    static constexpr std::uint8_t kTypes[] = {0x0F, 0x03, 0x06, 0x04};
    return kTypes[index % 4];
}

std::uint8_t CTsGenerator::AudioDescriptor(int index)
{
    return AudioType(index) == 0x06 ? DescriptorTag::kAc3 : 0;
}

std::string CTsGenerator::Validate() const
{
    const CTsGeneratorConfig& c = m_config;
    if (c.programs < 1 || c.programs > kMaxPrograms)
        return "programs must be 1 to " + std::to_string(kMaxPrograms);
    if (c.packetSize != 188 && c.packetSize != 204)
        return "packet size must be 188 or 204";
    // Below 100 kbit/s the tables alone would not fit; above 10 Gbit/s nobody sends a TS.
    auto rateOk = [](std::uint64_t rate) { return rate >= 100'000 && rate <= 10'000'000'000ull; };
    if (!rateOk(c.bitRate) || (c.secondBitRate != 0 && !rateOk(c.secondBitRate)))
        return "bit rate must be 100000 to 10000000000 bit/s";
    if (!(c.durationSeconds > 0.0) || c.durationSeconds > 24 * 3600.0)
        return "duration must be above 0 and at most 24 hours";
    if (c.secondBitRate != 0 && !(c.rateChangeSeconds >= 0.0 && c.rateChangeSeconds <= c.durationSeconds))
        return "the rate change must lie within the duration";
    if (c.garbageBytes > 1'000'000 || c.leadingGarbage > 1'000'000)
        return "garbage bursts are limited to 1000000 bytes";
    return {};
}

bool CTsGenerator::Generate(const std::function<bool(const std::uint8_t*, std::size_t)>& write)
{
    m_stats = CTsGeneratorStats{};
    if (!Validate().empty())
        return false;
    Writer writer(m_config, m_stats, write);
    return writer.Run();
}

std::vector<std::uint8_t> CTsGenerator::GenerateToMemory()
{
    std::vector<std::uint8_t> out;
    Generate([&out](const std::uint8_t* data, std::size_t length) {
        out.insert(out.end(), data, data + length);
        return true;
    });
    return out;
}
