#pragma once
//! @file CLinkedListItem.h
//! Base of the records kept in a CLinkedList (intrusive links). An item is in
//! at most one list at a time; the list that holds it owns it.

class CLinkedListItem
{
public:
    CLinkedListItem() = default;
    virtual ~CLinkedListItem() = default;
    CLinkedListItem(const CLinkedListItem&) = delete;
    CLinkedListItem& operator=(const CLinkedListItem&) = delete;

    CLinkedListItem* m_next = nullptr; //!< following item, null at the tail
    CLinkedListItem* m_prev = nullptr; //!< preceding item, null at the head
};
