#include "analysis/CPsiTables.h"

#include "analysis/StreamTypeName.h"

#include <bitstream/dvb/si.h>
#include <bitstream/mpeg/psi.h>

#include <vector>

namespace
{
constexpr std::uint8_t kTablePat = 0x00;
constexpr std::uint8_t kTablePmt = 0x02;
constexpr std::uint8_t kTableSdtActual = 0x42;
constexpr std::uint8_t kTableTdt = 0x70;
constexpr std::uint8_t kTableTot = 0x73;

// DVB text (EN 300 468 annex A) as UTF-8: the character table selector is
// skipped, control codes dropped, the remaining bytes read as Latin-1, which is
// right for the default table in all but a few symbols.
std::string DvbText(const std::uint8_t* text, std::size_t length)
{
    std::size_t pos = 0;
    if (length > 0 && text[0] < 0x20)
    {
        if (text[0] == 0x10)
            pos = 3;
        else if (text[0] == 0x1F)
            pos = 2;
        else
            pos = 1;
    }
    std::string out;
    for (; pos < length; ++pos)
    {
        const std::uint8_t c = text[pos];
        if (c < 0x20 || (c >= 0x7F && c < 0xA0))
            continue;
        if (c < 0x80)
            out.push_back(static_cast<char>(c));
        else
        {
            out.push_back(static_cast<char>(0xC0 | (c >> 6)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
    return out;
}

// Walks a descriptor loop with bounds checks; @p visit gets (tag, body, body length).
template<typename Visit> void ForEachDescriptor(const std::uint8_t* loop, std::size_t length, Visit visit)
{
    std::size_t pos = 0;
    while (pos + 2 <= length)
    {
        const std::uint8_t tag = loop[pos];
        const std::size_t bodyLength = loop[pos + 1];
        if (pos + 2 + bodyLength > length)
            return;
        visit(tag, loop + pos + 2, bodyLength);
        pos += 2 + bodyLength;
    }
}

std::int64_t DecodeUtc(const std::uint8_t* utc)
{
    std::uint64_t value = 0;
    for (int i = 0; i < 5; ++i)
        value = value << 8 | utc[i];
    return static_cast<std::int64_t>(dvb_time_decode_UTC(value));
}
} // namespace

void CPsiTables::Reset()
{
    *this = CPsiTables();
}

CPsiTables::Result CPsiTables::OnSection(std::uint16_t pid, std::uint8_t* section, std::size_t length)
{
    if (length < std::size_t{PSI_HEADER_SIZE} || length != std::size_t{PSI_HEADER_SIZE} + psi_get_length(section))
        return Result::Malformed;
    const std::uint8_t table = psi_get_tableid(section);

    if (pid == kTdtPid && table == kTableTdt)
    {
        if (!tdt_validate(section))
            return Result::Malformed;
        OnTime(DecodeUtc(section + 3), false);
        return Result::Used;
    }
    if (pid == kTdtPid && table == kTableTot)
    {
        if (length < std::size_t{TOT_HEADER_SIZE + PSI_CRC_SIZE})
            return Result::Malformed;
        if (!psi_check_crc(section))
            return Result::BadCrc;
        if (!tot_validate(section))
            return Result::Malformed;
        OnTime(DecodeUtc(section + 3), true);
        return Result::Used;
    }

    // Everything else we read has the long header and a CRC_32.
    if (!psi_get_syntax(section) || length < std::size_t{PSI_HEADER_SIZE_SYNTAX1 + PSI_CRC_SIZE} ||
        !psi_validate(section))
        return Result::Malformed;
    if (!psi_check_crc(section))
        return Result::BadCrc;
    if (!psi_get_current(section))
        return Result::Used;
    if (pid == kPatPid && table == kTablePat)
        return OnPat(section);
    if (table == kTablePmt && IsPmtPid(pid))
        return OnPmt(pid, section);
    if (pid == kSdtPid && table == kTableSdtActual)
        return OnSdt(section);
    return Result::Used;
}

CPsiTables::Result CPsiTables::OnPat(std::uint8_t* section)
{
    if (!pat_validate(section))
        return Result::Malformed;
    const std::uint8_t version = psi_get_version(section);
    const std::uint16_t tsid = psi_get_tableidext(section);
    if (m_hasPat && (version != m_patVersion || tsid != m_transportStreamId))
    {
        // A new PAT: programs that are gone must go; PMTs come again within a cycle.
        m_programs.clear();
        m_networkPid = 0;
        m_programsDropped = 0;
    }
    m_hasPat = true;
    m_patVersion = version;
    m_transportStreamId = tsid;

    std::uint8_t* entry = nullptr;
    for (std::uint8_t n = 0; (entry = pat_get_program(section, n)) != nullptr; ++n)
    {
        const std::uint16_t number = patn_get_program(entry);
        const std::uint16_t pid = patn_get_pid(entry);
        if (number == 0)
        {
            m_networkPid = pid;
            continue;
        }
        auto it = m_programs.find(number);
        if (it == m_programs.end())
        {
            if (m_programs.size() >= kMaxPrograms)
            {
                ++m_programsDropped;
                continue;
            }
            it = m_programs.emplace(number, CProgramInfo{}).first;
            it->second.programNumber = number;
        }
        if (it->second.pmtPid != pid)
        {
            it->second = CProgramInfo{};
            it->second.programNumber = number;
            it->second.pmtPid = pid;
        }
        if (n == 255)
            break;
    }
    RebuildPmtPids();
    RebuildStreamPids();
    return Result::Used;
}

void CPsiTables::RebuildStreamPids()
{
    std::bitset<8192> pids;
    for (const auto& [number, program] : m_programs)
        for (const CStreamInfo& stream : program.streams)
            pids.set(stream.pid & 0x1FFF);
    if (pids != m_streamPids)
    {
        m_streamPids = pids;
        ++m_streamGeneration;
    }
}

void CPsiTables::RebuildPmtPids()
{
    std::bitset<8192> pids;
    for (const auto& [number, program] : m_programs)
        pids.set(program.pmtPid & 0x1FFF);
    if (pids != m_pmtPids)
    {
        m_pmtPids = pids;
        ++m_pmtGeneration;
    }
}

CPsiTables::Result CPsiTables::OnPmt(std::uint16_t pid, std::uint8_t* section)
{
    if (!pmt_validate(section))
        return Result::Malformed;
    auto it = m_programs.find(psi_get_tableidext(section));
    if (it == m_programs.end() || it->second.pmtPid != pid)
        return Result::Used; // a PMT the PAT does not announce here
    CProgramInfo& program = it->second;
    program.hasPmt = true;
    program.pcrPid = pmt_get_pcrpid(section);
    std::vector<std::uint16_t> previous;
    for (const CStreamInfo& stream : program.streams)
        previous.push_back(stream.pid);
    program.streams.clear();

    std::uint8_t* es = nullptr;
    for (std::uint8_t n = 0; (es = pmt_get_es(section, n)) != nullptr; ++n)
    {
        CStreamInfo stream;
        stream.pid = pmtn_get_pid(es);
        stream.streamType = pmtn_get_streamtype(es);
        ForEachDescriptor(pmtn_get_descs(es) + DESCS_HEADER_SIZE, pmtn_get_desclength(es),
                          [&stream](std::uint8_t tag, const std::uint8_t* body, std::size_t bodyLength) {
                              if (IsContentDescriptor(tag) && stream.descriptorHint == 0)
                                  stream.descriptorHint = tag;
                              if ((tag == DescriptorTag::kLanguage || tag == DescriptorTag::kTeletext ||
                                   tag == DescriptorTag::kSubtitling) &&
                                  bodyLength >= 3 && stream.language.empty())
                                  stream.language = DvbText(body, 3);
                          });
        program.streams.push_back(std::move(stream));
        if (n == 255)
            break;
    }
    // Most PMTs repeat unchanged: only a changed list of PIDs rebuilds the set.
    bool same = previous.size() == program.streams.size();
    for (std::size_t i = 0; same && i < previous.size(); ++i)
        same = previous[i] == program.streams[i].pid;
    if (!same)
        RebuildStreamPids();
    return Result::Used;
}

CPsiTables::Result CPsiTables::OnSdt(std::uint8_t* section)
{
    if (!sdt_validate(section))
        return Result::Malformed;
    std::uint8_t* service = nullptr;
    for (std::uint8_t n = 0; (service = sdt_get_service(section, n)) != nullptr; ++n)
    {
        const std::uint16_t sid = sdtn_get_sid(service);
        auto it = m_services.find(sid);
        if (it == m_services.end())
        {
            if (m_services.size() >= kMaxPrograms)
                continue;
            it = m_services.emplace(sid, CServiceInfo{}).first;
        }
        CServiceInfo& info = it->second;
        ForEachDescriptor(sdtn_get_descs(service) + DESCS_HEADER_SIZE, sdtn_get_desclength(service),
                          [&info](std::uint8_t tag, const std::uint8_t* body, std::size_t bodyLength) {
                              if (tag != DescriptorTag::kServiceDescriptor || bodyLength < 3)
                                  return;
                              // service_type, provider name with its length, service name with its length.
                              const std::size_t providerLength = body[1];
                              if (2 + providerLength + 1 > bodyLength)
                                  return;
                              const std::size_t serviceLength = body[2 + providerLength];
                              if (3 + providerLength + serviceLength > bodyLength)
                                  return;
                              info.serviceType = body[0];
                              info.providerName = DvbText(body + 2, providerLength);
                              info.serviceName = DvbText(body + 3 + providerLength, serviceLength);
                          });
        if (n == 255)
            break;
    }
    return Result::Used;
}

void CPsiTables::OnTime(std::int64_t time, bool isTot)
{
    if (m_firstTime == 0)
        m_firstTime = time;
    (isTot ? m_lastTot : m_lastTdt) = time;
}

void CPsiTables::FillSnapshot(CAnalysisSnapshot& snapshot) const
{
    snapshot.hasPat = m_hasPat;
    snapshot.transportStreamId = m_transportStreamId;
    snapshot.networkPid = m_networkPid;
    snapshot.programsDropped = m_programsDropped;
    snapshot.programs = m_programs;
    snapshot.services = m_services;
    snapshot.firstTime = m_firstTime;
    snapshot.lastTdt = m_lastTdt;
    snapshot.lastTot = m_lastTot;
}

std::uint16_t CPsiTables::PcrPidOf(std::uint16_t pid) const
{
    for (const auto& [number, program] : m_programs)
    {
        if (!program.hasPmt)
            continue;
        for (const CStreamInfo& stream : program.streams)
            if (stream.pid == pid)
                return program.pcrPid;
    }
    return 0x1FFF;
}
