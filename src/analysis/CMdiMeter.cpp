#include "analysis/CMdiMeter.h"

#include <algorithm>

CMdiMeter::CMdiMeter(std::size_t maxDatagrams) : m_maxDatagrams(std::max<std::size_t>(maxDatagrams, 1))
{
    m_arrivals.reserve(m_maxDatagrams);
}

void CMdiMeter::Reset()
{
    m_arrivals.clear();
    m_lost = 0;
    m_last = Result();
}

bool CMdiMeter::AddDatagram(std::int64_t arrivalNs, std::uint32_t payloadBytes, std::uint32_t mediaPackets,
                            std::uint32_t lostMediaPackets)
{
    (void)mediaPackets; // the loss is what counts; a datagram's packets are in its bytes
    bool ended = false;
    if (!m_arrivals.empty())
    {
        // The kernel's stamps come in receive order; a clock step back must not
        // make a negative drain.
        arrivalNs = std::max(arrivalNs, m_arrivals.back().ns);
        if (arrivalNs - m_arrivals.front().ns >= kIntervalNs || m_arrivals.size() >= m_maxDatagrams)
        {
            EndInterval(arrivalNs);
            ended = true;
        }
    }
    m_arrivals.push_back({arrivalNs, payloadBytes});
    m_lost += lostMediaPackets;
    return ended;
}

void CMdiMeter::EndInterval(std::int64_t endNs)
{
    const std::int64_t startNs = m_arrivals.front().ns;
    const std::int64_t lengthNs = endNs - startNs;
    double bytes = 0.0;
    for (const Arrival& a : m_arrivals)
        bytes += a.bytes;
    // Bytes per ns: the nominal rate, else the interval's own mean (its bytes
    // over the time until the next interval's first datagram).
    const double rate =
        m_rateBps > 0.0 ? m_rateBps / 8e9 : (lengthNs > 0 ? bytes / static_cast<double>(lengthNs) : 0.0);
    if (rate > 0.0 && lengthNs > 0)
    {
        // Virtual buffer (RFC 4445 section 3): bytes received minus bytes
        // drained; DF is its spread, from just before to just after arrivals.
        double received = 0.0;
        double lowest = 0.0;
        double highest = 0.0;
        for (const Arrival& a : m_arrivals)
        {
            const double before = received - rate * static_cast<double>(a.ns - startNs);
            received += a.bytes;
            lowest = std::min(lowest, before);
            highest = std::max(highest, before + a.bytes);
        }
        m_last.dfMs = (highest - lowest) / rate / 1e6;
        m_last.mlr = static_cast<double>(m_lost) * 1e9 / static_cast<double>(lengthNs);
        m_last.maxDfMs = std::max(m_last.maxDfMs, m_last.dfMs);
        m_last.valid = true;
        m_last.endNs = endNs;
    }
    m_arrivals.clear();
    m_lost = 0;
}
