#pragma once
//! @file CFifo.h
//! Byte ring buffer of fixed capacity (30 MiB) between one producing and one
//! consuming thread, guarded by a mutex. The network sender owns one (file
//! reader -> play-out thread), the network receiver another (sequencing
//! thread -> record worker). It knows nothing of packets or sockets.
//!
//! Every operation takes the lock with a 1,000 ms time-out; when the lock
//! cannot be had, the operation changes nothing and gives its failure result.
//! One byte of the ring always stays empty: at most capacity - 1 bytes are held.

#include "common/CAlignedBuffer.h"
#include "common/CTimedMutex.h"

#include <cstdint>
#include <mutex>

class CFifo
{
public:
    static constexpr std::uint32_t kCapacityBytes = 31'457'280; // 30 MiB
    static constexpr auto kLockTimeout = std::chrono::milliseconds(1'000);

    //! @param capacityBytes size of the ring once allocated (tests use small rings).
    explicit CFifo(std::uint32_t capacityBytes = kCapacityBytes);
    virtual ~CFifo();
    CFifo(const CFifo&) = delete;
    CFifo& operator=(const CFifo&) = delete;

    //! Size of the ring for the next Allocate (the sender sizes it by bit rate).
    void SetCapacity(std::uint32_t capacityBytes) { m_allocSize = capacityBytes; }
    //! Frees any memory, then commits one block of the capacity; read = write = 0.
    //! @return false when the memory cannot be had (capacity then reads 0).
    bool Allocate();
    //! Frees the memory; capacity and indices stay as they are.
    void Release();
    //! Discards the content: read = write = 0.
    //! @return the bytes it held (0 when the lock timed out).
    std::uint32_t Reset();

    //! Bytes held; 0 without memory or when the lock times out.
    std::uint32_t GetUsed();
    //! Bytes that can still be written; 0 without memory or when the lock times out.
    std::uint32_t GetFree();
    //! Capacity after the last Allocate (0 after a failed one).
    std::uint32_t GetCapacity();

    //! Writes all @p n bytes or nothing (false: no memory, no room, or lock time-out).
    bool Write(const void* source, std::uint32_t n);
    //! Reads up to @p n bytes; @p n becomes the number copied.
    //! @return false (n = 0) without memory or on lock time-out; true otherwise,
    //! also when the FIFO is empty (n = 0).
    bool Read(void* destination, std::uint32_t& n);

private:
    std::uint32_t UsedLocked() const;

    std::uint32_t m_allocSize;
    CAlignedBuffer m_memory;
    std::uint32_t m_capacity = 0;
    std::uint32_t m_read = 0;
    std::uint32_t m_write = 0;
    CTimedMutex m_lock;
};
