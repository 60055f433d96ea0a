#include "engine/CFifo.h"

#include <algorithm>
#include <cstring>

CFifo::CFifo(std::uint32_t capacityBytes) : m_allocSize(capacityBytes) {}

CFifo::~CFifo()
{
    // Destruction must not be kept back by a peer that died holding the lock.
    std::unique_lock lock(m_lock, kLockTimeout);
    m_memory.Release();
}

bool CFifo::Allocate()
{
    {
        std::unique_lock lock(m_lock, kLockTimeout);
        if (!lock)
            return false;
        m_memory.Release();
    }
    std::unique_lock lock(m_lock, kLockTimeout);
    if (!lock)
        return false;
    if (!m_memory.Allocate(m_allocSize))
    {
        m_capacity = 0;
        return false;
    }
    m_capacity = m_allocSize;
    m_read = m_write = 0;
    return true;
}

void CFifo::Release()
{
    std::unique_lock lock(m_lock, kLockTimeout);
    if (lock)
        m_memory.Release();
}

std::uint32_t CFifo::Reset()
{
    std::unique_lock lock(m_lock, kLockTimeout);
    if (!lock)
        return 0;
    const std::uint32_t used = m_memory.Empty() ? 0 : UsedLocked();
    m_read = m_write = 0;
    return used;
}

std::uint32_t CFifo::UsedLocked() const
{
    return m_write >= m_read ? m_write - m_read : m_capacity - m_read + m_write;
}

std::uint32_t CFifo::GetUsed()
{
    std::unique_lock lock(m_lock, kLockTimeout);
    if (!lock || m_memory.Empty())
        return 0;
    return UsedLocked();
}

std::uint32_t CFifo::GetFree()
{
    std::unique_lock lock(m_lock, kLockTimeout);
    if (!lock || m_memory.Empty())
        return 0;
    return m_capacity - 1 - UsedLocked();
}

std::uint32_t CFifo::GetCapacity()
{
    std::unique_lock lock(m_lock, kLockTimeout);
    return lock ? m_capacity : 0;
}

bool CFifo::Write(const void* source, std::uint32_t n)
{
    std::unique_lock lock(m_lock, kLockTimeout);
    if (!lock || m_memory.Empty() || n > m_capacity)
        return false;
    // Free space is measured under the same lock as the copy, so two racing
    // writers can never overrun the reader.
    if (n > m_capacity - 1 - UsedLocked())
        return false;
    if (n == 0)
        return true;

    const auto* src = static_cast<const std::uint8_t*>(source);
    std::uint8_t* mem = m_memory.Data();
    const std::uint32_t tailRoom = m_capacity - m_write;
    if (n > tailRoom)
    {
        std::memcpy(mem + m_write, src, tailRoom);
        std::memcpy(mem, src + tailRoom, n - tailRoom);
        m_write = n - tailRoom;
    }
    else
    {
        std::memcpy(mem + m_write, src, n);
        m_write = n == tailRoom ? 0 : m_write + n;
    }
    return true;
}

bool CFifo::Read(void* destination, std::uint32_t& n)
{
    std::unique_lock lock(m_lock, kLockTimeout);
    if (!lock || m_memory.Empty())
    {
        n = 0;
        return false;
    }
    n = std::min(n, UsedLocked());
    if (n == 0)
        return true;

    auto* dst = static_cast<std::uint8_t*>(destination);
    const std::uint8_t* mem = m_memory.Data();
    const std::uint32_t first = m_capacity - m_read; // bytes up to the end of the memory
    if (n >= first)
    {
        std::memcpy(dst, mem + m_read, first);
        std::memcpy(dst + first, mem, n - first);
        m_read = n - first;
    }
    else
    {
        std::memcpy(dst, mem + m_read, n);
        m_read += n;
    }
    return true;
}
