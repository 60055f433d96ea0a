#include "engine/CLinkedList.h"

void CLinkedList::AddTail(CLinkedListItem* item)
{
    std::lock_guard lock(m_lock);
    item->m_next = nullptr;
    m_count.fetch_add(1, std::memory_order_relaxed);
    if (m_head == nullptr)
    {
        m_head = item;
        item->m_prev = nullptr;
    }
    else
    {
        m_tail->m_next = item;
        item->m_prev = m_tail;
    }
    m_tail = item;
}

void CLinkedList::AddHead(CLinkedListItem* item)
{
    std::lock_guard lock(m_lock);
    item->m_prev = nullptr;
    item->m_next = m_head;
    m_count.fetch_add(1, std::memory_order_relaxed);
    if (m_head != nullptr)
        m_head->m_prev = item;
    else
        m_tail = item;
    m_head = item;
}

void CLinkedList::RemoveLocked(CLinkedListItem* item)
{
    m_count.fetch_sub(1, std::memory_order_relaxed);
    if (item->m_prev != nullptr)
        item->m_prev->m_next = item->m_next;
    if (item->m_next != nullptr)
        item->m_next->m_prev = item->m_prev;
    if (m_head == item)
        m_head = item->m_next;
    if (m_tail == item)
        m_tail = item->m_prev;
    item->m_next = item->m_prev = nullptr;
}

CLinkedListItem* CLinkedList::RemoveHead()
{
    std::lock_guard lock(m_lock);
    CLinkedListItem* item = m_head;
    if (item != nullptr)
        RemoveLocked(item);
    return item;
}

void CLinkedList::Remove(CLinkedListItem* item)
{
    std::lock_guard lock(m_lock);
    RemoveLocked(item);
}

void CLinkedList::Clear()
{
    std::lock_guard lock(m_lock);
    while (m_head != nullptr)
    {
        CLinkedListItem* item = m_head;
        RemoveLocked(item);
        delete item;
    }
    m_count.store(0, std::memory_order_relaxed);
}

bool CLinkedList::IsEmpty() const
{
    std::lock_guard lock(m_lock);
    return m_head == nullptr;
}

CLinkedListItem* CLinkedList::GetHead() const
{
    std::lock_guard lock(m_lock);
    return m_head;
}

CLinkedListItem* CLinkedList::GetTail() const
{
    std::lock_guard lock(m_lock);
    return m_tail;
}
