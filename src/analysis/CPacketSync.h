#pragma once
//! @file CPacketSync.h
//! Finds the packets in a byte stream however it is cut into chunks: detects the
//! packet size (188 or 204), the offset of the first packet, re-synchronises after
//! garbage and counts sync losses. Whole packets inside a chunk are handed over in
//! place; a packet cut by a chunk end is assembled in a small buffer of its own.
//! Not thread-safe: the owner serialises the calls.

#include "analysis/IPacketHandler.h"

#include <array>
#include <cstddef>
#include <cstdint>

class CPacketSync
{
public:
    static constexpr int kPacketSize188 = 188;
    static constexpr int kPacketSize204 = 204;
    //! Sync bytes that must follow each other at the packet size before we trust it.
    static constexpr int kLockPackets = 5;

    explicit CPacketSync(IPacketHandler& handler) : m_handler(handler) {}

    //! Analyses the next @p length bytes of the stream.
    void Feed(const std::uint8_t* data, std::size_t length);
    //! The stream continues somewhere else (jump, loop): partial data forgotten,
    //! packet size kept, sync searched again; this is no sync loss.
    void Restart();
    //! Everything forgotten, as for a new stream.
    void Reset();

    int PacketSize() const { return m_packetSize; }
    //! Stream offset of the first packet found since Reset(); -1 while none.
    std::int64_t FirstPacketOffset() const { return m_firstPacketOffset; }
    std::uint32_t SyncLoss() const { return m_syncLoss; }
    void SetSyncLoss(std::uint32_t count) { m_syncLoss = count; }
    bool Locked() const { return m_locked; }
    //! Bytes of the unfinished packet at the end of the data fed so far when they are
    //! the only bytes not yet handed over (locked, nothing pending in the search window).
    std::size_t PendingPacketBytes() const { return m_locked && m_searchFill == 0 ? m_partialFill : 0; }

private:
    // Bytes from a candidate sync byte needed to confirm kLockPackets packets of 204 bytes.
    static constexpr std::size_t kLockWindow = (kLockPackets - 1) * kPacketSize204 + 1;
    static constexpr std::size_t kSearchCapacity = 2048;

    //! @p offset is the stream offset of @p data[0].
    std::size_t FeedLocked(const std::uint8_t* data, std::size_t length, std::uint64_t offset);
    void RunSearchWindow();
    static int DetectPacketSize(const std::uint8_t* candidate);
    void LoseSync(std::uint64_t offset);

    IPacketHandler& m_handler;
    bool m_locked = false;
    int m_packetSize = 0;
    std::int64_t m_firstPacketOffset = -1;
    std::uint32_t m_syncLoss = 0;
    std::uint64_t m_bytesFed = 0;    // stream bytes taken in since Reset()
    std::uint64_t m_packetIndex = 0; // packets handed over since Restart()
    // Where the sync byte was missing (kNoLoss: locked, or never lost since Restart()).
    static constexpr std::uint64_t kNoLoss = ~std::uint64_t{0};
    std::uint64_t m_lostAt = kNoLoss;
    int m_lostSize = 0;
    std::array<std::uint8_t, kPacketSize204> m_partial{};
    std::size_t m_partialFill = 0;
    std::array<std::uint8_t, kSearchCapacity> m_search{};
    std::size_t m_searchFill = 0;
};
