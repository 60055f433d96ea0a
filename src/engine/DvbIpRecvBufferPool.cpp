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
    m_fill.Clear();
    m_givenUp.reset();
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
    Put(record, m_fill, false);
}

void DvbIpRecvBufferPool::SpillFillLocked()
{
    while (CLinkedListItem* item = m_fill.GetTail())
    {
        m_fill.Remove(item);
        m_ready.AddHead(item);
    }
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

std::size_t Slot(std::uint32_t sequence)
{
    return sequence & static_cast<std::uint32_t>(DvbIpRecvBufferPool::kNearSpan - 1);
}
} // namespace

void DvbIpRecvBufferPool::DropLateLocked(DvbIpRecvBuffer* record, std::int32_t d, Search& search)
{
    const std::size_t slot = Slot(record->m_sequence);
    if (d >= -kNearSpan && m_givenUp.test(slot))
    {
        m_givenUp.reset(slot);
        ++search.lateGivenUp;
    }
    else
        ++search.lateDropped;
    m_free.AddTail(record);
}

DvbIpRecvBuffer* DvbIpRecvBufferPool::TakeNext(std::uint16_t expected, std::uint32_t ssrc, Search& search)
{
    std::lock_guard lock(m_lock);
    // Every gap filler: bounded by the pool, few unless a backlog holds them back.
    for (CLinkedListItem* item = m_fill.GetHead(); item != nullptr;)
    {
        auto* cur = static_cast<DvbIpRecvBuffer*>(item);
        item = item->m_next;
        const std::int32_t d = Distance(expected, static_cast<std::uint16_t>(cur->m_sequence));
        if (cur->m_ssrc != ssrc)
        {
            // Of another space: the ready list's rules decide (a restart or a stray).
            m_fill.Remove(cur);
            m_ready.AddHead(cur);
            ++search.otherSpace;
            continue;
        }
        if (d == 0)
        {
            m_fill.Remove(cur);
            m_givenUp.reset(Slot(expected));
            return cur;
        }
        if (d < 0)
        {
            m_fill.Remove(cur);
            DropLateLocked(cur, d, search);
            continue;
        }
        // However far ahead (a backlog of thousands): it fills a gap of this space, and waits here.
        search.nearAhead = search.nearAhead || d <= kNearSpan;
    }
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
            m_givenUp.reset(Slot(expected));
            return cur;
        }
        if (d < 0)
        {
            m_ready.Remove(cur);
            DropLateLocked(cur, d, search);
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
    CLinkedList* bestList = nullptr;
    std::int32_t bestDistance = 0;
    const auto consider = [&](CLinkedList& list, std::uint32_t limit) {
        CLinkedListItem* item = list.GetHead();
        for (std::uint32_t step = 0; item != nullptr && step < limit; ++step, item = item->m_next)
        {
            auto* cur = static_cast<DvbIpRecvBuffer*>(item);
            std::int32_t d = 0;
            if (InSpace(cur, expected, ssrc, d) && d > 0 && (best == nullptr || d < bestDistance))
            {
                best = cur;
                bestList = &list;
                bestDistance = d;
            }
        }
    };
    consider(m_fill, m_count);
    consider(m_ready, kSearchWindow);
    if (best == nullptr)
        return nullptr;
    bestList->Remove(best);
    for (std::int32_t d = 0; d < bestDistance; ++d)
        m_givenUp.set(Slot(static_cast<std::uint16_t>(expected + d)));
    m_givenUp.reset(Slot(best->m_sequence));
    return best;
}

DvbIpRecvBuffer* DvbIpRecvBufferPool::TakeHead()
{
    std::lock_guard lock(m_lock);
    SpillFillLocked();
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
    SpillFillLocked();
    m_givenUp.reset();
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
    SpillFillLocked();
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
    m_givenUp.reset(); // a new numbering
    return best;
}
