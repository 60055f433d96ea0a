#include "engine/DvbIpRecvBufferPool.h"

DvbIpRecvBufferPool::DvbIpRecvBufferPool(std::uint32_t count) : m_count(count) {}

DvbIpRecvBufferPool::~DvbIpRecvBufferPool()
{
    Release();
}

void DvbIpRecvBufferPool::ReleaseLocked()
{
    m_hasMemory.store(false, std::memory_order_release);
    m_free.Clear();
    m_ready.Clear();
    m_memory.Release();
}

bool DvbIpRecvBufferPool::Allocate()
{
    std::lock_guard lock(m_lock);
    ReleaseLocked();
    if (!m_memory.Allocate(static_cast<std::size_t>(m_count) * kBufferBytes))
        return false;
    for (std::uint32_t i = 0; i < m_count; ++i)
        m_free.AddTail(
            new DvbIpRecvBuffer(i, m_memory.Data() + static_cast<std::size_t>(i) * kBufferBytes, kBufferBytes));
    m_hasMemory.store(true, std::memory_order_release);
    return true;
}

void DvbIpRecvBufferPool::Release()
{
    std::lock_guard lock(m_lock);
    ReleaseLocked();
}

DvbIpRecvBuffer* DvbIpRecvBufferPool::GetFree()
{
    std::lock_guard lock(m_lock);
    return static_cast<DvbIpRecvBuffer*>(m_free.RemoveHead());
}

void DvbIpRecvBufferPool::PutFree(DvbIpRecvBuffer* record)
{
    std::lock_guard lock(m_lock);
    if (!m_hasMemory.load(std::memory_order_relaxed))
    {
        delete record; // its slice is gone; the record cannot be used again
        return;
    }
    m_free.AddTail(record);
}

void DvbIpRecvBufferPool::PutReady(DvbIpRecvBuffer* record)
{
    std::lock_guard lock(m_lock);
    if (!m_hasMemory.load(std::memory_order_relaxed))
    {
        delete record;
        return;
    }
    m_ready.AddTail(record);
}

DvbIpRecvBuffer* DvbIpRecvBufferPool::TakeNext(std::uint16_t expected, Search& search)
{
    std::lock_guard lock(m_lock);
    CLinkedListItem* item = m_ready.GetHead();
    CLinkedListItem* firstSkipped = nullptr;
    for (std::uint32_t step = 0; item != nullptr && step < kSearchWindow; ++step)
    {
        auto* cur = static_cast<DvbIpRecvBuffer*>(item);
        item = item->m_next;
        const std::int32_t d = Distance(expected, static_cast<std::uint16_t>(cur->m_sequence));
        if (d == 0)
        {
            // Far-off records that the stream has passed over are strays (a
            // datagram of an older numbering): they would block the window forever.
            for (CLinkedListItem* s = firstSkipped; s != nullptr && s != cur;)
            {
                auto* skipped = static_cast<DvbIpRecvBuffer*>(s);
                s = s->m_next;
                const std::int32_t ds = Distance(expected, static_cast<std::uint16_t>(skipped->m_sequence));
                if (ds > kNearSpan || ds < -kNearSpan)
                {
                    m_ready.Remove(skipped);
                    m_free.AddTail(skipped);
                    ++search.strayDropped;
                }
            }
            m_ready.Remove(cur);
            return cur;
        }
        if (d < 0 && d >= -kNearSpan)
        {
            m_ready.Remove(cur);
            m_free.AddTail(cur);
            ++search.lateDropped;
            continue;
        }
        if (d > 0 && d <= kNearSpan)
            search.nearAhead = true;
        if (firstSkipped == nullptr)
            firstSkipped = cur;
    }
    return nullptr;
}

DvbIpRecvBuffer* DvbIpRecvBufferPool::TakeResync(std::uint16_t expected)
{
    std::lock_guard lock(m_lock);
    DvbIpRecvBuffer* best = nullptr;
    std::int32_t bestDistance = 0;
    CLinkedListItem* item = m_ready.GetHead();
    for (std::uint32_t step = 0; item != nullptr && step < kSearchWindow; ++step, item = item->m_next)
    {
        auto* cur = static_cast<DvbIpRecvBuffer*>(item);
        const std::int32_t d = Distance(expected, static_cast<std::uint16_t>(cur->m_sequence));
        if (d > 0 && d <= kNearSpan && (best == nullptr || d < bestDistance))
        {
            best = cur;
            bestDistance = d;
        }
    }
    if (best == nullptr)
        best = static_cast<DvbIpRecvBuffer*>(m_ready.GetHead());
    if (best != nullptr)
        m_ready.Remove(best);
    return best;
}

DvbIpRecvBuffer* DvbIpRecvBufferPool::TakeHead()
{
    std::lock_guard lock(m_lock);
    return static_cast<DvbIpRecvBuffer*>(m_ready.RemoveHead());
}

DvbIpRecvBuffer* DvbIpRecvBufferPool::TakeFirst()
{
    std::lock_guard lock(m_lock);
    auto* head = static_cast<DvbIpRecvBuffer*>(m_ready.GetHead());
    if (head == nullptr)
        return nullptr;
    DvbIpRecvBuffer* best = head;
    std::int32_t bestDistance = 0;
    CLinkedListItem* item = head->m_next;
    for (std::uint32_t step = 1; item != nullptr && step < kSearchWindow; ++step, item = item->m_next)
    {
        auto* cur = static_cast<DvbIpRecvBuffer*>(item);
        const std::int32_t d =
            Distance(static_cast<std::uint16_t>(head->m_sequence), static_cast<std::uint16_t>(cur->m_sequence));
        if (d < bestDistance && d >= -kNearSpan)
        {
            best = cur;
            bestDistance = d;
        }
    }
    m_ready.Remove(best);
    return best;
}
