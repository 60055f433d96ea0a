#pragma once
//! @file CFecDecoder.h
//! SMPTE 2022-1 FEC receiver side: media and FEC datagrams in (both FEC streams,
//! in any order), rebuilt media datagrams out, byte for byte as they were sent.
//!
//! A window of recent media datagrams (by 16-bit sequence number, unwrapped) and
//! of FEC datagrams is kept. A sequence number below the highest received one and
//! not held is a gap. Whenever a datagram arrives, every FEC group that covers it
//! and now misses exactly one member rebuilds that member; a rebuilt datagram
//! counts as arrived, so column and row groups solve in turn what neither solves
//! alone. A gap still open when the highest sequence number is the latency bound
//! past it is final: counted unrecoverable and left as a gap (the receiver's own
//! loss count sees it too). The bound defaults to 2 x L x D + L media datagrams
//! (the column FEC of a matrix may be spread over the next one). A FEC stream
//! that trails the media (another socket, read by another thread: under load it
//! falls behind by hundreds of datagrams) holds a gap open until it has passed
//! the gap's matrix, but never beyond kMaxHoldPackets.
//!
//! No I/O, no threads, memory taken once (about 9 MB): one thread calls
//! everything; views returned stay valid until the next call.

#include "engine/FecPacket.h"

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

class CFecDecoder
{
public:
    //! Sequence numbers the window can hold.
    static constexpr std::uint32_t kWindowPackets = 2'048;
    static constexpr std::uint32_t kMaxLatencyPackets = 700;
    //! How far behind the highest media number a trailing FEC stream may hold a gap open.
    static constexpr std::uint32_t kMaxHoldPackets = 1'700;
    //! Latency before the first FEC datagram tells L and D.
    static constexpr std::uint32_t kUnknownMatrixLatency = 2 * fec::kMaxMatrix + fec::kMaxColumns;

    enum class MediaResult : std::uint8_t
    {
        Fresh,     //!< first copy, in the window
        Duplicate, //!< held already (received or rebuilt): the caller may drop it
        Late,      //!< older than the window: its gap was already counted
        Malformed  //!< not RTP version 2, or longer than fec::kMaxMediaBytes
    };

    struct Counters
    {
        std::uint64_t media = 0;           //!< media datagrams taken (all results)
        std::uint64_t recovered = 0;       //!< media datagrams rebuilt
        std::uint64_t unrecoverable = 0;   //!< gaps that went past the latency bound
        std::uint64_t fecReceived = 0;     //!< FEC datagrams taken (both streams, all results)
        std::uint64_t fecMalformed = 0;    //!< not 2022-1 XOR FEC datagrams
        std::uint64_t fecUnused = 0;       //!< FEC for sequence numbers outside the window
        std::uint64_t fecInconsistent = 0; //!< a group whose XOR does not add up: nothing rebuilt
        std::uint64_t duplicates = 0;
        std::uint64_t late = 0;
        std::uint64_t mediaMalformed = 0;
        std::uint64_t resyncs = 0; //!< sequence jumps beyond the window: state started afresh
    };

    CFecDecoder();

    //! @param packets latency bound in media datagrams, 1-700; 0 for 2 x L x D + L.
    //! @return false (unchanged) when out of range.
    bool SetLatencyPackets(std::uint32_t packets);
    //! The bound in force now.
    std::uint32_t GetLatencyPackets() const;
    //! Sequence numbers before this one (16 bits) are settled: received, rebuilt
    //! or given up; those from it on may still be rebuilt. -1 before the first media datagram.
    std::int32_t GetSettledBelow() const { return m_high < 0 ? -1 : static_cast<std::uint16_t>(m_final); }
    //! L and D as the FEC datagrams tell them (0 until known).
    std::uint32_t GetColumns() const { return m_columns; }
    std::uint32_t GetRows() const { return m_rows; }

    //! Takes a media datagram as it arrives (RTP header + payload).
    MediaResult AddMedia(std::span<const std::uint8_t> datagram);
    //! Takes a datagram of either FEC stream. @return false when malformed (counted).
    bool AddFec(std::span<const std::uint8_t> datagram);
    //! The media datagrams rebuilt by the last Add call (not in sequence order).
    std::span<const std::span<const std::uint8_t>> Rebuilt() const { return m_rebuilt; }

    //! End of stream: every open gap becomes final (counted unrecoverable).
    void Flush();
    //! Forgets the window (counters stay).
    void Reset();

    const Counters& GetCounters() const { return m_counters; }

private:
    enum class State : std::uint8_t
    {
        Present,
        Missing,
        Future,
        Lost
    };
    struct MediaSlot
    {
        std::int64_t sequence = -1;
        std::uint16_t bytes = 0;
    };
    struct FecSlot
    {
        std::int64_t snBase = -1;
        std::uint8_t offset = 0;
        std::uint8_t count = 0;
        std::uint16_t payloadBytes = 0;
        fec::Recovery recovery;
    };
    struct Work
    {
        std::uint8_t stream;
        std::int64_t snBase;
    };

    std::int64_t Unwrap(std::uint16_t sequence);
    State StateOf(std::int64_t s) const;
    bool IsPresent(std::int64_t s) const { return m_slots[Index(s)].sequence == s; }
    static std::uint32_t Index(std::int64_t s) { return static_cast<std::uint32_t>(s) & (kWindowPackets - 1); }
    std::uint8_t* MediaAt(std::int64_t s) { return m_media.get() + std::size_t{Index(s)} * fec::kMaxMediaBytes; }
    void Store(std::int64_t s, std::span<const std::uint8_t> datagram);
    void Advance(std::int64_t s);
    void FinalizeUpTo(std::int64_t s);
    //! The highest sequence number that is final now: the latency bound, or where a
    //! trailing FEC stream still may rebuild (within kMaxHoldPackets).
    std::int64_t SettleLimit() const;
    void QueueGroupsOf(std::int64_t s);
    void Solve();
    void Check(const Work& w);
    bool Rebuild(FecSlot& f, const std::uint8_t* payload, std::int64_t missing);

    std::vector<MediaSlot> m_slots;
    // Bytes are read only where a slot says they were written: left uninitialised.
    std::unique_ptr<std::uint8_t[]> m_media;
    std::vector<FecSlot> m_fec[2];
    std::unique_ptr<std::uint8_t[]> m_fecPayload[2];
    std::vector<std::uint8_t> m_scratch;
    std::vector<Work> m_work;
    std::vector<std::span<const std::uint8_t>> m_rebuilt;

    std::int64_t m_reference = -1; // unwrapping anchor before the first media datagram
    std::int64_t m_high = -1;      // highest media sequence number, -1 before the first
    std::int64_t m_final = 0;      // sequence numbers below it are settled
    bool m_settledAny = false;     // until then an earlier datagram moves the start back
    std::uint32_t m_missing = 0;   // open gaps in [m_final, m_high]
    std::uint32_t m_lateRun = 0;   // consecutive datagrams far behind the window
    std::uint32_t m_ssrc = 0;      // of the media stream, for rebuilt headers
    std::uint32_t m_columns = 0;
    std::uint32_t m_rows = 0;
    std::uint32_t m_latency = 0;          // 0: from L and D
    std::int64_t m_fecLast[2] = {-1, -1}; // per FEC stream: the highest media number it covered
    Counters m_counters;
};
