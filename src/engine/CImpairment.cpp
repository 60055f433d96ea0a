#include "engine/CImpairment.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstring>

namespace
{
bool ParseNumber(std::string_view key, std::string_view text, double low, double high, const char* unit, double& value,
                 std::string& error)
{
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size())
    {
        error = std::string(key) + ": '" + std::string(text) + "' is not a number";
        return false;
    }
    if (!(value >= low && value <= high)) // also refuses nan
    {
        char range[64];
        std::snprintf(range, sizeof range, "%.15g-%.15g", low, high);
        error = std::string(key) + ": " + std::string(text) + " is not within " + range + " (" + unit + ")";
        return false;
    }
    return true;
}

// "A/B" into two numbers.
bool SplitPair(std::string_view key, std::string_view text, const char* shape, std::string_view& a, std::string_view& b,
               std::string& error)
{
    const auto slash = text.find('/');
    if (slash == std::string_view::npos)
    {
        error = std::string(key) + ": '" + std::string(text) + "' is not " + shape;
        return false;
    }
    a = text.substr(0, slash);
    b = text.substr(slash + 1);
    return true;
}

std::string Number(double v)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.15g", v);
    return text;
}
} // namespace

bool CImpairment::Settings::IsActive() const
{
    return lossPercent > 0 || burstLength > 0 || reorderPercent > 0 || duplicatePercent > 0 || jitterMs > 0;
}

bool CImpairment::Parse(std::string_view text, Settings& out, std::string& error)
{
    static constexpr std::string_view kKeys[] = {"loss", "burst", "reorder", "dup", "jitter"};
    Settings s;
    if (text.empty())
    {
        error = "empty impairment: give for example loss=1.5,burst=3/1000,reorder=2/4,dup=0.5,jitter=5 or none";
        return false;
    }
    if (text == "none")
    {
        out = s;
        return true;
    }
    bool seen[std::size(kKeys)] = {};
    std::size_t at = 0;
    while (at <= text.size())
    {
        const std::size_t comma = std::min(text.find(',', at), text.size());
        const std::string_view item = text.substr(at, comma - at);
        at = comma + 1;
        const std::size_t eq = item.find('=');
        const std::string_view key = item.substr(0, eq);
        const auto known = std::find(std::begin(kKeys), std::end(kKeys), key);
        if (item.empty())
        {
            error = "empty item in '" + std::string(text) + "'";
            return false;
        }
        if (known == std::end(kKeys))
        {
            error = "unknown impairment '" + std::string(key) + "' (known: loss, burst, reorder, dup, jitter, none)";
            return false;
        }
        if (eq == std::string_view::npos)
        {
            error = std::string(key) + ": needs a value (" + std::string(key) + "=...)";
            return false;
        }
        bool& once = seen[known - std::begin(kKeys)];
        if (once)
        {
            error = std::string(key) + ": given twice";
            return false;
        }
        once = true;
        const std::string_view value = item.substr(eq + 1);
        std::string_view a, b;
        double n = 0, m = 0;
        if (key == "loss")
        {
            if (!ParseNumber(key, value, 0, 100, "per cent", s.lossPercent, error))
                return false;
        }
        else if (key == "dup")
        {
            if (!ParseNumber(key, value, 0, 100, "per cent", s.duplicatePercent, error))
                return false;
        }
        else if (key == "jitter")
        {
            if (!ParseNumber(key, value, 0, kMaxJitterMs, "ms", s.jitterMs, error))
                return false;
        }
        else if (key == "burst")
        {
            if (!SplitPair(key, value, "N/M (N consecutive datagrams lost out of every M)", a, b, error) ||
                !ParseNumber(key, a, 1, kMaxBurstPeriod, "datagrams", n, error) ||
                !ParseNumber(key, b, 2, kMaxBurstPeriod, "datagrams", m, error))
                return false;
            if (n != static_cast<std::uint32_t>(n) || m != static_cast<std::uint32_t>(m))
            {
                error = "burst: N and M are whole numbers of datagrams";
                return false;
            }
            if (n >= m)
            {
                error = "burst: N (" + Number(n) + ") must be smaller than M (" + Number(m) + ")";
                return false;
            }
            s.burstLength = static_cast<std::uint32_t>(n);
            s.burstPeriod = static_cast<std::uint32_t>(m);
        }
        else // reorder
        {
            if (!SplitPair(key, value, "P/D (P per cent held back by D datagrams)", a, b, error) ||
                !ParseNumber(key, a, 0, 100, "per cent", s.reorderPercent, error) ||
                !ParseNumber(key, b, 1, kMaxReorderDepth, "datagrams of depth", n, error))
                return false;
            if (n != static_cast<std::uint32_t>(n))
            {
                error = "reorder: the depth D is a whole number of datagrams";
                return false;
            }
            s.reorderDepth = static_cast<std::uint32_t>(n);
        }
    }
    out = s;
    return true;
}

std::string CImpairment::Describe(const Settings& s)
{
    std::string text;
    const auto add = [&text](const std::string& item) { text += (text.empty() ? "" : ",") + item; };
    if (s.lossPercent > 0)
        add("loss=" + Number(s.lossPercent));
    if (s.burstLength > 0)
        add("burst=" + std::to_string(s.burstLength) + "/" + std::to_string(s.burstPeriod));
    if (s.reorderPercent > 0)
        add("reorder=" + Number(s.reorderPercent) + "/" + std::to_string(s.reorderDepth));
    if (s.duplicatePercent > 0)
        add("dup=" + Number(s.duplicatePercent));
    if (s.jitterMs > 0)
        add("jitter=" + Number(s.jitterMs));
    return text.empty() ? "none" : text;
}

CImpairment::CImpairment(const Settings& s, std::uint64_t seed)
    : m_settings(s), m_random(seed), m_heldData(m_held.size() * std::size_t{kMaxHeldBytes})
{
    m_settings.reorderDepth = std::clamp<std::uint32_t>(m_settings.reorderDepth, 1, kMaxReorderDepth);
}

bool CImpairment::Draw(double percent)
{
    if (percent <= 0)
        return false;
    // 53 random bits as a fraction in [0, 1): the same on every build.
    const double u = static_cast<double>(m_random() >> 11) * 0x1.0p-53;
    return u * 100.0 < percent;
}

void CImpairment::Emit(std::span<const std::uint8_t> datagram)
{
    std::int64_t delay = 0;
    if (m_settings.jitterMs > 0)
    {
        const auto maxNs = static_cast<std::uint64_t>(m_settings.jitterMs * 1'000'000.0);
        delay = static_cast<std::int64_t>(m_random() % (maxNs + 1));
        if (delay > 0)
            ++m_counters.delayed;
        m_counters.maxDelayNs = std::max(m_counters.maxDelayNs, delay);
    }
    m_out[m_outCount++] = Output{datagram, delay};
    ++m_counters.out;
}

std::span<const CImpairment::Output> CImpairment::Push(std::span<const std::uint8_t> datagram)
{
    m_outCount = 0;
    const std::uint64_t index = m_index++;
    ++m_counters.in;
    if (m_settings.burstLength > 0 && index % m_settings.burstPeriod < m_settings.burstLength)
        ++m_counters.burstLost;
    else if (Draw(m_settings.lossPercent))
        ++m_counters.lost;
    else
    {
        bool held = false;
        if (datagram.size() <= kMaxHeldBytes && Draw(m_settings.reorderPercent))
        {
            const auto slot = std::find_if(m_held.begin(), m_held.end(), [](const Held& h) { return !h.used; });
            if (slot != m_held.end()) // always: at most D + 1 are held at once
            {
                std::memcpy(HeldData(static_cast<std::size_t>(slot - m_held.begin())), datagram.data(),
                            datagram.size());
                *slot = Held{index + m_settings.reorderDepth, static_cast<std::uint32_t>(datagram.size()), true};
                ++m_counters.reordered;
                held = true;
            }
        }
        if (!held)
        {
            Emit(datagram);
            if (Draw(m_settings.duplicatePercent))
            {
                Emit(datagram);
                ++m_counters.duplicated;
            }
        }
    }
    for (std::size_t k = 0; k < m_held.size(); ++k)
        if (m_held[k].used && m_held[k].due == index)
        {
            m_held[k].used = false;
            Emit({HeldData(k), m_held[k].bytes});
        }
    return {m_out.data(), m_outCount};
}

std::span<const CImpairment::Output> CImpairment::Flush()
{
    m_outCount = 0;
    for (;;)
    {
        auto next = m_held.end();
        for (auto h = m_held.begin(); h != m_held.end(); ++h)
            if (h->used && (next == m_held.end() || h->due < next->due))
                next = h;
        if (next == m_held.end())
            break;
        next->used = false;
        Emit({HeldData(static_cast<std::size_t>(next - m_held.begin())), next->bytes});
    }
    return {m_out.data(), m_outCount};
}
