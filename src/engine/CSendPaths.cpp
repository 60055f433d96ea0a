#include "engine/CSendPaths.h"

#include "common/Ipv4Address.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace
{
// Later due (then later order) sorts first: the heap's front is the earliest.
constexpr auto kLaterDue = [](const auto& a, const auto& b) {
    return a.due != b.due ? a.due > b.due : a.order > b.order;
};
} // namespace

std::uint64_t CSendPaths::PathSeed(std::uint64_t seed, std::size_t path)
{
    // Path 0 keeps the seed given, so that a single output repeats with it;
    // the others step by the 64-bit golden ratio, as SplitMix64 does.
    return seed + 0x9E37'79B9'7F4A'7C15ull * path;
}

void CSendPaths::Add(CImpairment::Counters& sum, const CImpairment::Counters& c)
{
    sum.in += c.in;
    sum.out += c.out;
    sum.lost += c.lost;
    sum.burstLost += c.burstLost;
    sum.reordered += c.reordered;
    sum.duplicated += c.duplicated;
    sum.delayed += c.delayed;
    sum.maxDelayNs = std::max(sum.maxDelayNs, c.maxDelayNs);
}

CSendPaths::CSendPaths() : m_built(CUdpIOCPSocket::kDataAreaBytes) {}

CSendPaths::~CSendPaths()
{
    Close();
}

bool CSendPaths::Open(const Settings& s, CUdpIOCPSocket& primary, std::uint32_t address, std::uint16_t port,
                      std::uint32_t bitRate, CSteadyClock::NowFn now)
{
    Close();
    m_paths.clear();
    m_error.clear();
    m_now = std::move(now);
    m_finished = false;
    m_delayCut = 0;
    m_primary = &primary;
    if (s.extra.size() + 1 > kMaxPaths)
    {
        m_error = "at most " + std::to_string(kMaxPaths) + " destinations";
        return false;
    }
    m_fec.reset();
    if (s.fec)
    {
        const std::string fault = CFecEncoder::CheckSettings(*s.fec);
        if (!fault.empty())
        {
            m_error = "FEC: " + fault;
            return false;
        }
        CFecEncoder::Settings fec = *s.fec;
        if (fec.ssrc == 0)
            fec.ssrc = primary.GetSsrc();
        m_fec = std::make_unique<CFecEncoder>();
        m_fec->Configure(fec);
    }

    // Jitter holds up to its maximum of every datagram of the path: media, FEC
    // (at most 1 + 1/4 more) and duplicates (twice).
    m_delaySlots = 0;
    if (s.impairment.jitterMs > 0)
    {
        const double perSecond = bitRate / 8.0 / (7.0 * 188.0) * 2.25 * 2.0;
        const double held = perSecond * s.impairment.jitterMs / 1'000.0 + 64.0;
        m_delaySlots = static_cast<std::uint32_t>(std::min<double>(held, kMaxDelayed));
    }

    std::vector<Destination> all{{address, port}};
    all.insert(all.end(), s.extra.begin(), s.extra.end());
    m_paths.resize(all.size());
    for (std::size_t i = 0; i < all.size(); ++i)
    {
        Path& p = m_paths[i];
        const std::string host = FormatIpv4(all[i].address);
        const auto open = [&](Target t, std::uint32_t portOffset) {
            const std::uint32_t to = all[i].port + portOffset;
            if (to > 65'535)
            {
                m_error = "port " + std::to_string(to) + " (FEC of " + host + ":" + std::to_string(all[i].port) +
                          ") is above 65535";
                return false;
            }
            p.own[t] = std::make_unique<CUdpIOCPSocket>();
            p.own[t]->SetMulticast(primary.GetMulticastTtl(), primary.GetMulticastInterface());
            if (!p.own[t]->Create(static_cast<std::uint16_t>(to), host.c_str()))
            {
                m_error = host + ":" + std::to_string(to) + ": " + std::strerror(p.own[t]->GetCreateError());
                return false;
            }
            p.socket[t] = p.own[t].get();
            return true;
        };
        if (i == 0)
            p.socket[kMedia] = &primary;
        else if (!open(kMedia, 0))
            return false;
        if (m_fec &&
            (!open(kColumn, 2) || (m_fec->GetSettings().mode == CFecEncoder::Mode::RowColumn && !open(kRow, 4))))
            return false;
        if (s.impairment.IsActive())
            p.impairment = std::make_unique<CImpairment>(s.impairment, PathSeed(s.seed, i));
        p.storage.assign(std::size_t{m_delaySlots} * CUdpIOCPSocket::kDataAreaBytes, 0);
        p.freeSlots.resize(m_delaySlots);
        for (std::uint32_t k = 0; k < m_delaySlots; ++k)
            p.freeSlots[k] = m_delaySlots - 1 - k;
        p.heap.reserve(m_delaySlots);
    }
    Publish();
    return true;
}

void CSendPaths::Close()
{
    // A stop never loses what the stage holds: it leaves now.
    for (Path& p : m_paths)
        while (!p.heap.empty())
            ReleaseFirst(p);
    FlushSockets();
    if (m_primary != nullptr)
        m_primary->Flush();
    Publish();
    for (Path& p : m_paths)
        for (auto& own : p.own)
            if (own)
                own->Close();
}

CSendPaths::Target CSendPaths::Classify(std::span<const std::uint8_t> datagram) const
{
    // Impairment hands back held datagrams of every kind: FEC is told apart by
    // its payload type and the D bit of its FEC header (media is type 33).
    if (!m_fec || datagram.size() < fec::kOverheadBytes || (datagram[1] & 0x7F) != fec::kPayloadType)
        return kMedia;
    return (datagram[fec::kRtpHeaderBytes + 12] & 0x40) != 0 ? kRow : kColumn;
}

bool CSendPaths::Send(const std::uint8_t* data, std::uint32_t length, bool rtp, std::uint32_t timestamp)
{
    if (m_primary == nullptr || length + (rtp ? CUdpIOCPSocket::kRtpHeaderBytes : 0) > m_built.size())
        return false;
    const std::uint32_t n = m_primary->BuildDatagram(m_built.data(), data, length, rtp, timestamp);
    const std::span<const std::uint8_t> media(m_built.data(), n);
    const std::int64_t now = m_delaySlots > 0 ? m_now() : 0;
    for (Path& p : m_paths)
    {
        ReleaseDue(p, now);
        Emit(p, media, kMedia);
    }
    if (m_fec && m_fec->AddMedia(media) && !m_fec->Ready().empty())
    {
        // The media batch leaves first: a row's FEC never overtakes the row.
        m_primary->Flush();
        for (const CFecEncoder::Packet& f : m_fec->Ready())
            for (Path& p : m_paths)
                Emit(p, f.datagram, f.stream == fec::Stream::Column ? kColumn : kRow);
    }
    FlushSockets();
    return true;
}

void CSendPaths::Emit(Path& p, std::span<const std::uint8_t> datagram, Target target)
{
    if (!p.impairment)
    {
        Transmit(p, datagram, target);
        return;
    }
    for (const CImpairment::Output& o : p.impairment->Push(datagram))
        Out(p, o.datagram, o.datagram.data() == datagram.data() ? target : Classify(o.datagram), o.delayNs);
}

void CSendPaths::Out(Path& p, std::span<const std::uint8_t> datagram, Target target, std::int64_t delayNs)
{
    if (delayNs <= 0 || m_delaySlots == 0 || datagram.size() > CUdpIOCPSocket::kDataAreaBytes)
    {
        Transmit(p, datagram, target);
        return;
    }
    if (p.freeSlots.empty())
    {
        ReleaseFirst(p);
        ++m_delayCut;
    }
    const std::uint32_t slot = p.freeSlots.back();
    p.freeSlots.pop_back();
    std::memcpy(p.storage.data() + std::size_t{slot} * CUdpIOCPSocket::kDataAreaBytes, datagram.data(),
                datagram.size());
    p.heap.push_back({m_now() + delayNs, p.order++, slot, static_cast<std::uint32_t>(datagram.size()), target});
    std::push_heap(p.heap.begin(), p.heap.end(), kLaterDue);
}

void CSendPaths::Transmit(Path& p, std::span<const std::uint8_t> datagram, Target target)
{
    CUdpIOCPSocket* socket = p.socket[target];
    if (socket == nullptr)
        return;
    const auto bytes = static_cast<std::uint32_t>(datagram.size());
    if (socket->Send(datagram.data(), bytes, false, 0))
        return;
    // Duplicates and released datagrams can fill a batch the sender only
    // checked for one: flush and retry; a datagram still refused is counted.
    socket->Flush();
    if (!socket->Send(datagram.data(), bytes, false, 0))
        socket->RecordFailed(bytes, ENOBUFS);
}

void CSendPaths::ReleaseFirst(Path& p)
{
    std::pop_heap(p.heap.begin(), p.heap.end(), kLaterDue);
    const Delayed d = p.heap.back();
    p.heap.pop_back();
    Transmit(p, {p.storage.data() + std::size_t{d.slot} * CUdpIOCPSocket::kDataAreaBytes, d.bytes}, d.target);
    p.freeSlots.push_back(d.slot);
}

void CSendPaths::ReleaseDue(Path& p, std::int64_t now)
{
    while (!p.heap.empty() && p.heap.front().due <= now)
        ReleaseFirst(p);
}

void CSendPaths::FlushSockets()
{
    for (Path& p : m_paths)
        for (auto& own : p.own)
            if (own && own->GetQueuedSends() > 0)
                own->Flush();
}

void CSendPaths::Poll(bool endOfStream)
{
    if (endOfStream && !m_finished)
    {
        // The column FEC of the last full matrix, then what re-ordering holds back.
        m_finished = true;
        if (m_fec)
            for (const CFecEncoder::Packet& f : m_fec->Flush())
                for (Path& p : m_paths)
                    Emit(p, f.datagram, f.stream == fec::Stream::Column ? kColumn : kRow);
        for (Path& p : m_paths)
            if (p.impairment)
                for (const CImpairment::Output& o : p.impairment->Flush())
                    Out(p, o.datagram, Classify(o.datagram), o.delayNs);
    }
    if (m_delaySlots > 0)
    {
        const std::int64_t now = m_now();
        for (Path& p : m_paths)
            ReleaseDue(p, now);
    }
    FlushSockets();
    if (m_primary != nullptr && m_primary->GetQueuedSends() > 0)
        m_primary->Flush();
    Publish();
}

bool CSendPaths::Idle() const
{
    for (const Path& p : m_paths)
    {
        if (!p.heap.empty())
            return false;
        for (const auto& own : p.own)
            if (own && own->GetQueuedSends() > 0)
                return false;
    }
    return true;
}

void CSendPaths::Publish()
{
    Counters c;
    for (const Path& p : m_paths)
        if (p.impairment)
            Add(c.impairment, p.impairment->GetCounters());
    if (m_fec)
        c.fec = m_fec->GetCounters();
    c.delayCut = m_delayCut;
    std::lock_guard lock(m_countersLock);
    m_published = c;
}

CSendPaths::Counters CSendPaths::GetCounters() const
{
    std::lock_guard lock(m_countersLock);
    return m_published;
}

std::uint64_t CSendPaths::GetDatagramsFailed() const
{
    std::uint64_t failed = 0;
    for (const Path& p : m_paths)
        for (const auto& own : p.own)
            if (own)
                failed += own->GetDatagramsFailed();
    return failed;
}

int CSendPaths::GetLastError() const
{
    for (const Path& p : m_paths)
        for (const auto& own : p.own)
            if (own && own->GetLastError() != 0)
                return own->GetLastError();
    return 0;
}
