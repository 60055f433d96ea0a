#pragma once
//! @file DvbIpRecvBufferPool.h
//! The receive buffers of the network receiver: one committed block of 21,000
//! slices of 1,532 bytes, a free list and a ready list. The receive thread takes
//! free records and hands back filled ones; the sequencing thread takes them out
//! of the ready list (and of the gap fillers, PutReadyFront) in sequence order
//! (TakeNext) and returns them to the free list. The pool remembers which of the
//! last kNearSpan numbers were given up (TakeResync), so that a datagram of one
//! of them that comes later is told from a duplicate.
//!
//! Sequence values are 16-bit serial numbers (RFC 1982): "a before b" means
//! (b - a) mod 65,536 lies in 1..32,767, so the wrap from 65,535 to 0 is
//! continuous. A sequence space is one SSRC with the numbers from kLateSpan
//! behind to kNearSpan ahead of the expected one; records outside it belong to
//! another space (a restarted sender). The pool lock is held around every move
//! between the lists.

#include "common/CAlignedBuffer.h"
#include "engine/CLinkedList.h"
#include "engine/DvbIpRecvBuffer.h"

#include <atomic>
#include <bitset>
#include <cstdint>
#include <mutex>

class DvbIpRecvBufferPool
{
public:
    static constexpr std::uint32_t kBufferCount = 21'000;
    static constexpr std::uint32_t kBufferBytes = 1'532;
    //! Records looked at per search: the 50-datagram reserve plus the one wanted.
    static constexpr std::uint32_t kSearchWindow = 51;
    //! A record farther ahead than this (in sequence numbers) is taken for
    //! another numbering (sender restart, stray datagram) rather than re-ordering.
    static constexpr std::int32_t kNearSpan = 1'024;
    //! Records behind the expected one by up to this many are late or duplicates.
    static constexpr std::int32_t kLateSpan = 51;
    //! A record of another space that the stream has been taken past this often
    //! is a stray, not the start of a new space, and is dropped.
    static constexpr std::uint32_t kStrayPasses = kSearchWindow;

    //! What a search found besides the record it was asked for.
    struct Search
    {
        bool nearAhead = false;        //!< a record 1..kNearSpan numbers ahead is waiting
        std::uint32_t otherSpace = 0;  //!< records of another sequence space seen
        std::uint32_t lateDropped = 0; //!< duplicates (their number was taken) sent back to the free list
        //! Records whose number was given up (skipped by TakeResync) and that came after all:
        //! sent back to the free list, and a loss (the stream went on without them). Once per number.
        std::uint32_t lateGivenUp = 0;
        std::uint32_t strayDropped = 0; //!< records of another space passed over too often, dropped
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
    //! Puts a datagram that fills a gap late (rebuilt by FEC, from the second
    //! path, re-ordered) on a list of its own that TakeNext and TakeResync look
    //! through whole: behind a backlog of thousands (a record worker that fell
    //! behind) the fillers would otherwise crowd each other out of the search window.
    void PutReadyFront(DvbIpRecvBuffer* record);
    std::int32_t ReadyCount() const { return m_ready.GetCount() + m_fill.GetCount(); }
    std::int32_t FreeCount() const { return m_free.GetCount(); }

    //! Takes the record with sequence @p expected of space @p ssrc out of the
    //! gap fillers and the first kSearchWindow ready records; late records and
    //! duplicates of that space go back to the free list. @return the record,
    //! or null when it is not there.
    DvbIpRecvBuffer* TakeNext(std::uint16_t expected, std::uint32_t ssrc, Search& search);
    //! Resynchronises: takes the nearest record of space @p ssrc ahead of
    //! @p expected among the gap fillers and the first kSearchWindow, or null
    //! when none is. The numbers skipped are remembered as given up.
    DvbIpRecvBuffer* TakeResync(std::uint16_t expected, std::uint32_t ssrc);
    //! Takes the oldest record whatever its sequence.
    DvbIpRecvBuffer* TakeHead();
    //! The first record of a stream: the earliest in sequence order among the
    //! first kSearchWindow records of the oldest one's space (its first two
    //! datagrams may have arrived swapped).
    DvbIpRecvBuffer* TakeFirst();
    //! The current space (@p expected, @p ssrc) has ended: takes the first record
    //! of the next space, the one of the oldest record outside the current one,
    //! when a second record confirms that space. With @p force a lone record is
    //! taken too, unless it is behind the expected number in the same SSRC (a
    //! very late duplicate: dropped and counted in @p search).
    DvbIpRecvBuffer* TakeRestart(std::uint16_t expected, std::uint32_t ssrc, bool force, Search& search);

    //! Serial distance from @p from to @p to: -32,768..32,767 (RFC 1982).
    static std::int32_t Distance(std::uint16_t from, std::uint16_t to)
    {
        return static_cast<std::int16_t>(static_cast<std::uint16_t>(to - from));
    }

private:
    void ReleaseLocked();
    //! Puts @p record on @p list (at its front or its end); without the memory, deletes it.
    void Put(DvbIpRecvBuffer* record, CLinkedList& list, bool front);
    //! The gap fillers go back to the front of the ready list (lock held): the
    //! start of a stream or of a new space is chosen from there.
    void SpillFillLocked();
    //! A record of the expected space behind @p expected by -@p d: back to the free list, counted.
    void DropLateLocked(DvbIpRecvBuffer* record, std::int32_t d, Search& search);
    //! The earliest record in sequence order of @p first's space among the first
    //! kSearchWindow ready records (lock held).
    DvbIpRecvBuffer* EarliestOfSpace(DvbIpRecvBuffer* first);

    const std::uint32_t m_count;
    CAlignedBuffer m_memory;
    std::atomic<bool> m_hasMemory{false};
    std::mutex m_lock;
    CLinkedList m_free;
    CLinkedList m_ready;
    CLinkedList m_fill; // gap fillers (PutReadyFront)
    // Bit (number mod kNearSpan): that number was given up. Cleared when it is taken,
    // so each bit tells the fate of the last number of its class the stream passed.
    std::bitset<static_cast<std::size_t>(kNearSpan)> m_givenUp;
};
