#pragma once
//! @file DvbIpRecvBufferPool.h
//! The receive buffers of the network receiver: one committed block of 21,000
//! slices of 1,532 bytes, a free list and a ready list. The receive thread takes
//! free records and hands back filled ones; the sequencing thread takes them out
//! of the ready list in sequence order (TakeNext) and returns them to the free list.
//!
//! Sequence values are 16-bit serial numbers (RFC 1982): "a before b" means
//! (b - a) mod 65,536 lies in 1..32,767, so the wrap from 65,535 to 0 is
//! continuous. The pool lock is held around every move between the lists.

#include "common/CAlignedBuffer.h"
#include "engine/CLinkedList.h"
#include "engine/DvbIpRecvBuffer.h"

#include <atomic>
#include <cstdint>
#include <mutex>

class DvbIpRecvBufferPool
{
public:
    static constexpr std::uint32_t kBufferCount = 21'000;
    static constexpr std::uint32_t kBufferBytes = 1'532;
    //! Records looked at per search: the 50-datagram reserve plus the one wanted.
    static constexpr std::uint32_t kSearchWindow = 51;
    //! A record this far (in sequence numbers) from the expected one is taken for
    //! another numbering (sender restart, stray datagram) rather than re-ordering.
    static constexpr std::int32_t kNearSpan = 1'024;

    //! What a search found besides the record it was asked for.
    struct Search
    {
        bool nearAhead = false;         //!< a record 1..kNearSpan numbers ahead is waiting
        std::uint32_t lateDropped = 0;  //!< late or duplicate records sent back to the free list
        std::uint32_t strayDropped = 0; //!< far-off records passed over by the stream and dropped
    };

    explicit DvbIpRecvBufferPool(std::uint32_t count = kBufferCount);
    ~DvbIpRecvBufferPool();
    DvbIpRecvBufferPool(const DvbIpRecvBufferPool&) = delete;
    DvbIpRecvBufferPool& operator=(const DvbIpRecvBufferPool&) = delete;

    //! Frees what is held, commits the memory and puts every record on the free list.
    bool Allocate();
    //! Frees the memory and destroys the records on both lists.
    void Release();
    bool HasMemory() const { return m_hasMemory.load(std::memory_order_acquire); }

    //! A free record, or null when there is none.
    DvbIpRecvBuffer* GetFree();
    void PutFree(DvbIpRecvBuffer* record);
    //! Appends a filled record to the ready list (dropped back to free without memory).
    void PutReady(DvbIpRecvBuffer* record);
    std::int32_t ReadyCount() const { return m_ready.GetCount(); }
    std::int32_t FreeCount() const { return m_free.GetCount(); }

    //! Takes the record with sequence @p expected out of the first kSearchWindow
    //! ready records; records before it (late, duplicates) go back to the free list.
    //! @return the record, or null when it is not there.
    DvbIpRecvBuffer* TakeNext(std::uint16_t expected, Search& search);
    //! Resynchronises: takes the nearest record ahead of @p expected among the
    //! first kSearchWindow, or the oldest record when none is ahead.
    DvbIpRecvBuffer* TakeResync(std::uint16_t expected);
    //! Takes the oldest record whatever its sequence.
    DvbIpRecvBuffer* TakeHead();
    //! The first record of a stream: the earliest in sequence order among the
    //! first kSearchWindow records near the oldest one (its first two datagrams
    //! may have arrived swapped).
    DvbIpRecvBuffer* TakeFirst();

    //! Serial distance from @p from to @p to: -32,768..32,767 (RFC 1982).
    static std::int32_t Distance(std::uint16_t from, std::uint16_t to)
    {
        return static_cast<std::int16_t>(static_cast<std::uint16_t>(to - from));
    }

private:
    void ReleaseLocked();

    const std::uint32_t m_count;
    CAlignedBuffer m_memory;
    std::atomic<bool> m_hasMemory{false};
    std::mutex m_lock;
    CLinkedList m_free;
    CLinkedList m_ready;
};
