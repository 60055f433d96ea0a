#pragma once
//! @file CLinkedList.h
//! Intrusive doubly linked list of CLinkedListItem records, guarded by its own
//! recursive lock. The list owns the items in it: Clear destroys them. Owners
//! that move items between two lists hold an outer lock of their own first.

#include "engine/CLinkedListItem.h"

#include <atomic>
#include <cstdint>
#include <mutex>

class CLinkedList
{
public:
    CLinkedList() = default;
    ~CLinkedList() { Clear(); }
    CLinkedList(const CLinkedList&) = delete;
    CLinkedList& operator=(const CLinkedList&) = delete;

    void AddTail(CLinkedListItem* item);
    void AddHead(CLinkedListItem* item);
    //! @return the first item, taken out of the list, or null when empty.
    CLinkedListItem* RemoveHead();
    //! Takes out @p item, which must be in this list.
    void Remove(CLinkedListItem* item);
    //! Destroys every item.
    void Clear();

    //! Momentary item count, readable without the lock (a hint only).
    std::int32_t GetCount() const { return m_count.load(std::memory_order_relaxed); }
    bool IsEmpty() const;
    CLinkedListItem* GetHead() const;
    CLinkedListItem* GetTail() const;

private:
    void RemoveLocked(CLinkedListItem* item);

    mutable std::recursive_mutex m_lock;
    CLinkedListItem* m_head = nullptr;
    CLinkedListItem* m_tail = nullptr;
    std::atomic<std::int32_t> m_count{0};
};
