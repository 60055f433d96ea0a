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

void DvbIpRecvBufferPool::Put(DvbIpRecvBuffer* record, CLinkedList& list, bool front)
{
    std::lock_guard lock(m_lock);
    if (!m_hasMemory.load(std::memory_order_relaxed))
    {
        delete record; // its slice is gone; the record cannot be used again
        return;
    }
    if (front)
        list.AddHead(record);
    else
        list.AddTail(record);
}

void DvbIpRecvBufferPool::PutFree(DvbIpRecvBuffer* record)
{
    Put(record, m_free, false);
}

void DvbIpRecvBufferPool::PutReady(DvbIpRecvBuffer* record)
{
    Put(record, m_ready, false);
}

void DvbIpRecvBufferPool::PutReadyFront(DvbIpRecvBuffer* record)
{
    Put(record, m_ready, true);
}

namespace
{
// Whether @p record lies in the space of @p ssrc around @p expected; its
// distance from @p expected goes to @p d.
bool InSpace(const DvbIpRecvBuffer* record, std::uint16_t expected, std::uint32_t ssrc, std::int32_t& d)
{
    d = DvbIpRecvBufferPool::Distance(expected, static_cast<std::uint16_t>(record->m_sequence));
    return record->m_ssrc == ssrc && d >= -DvbIpRecvBufferPool::kLateSpan && d <= DvbIpRecvBufferPool::kNearSpan;
}
} // namespace

DvbIpRecvBuffer* DvbIpRecvBufferPool::TakeNext(std::uint16_t expected, std::uint32_t ssrc, Search& search)
{
    std::lock_guard lock(m_lock);
    CLinkedListItem* item = m_ready.GetHead();
    CLinkedListItem* firstSkipped = nullptr;
    for (std::uint32_t step = 0; item != nullptr && step < kSearchWindow; ++step)
    {
        auto* cur = static_cast<DvbIpRecvBuffer*>(item);
        item = item->m_next;
        std::int32_t d = 0;
        if (!InSpace(cur, expected, ssrc, d))
        {
            ++search.otherSpace;
            if (firstSkipped == nullptr)
                firstSkipped = cur;
            continue;
        }
        if (d == 0)
        {
            // Records of another space that the stream keeps passing are strays
            // (a datagram of an older numbering): they would narrow the window.
            for (CLinkedListItem* s = firstSkipped; s != nullptr && s != cur;)
            {
                auto* skipped = static_cast<DvbIpRecvBuffer*>(s);
                s = s->m_next;
                std::int32_t ds = 0;
                if (!InSpace(skipped, expected, ssrc, ds) && ++skipped->m_passes > kStrayPasses)
                {
                    m_ready.Remove(skipped);
                    m_free.AddTail(skipped);
                    ++search.strayDropped;
                }
            }
            m_ready.Remove(cur);
            return cur;
        }
        if (d < 0)
        {
            m_ready.Remove(cur);
            m_free.AddTail(cur);
            ++search.lateDropped;
            continue;
        }
        search.nearAhead = true;
        if (firstSkipped == nullptr)
            firstSkipped = cur;
    }
    return nullptr;
}

DvbIpRecvBuffer* DvbIpRecvBufferPool::TakeResync(std::uint16_t expected, std::uint32_t ssrc)
{
    std::lock_guard lock(m_lock);
    DvbIpRecvBuffer* best = nullptr;
    std::int32_t bestDistance = 0;
    CLinkedListItem* item = m_ready.GetHead();
    for (std::uint32_t step = 0; item != nullptr && step < kSearchWindow; ++step, item = item->m_next)
    {
        auto* cur = static_cast<DvbIpRecvBuffer*>(item);
        std::int32_t d = 0;
        if (InSpace(cur, expected, ssrc, d) && d > 0 && (best == nullptr || d < bestDistance))
        {
            best = cur;
            bestDistance = d;
        }
    }
    if (best != nullptr)
        m_ready.Remove(best);
    return best;
}

DvbIpRecvBuffer* DvbIpRecvBufferPool::TakeHead()
{
    std::lock_guard lock(m_lock);
    return static_cast<DvbIpRecvBuffer*>(m_ready.RemoveHead());
}

DvbIpRecvBuffer* DvbIpRecvBufferPool::EarliestOfSpace(DvbIpRecvBuffer* first)
{
    DvbIpRecvBuffer* best = first;
    std::int32_t bestDistance = 0;
    CLinkedListItem* item = m_ready.GetHead();
    for (std::uint32_t step = 0; item != nullptr && step < kSearchWindow; ++step, item = item->m_next)
    {
        auto* cur = static_cast<DvbIpRecvBuffer*>(item);
        const std::int32_t d =
            Distance(static_cast<std::uint16_t>(first->m_sequence), static_cast<std::uint16_t>(cur->m_sequence));
        if (cur->m_ssrc == first->m_ssrc && d < bestDistance && d >= -kNearSpan)
        {
            best = cur;
            bestDistance = d;
        }
    }
    return best;
}

DvbIpRecvBuffer* DvbIpRecvBufferPool::TakeFirst()
{
    std::lock_guard lock(m_lock);
    auto* head = static_cast<DvbIpRecvBuffer*>(m_ready.GetHead());
    if (head == nullptr)
        return nullptr;
    DvbIpRecvBuffer* best = EarliestOfSpace(head);
    m_ready.Remove(best);
    return best;
}

DvbIpRecvBuffer* DvbIpRecvBufferPool::TakeRestart(std::uint16_t expected, std::uint32_t ssrc, bool force,
                                                  Search& search)
{
    std::lock_guard lock(m_lock);
    DvbIpRecvBuffer* first = nullptr;
    bool confirmed = false;
    CLinkedListItem* item = m_ready.GetHead();
    for (std::uint32_t step = 0; item != nullptr && step < kSearchWindow && !confirmed; ++step, item = item->m_next)
    {
        auto* cur = static_cast<DvbIpRecvBuffer*>(item);
        std::int32_t d = 0;
        if (InSpace(cur, expected, ssrc, d))
            continue;
        if (first == nullptr)
        {
            first = cur;
            continue;
        }
        const std::int32_t dn =
            Distance(static_cast<std::uint16_t>(first->m_sequence), static_cast<std::uint16_t>(cur->m_sequence));
        confirmed = cur->m_ssrc == first->m_ssrc && dn != 0 && dn >= -kNearSpan && dn <= kNearSpan;
    }
    if (first == nullptr)
        return nullptr;
    if (!confirmed)
    {
        if (!force)
            return nullptr;
        if (first->m_ssrc == ssrc && Distance(expected, static_cast<std::uint16_t>(first->m_sequence)) < 0)
        {
            m_ready.Remove(first);
            m_free.AddTail(first);
            ++search.strayDropped;
            return nullptr;
        }
    }
    DvbIpRecvBuffer* best = EarliestOfSpace(first);
    m_ready.Remove(best);
    return best;
}
