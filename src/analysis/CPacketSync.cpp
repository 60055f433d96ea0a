#include "analysis/CPacketSync.h"

#include <algorithm>
#include <cstring>

namespace
{
constexpr std::uint8_t kSyncByte = 0x47;
}

void CPacketSync::Restart()
{
    m_locked = false;
    m_partialFill = 0;
    m_searchFill = 0;
    m_packetIndex = 0;
    m_lostAt = kNoLoss;
}

void CPacketSync::Reset()
{
    Restart();
    m_packetSize = 0;
    m_firstPacketOffset = -1;
    m_syncLoss = 0;
    m_bytesFed = 0;
}

int CPacketSync::DetectPacketSize(const std::uint8_t* candidate)
{
    for (int size : {kPacketSize188, kPacketSize204})
    {
        bool all = true;
        for (int k = 1; k < kLockPackets && all; ++k)
            all = candidate[static_cast<std::size_t>(k * size)] == kSyncByte;
        if (all)
            return size;
    }
    return 0;
}

void CPacketSync::LoseSync(std::uint64_t offset)
{
    m_locked = false;
    m_partialFill = 0;
    ++m_syncLoss;
    m_lostAt = offset;
    m_lostSize = m_packetSize;
    m_handler.OnSyncByteError();
}

void CPacketSync::Feed(const std::uint8_t* data, std::size_t length)
{
    while (length > 0)
    {
        if (m_locked && m_searchFill == 0)
        {
            // The fast path: packets straight from the caller's chunk.
            const std::size_t used = FeedLocked(data, length, m_bytesFed);
            m_bytesFed += used;
            data += used;
            length -= used;
            continue;
        }
        const std::size_t take = std::min(kSearchCapacity - m_searchFill, length);
        std::memcpy(m_search.data() + m_searchFill, data, take);
        m_searchFill += take;
        m_bytesFed += take;
        data += take;
        length -= take;
        RunSearchWindow();
    }
}

std::size_t CPacketSync::FeedLocked(const std::uint8_t* data, std::size_t length, std::uint64_t offset)
{
    const auto size = static_cast<std::size_t>(m_packetSize);
    std::size_t pos = 0;
    if (m_partialFill > 0)
    {
        const std::size_t take = std::min(size - m_partialFill, length);
        std::memcpy(m_partial.data() + m_partialFill, data, take);
        m_partialFill += take;
        pos = take;
        if (m_partialFill < size)
            return pos;
        m_handler.OnPacket(m_partial.data(), m_packetIndex++);
        m_partialFill = 0;
    }
    while (length - pos >= size)
    {
        if (data[pos] != kSyncByte)
        {
            LoseSync(offset + pos);
            return pos;
        }
        m_handler.OnPacket(data + pos, m_packetIndex++);
        pos += size;
    }
    if (pos < length)
    {
        if (data[pos] != kSyncByte)
        {
            LoseSync(offset + pos);
            return pos;
        }
        m_partialFill = length - pos;
        std::memcpy(m_partial.data(), data + pos, m_partialFill);
    }
    return length;
}

void CPacketSync::RunSearchWindow()
{
    // The window holds the newest m_searchFill bytes of the stream; decisions only
    // depend on kLockWindow bytes from a candidate, so chunking never changes them.
    std::size_t pos = 0;
    while (pos < m_searchFill)
    {
        if (m_locked)
        {
            pos += FeedLocked(m_search.data() + pos, m_searchFill - pos, m_bytesFed - m_searchFill + pos);
            continue;
        }
        const void* found = std::memchr(m_search.data() + pos, kSyncByte, m_searchFill - pos);
        if (found == nullptr)
        {
            pos = m_searchFill;
            break;
        }
        pos = static_cast<std::size_t>(static_cast<const std::uint8_t*>(found) - m_search.data());
        if (m_searchFill - pos < kLockWindow)
            break;
        const int size = DetectPacketSize(m_search.data() + pos);
        if (size == 0)
        {
            ++pos;
            continue;
        }
        m_locked = true;
        m_packetSize = size;
        const std::uint64_t at = m_bytesFed - (m_searchFill - pos);
        if (m_firstPacketOffset < 0)
            m_firstPacketOffset = static_cast<std::int64_t>(at);
        // Found again one packet after the missing sync byte: only that byte was bad.
        if (m_lostAt != kNoLoss && (size != m_lostSize || at != m_lostAt + static_cast<std::uint64_t>(size)))
            m_handler.OnSyncLoss();
        m_lostAt = kNoLoss;
    }
    std::memmove(m_search.data(), m_search.data() + pos, m_searchFill - pos);
    m_searchFill -= pos;
}
