#include "analysis/CSectionAssembler.h"

#include <algorithm>

namespace
{
constexpr std::uint8_t kStuffing = 0xFF;
constexpr std::size_t kHeaderBytes = 3;

std::size_t SectionBytes(const std::uint8_t* header)
{
    return kHeaderBytes + (static_cast<std::size_t>(header[1] & 0x0F) << 8 | header[2]);
}
} // namespace

std::size_t CSectionAssembler::Collect(const std::uint8_t* data, std::size_t length, const SectionCallback& onSection)
{
    std::size_t used = 0;
    // The header first, then exactly the section length it announces.
    if (m_buffer.size() < kHeaderBytes)
    {
        const std::size_t take = std::min(kHeaderBytes - m_buffer.size(), length);
        m_buffer.insert(m_buffer.end(), data, data + take);
        used = take;
        if (m_buffer.size() < kHeaderBytes)
            return used;
    }
    const std::size_t total = SectionBytes(m_buffer.data());
    if (total > m_maxSectionBytes)
    {
        // Longer than any table we read may be: skip to the next pointer field.
        m_buffer.clear();
        return length;
    }
    const std::size_t take = std::min(total - m_buffer.size(), length - used);
    m_buffer.insert(m_buffer.end(), data + used, data + used + take);
    used += take;
    if (m_buffer.size() == total)
    {
        onSection(m_buffer.data(), total);
        m_buffer.clear();
    }
    return used;
}

void CSectionAssembler::Feed(const std::uint8_t* payload, std::size_t length, bool unitStart,
                             const SectionCallback& onSection)
{
    if (length == 0)
        return;
    if (!unitStart)
    {
        // Only the continuation of a section already begun; after its end, stuffing.
        if (!m_buffer.empty())
            Collect(payload, length, onSection);
        return;
    }

    const std::size_t pointer = payload[0];
    ++payload;
    --length;
    if (pointer > length)
    {
        m_buffer.clear();
        return;
    }
    if (!m_buffer.empty())
    {
        Collect(payload, pointer, onSection);
        // A section that does not end where the pointer says is broken.
        m_buffer.clear();
    }
    payload += pointer;
    length -= pointer;
    while (length > 0 && payload[0] != kStuffing)
    {
        const std::size_t used = Collect(payload, length, onSection);
        payload += used;
        length -= used;
    }
}
