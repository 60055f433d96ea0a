#pragma once
//! @file CDvbIpRecvThread.h
//! The network receiver: receives a transport stream on a local UDP port, as
//! plain UDP or RTP, and turns it into an ordered byte stream in a 30 MiB FIFO
//! from which the record worker reads blocks.
//!
//! The receive thread (CUdpIOCPClient) fills pool records and puts them on the
//! ready list; RTP headers are parsed there (RFC 3550: version 2, CSRC list,
//! extension, padding), and a datagram that is not valid RTP or whose payload
//! is not whole transport stream packets is dropped and counted. The sequencing thread takes the records in sequence
//! order (arrival number for UDP, RTP sequence number for RTP) and writes their payload to the FIFO.
//!
//! Re-ordering: 50 datagrams stay in reserve so that a late datagram can still
//! take its place. A datagram behind the expected one is a duplicate or too late
//! and is dropped. A missing datagram is waited for a few cycles, then given up:
//! the stream continues with the nearest datagram ahead. When nothing near is
//! waiting (a sender restarted with a new numbering) it resynchronises at once.
//! The reserve is passed on after a short quiet time and at StopReceiving, so
//! short streams and the end of every stream are kept.
//!
//! Threads: Start, StopReceiving, Stop and the setters on the owner's thread;
//! ReadData on the record worker; GetStatus and the counters from anywhere.

#include "common/CEvent.h"
#include "common/CThread.h"
#include "engine/CFifo.h"
#include "engine/CUdpIOCPClient.h"
#include "engine/DvbIpRecvBufferPool.h"

#include <atomic>
#include <cstdint>
#include <cstdio>

class CDvbIpRecvThread : public CUdpIOCPClient
{
public:
    // Status flags (GetStatus).
    static constexpr std::uint32_t kStatusOverflow = 1; //!< data was dropped: no free record, FIFO or kernel queue full
    static constexpr std::uint32_t kStatusShortRead = 2; //!< the last ReadData found less than asked for
    static constexpr std::uint32_t kStatusNoData = 8;    //!< no datagram for about 5 s

    static constexpr std::int32_t kReserveDatagrams = 50;
    static constexpr std::uint8_t kSyncByte = 0x47;
    static constexpr std::int64_t kCycleMs = 1;
    //! Without arrivals for this long, the reserve is passed on.
    static constexpr std::int64_t kQuietMs = 5;
    //! A missing datagram is given up when a quiet time lasts this long (a slow
    //! stream's swapped datagram comes within one of its intervals).
    static constexpr std::int64_t kQuietGiveUpMs = 100;
    //! Cycles a missing datagram is waited for while newer ones are near.
    static constexpr std::uint32_t kMissRetries = 5;
    static constexpr std::int64_t kNoDataMs = 5'000;
    //! At the end of reception, how long the reserve waits for room in the FIFO.
    static constexpr std::int64_t kFinalDrainMs = 5'000;

    //! Counters of one stream (since Start), for status displays and tests.
    struct Counters
    {
        std::uint64_t datagrams = 0;     //!< datagrams written to the FIFO
        std::uint64_t payloadBytes = 0;  //!< bytes written to the FIFO
        std::uint64_t late = 0;          //!< late or duplicate datagrams dropped
        std::uint64_t invalid = 0;       //!< not valid RTP (or too short), dropped
        std::uint64_t missing = 0;       //!< sequence numbers given up (lost upstream)
        std::uint64_t resyncs = 0;       //!< jumps to a new numbering
        std::uint64_t overflowDrops = 0; //!< datagrams lost here: FIFO full or kernel queue full
        std::uint64_t rtpInUdpMode = 0;  //!< of the invalid ones in UDP mode: RTP carrying TS packets
        std::uint64_t kernelDrops = 0;   //!< datagrams the kernel dropped from the full receive queue
    };

    //! @param fifoBytes ring size (tests use small rings); @param poolRecords pool size.
    explicit CDvbIpRecvThread(std::uint32_t fifoBytes = CFifo::kCapacityBytes,
                              std::uint32_t poolRecords = DvbIpRecvBufferPool::kBufferCount);
    ~CDvbIpRecvThread() override;

    // Configuration, taken at Start.
    void SetPort(std::uint16_t port) { m_port = port; }
    void SetRtp(bool rtp) { m_rtp = rtp; }
    void SetMembership(const Membership& membership) { m_membership = membership; }
    std::uint16_t GetPort() const { return m_port; }
    bool IsRtp() const { return m_rtp; }
    //! Where the gap diagnostic line goes (standard output; null = nowhere).
    void SetDiagnostics(std::FILE* out) { m_diagnostics = out; }

    //! Allocates the FIFO and the pool, opens the port and starts the sequencing
    //! thread. Does nothing and succeeds while already receiving.
    //! @return false when the port cannot be opened or memory is refused
    //! (LastError() says why); nothing runs then.
    bool Start();
    //! Ends reception: closes the port, passes every datagram still in reserve
    //! on to the FIFO and ends the sequencing thread. The FIFO keeps its content
    //! for the last ReadData / ReadAvailable calls.
    void StopReceiving();
    //! StopReceiving, then releases the pool and the FIFO. Always true.
    bool Stop();
    bool IsReceiving() const { return m_receiving.load(); }

    //! Copies exactly @p wanted bytes, or none when fewer are stored (sets the
    //! short-read flag). @return false only when the FIFO cannot be read at all.
    bool ReadData(void* destination, std::uint32_t wanted, std::uint32_t& got);
    //! Copies up to @p maximum bytes, whatever is stored (the end of a recording).
    bool ReadAvailable(void* destination, std::uint32_t maximum, std::uint32_t& got);
    //! Bytes waiting in the FIFO.
    std::uint32_t GetStored() { return m_fifo.GetUsed(); }

    //! Packet size of the stream's last datagram (188 or 204; 188 before any).
    std::uint32_t GetPacketBytes() const { return m_packetBytes.load(std::memory_order_relaxed); }

    std::uint32_t GetStatus() const { return m_status.load(std::memory_order_relaxed); }
    Counters GetCounters() const;

    //! Parses an RTP fixed header with its CSRC list, extension and padding
    //! (RFC 3550 5.1, 5.3.1). @return false when @p data is not a valid RTP
    //! packet; otherwise the sequence number and where the payload lies.
    static bool ParseRtp(const std::uint8_t* data, std::uint32_t length, std::uint16_t& sequence,
                         std::uint32_t& payloadOffset, std::uint32_t& payloadLength);

    //! A datagram's payload is whole transport stream packets (RFC 2250): it
    //! starts with the sync byte and is a multiple of 188 or 204 bytes. Anything
    //! else is not written, so stray datagrams on the port cannot corrupt a file.
    //! An empty payload (an RTP keep-alive) passes and writes nothing.
    static bool IsTransportStream(const std::uint8_t* data, std::uint32_t length);

    DvbIpRecvBuffer* GetFreeBuffer() override;
    void OnReceive(DvbIpRecvBuffer* record) override;
    void OnDropped(std::uint32_t count) override;

private:
    void SetFlag(std::uint32_t flag) { m_status.fetch_or(flag, std::memory_order_relaxed); }
    void ClearFlag(std::uint32_t flag) { m_status.fetch_and(~flag, std::memory_order_relaxed); }
    void SequencingLoop();
    //! Moves records beyond the reserve (all of them when @p flush) to the FIFO.
    //! A missing datagram is given up at once when @p giveUp.
    void Drain(bool flush, bool giveUp, bool& haveExpected, std::uint16_t& expected, std::uint32_t& misses);
    void Deliver(DvbIpRecvBuffer* record, bool& haveExpected, std::uint16_t& expected);
    //! While receiving: false (try again next cycle). After StopReceiving: waits
    //! up to kFinalDrainMs for room, then true.
    bool WaitForRoom();

    std::atomic<bool> m_receiving{false};
    std::uint16_t m_port = 0;
    bool m_rtp = false;
    Membership m_membership;
    DvbIpRecvBufferPool m_pool;
    CFifo m_fifo;
    CThread m_sequencer;
    CEvent m_wake;
    std::atomic<bool> m_stopRequest{false};
    std::atomic<std::int64_t> m_finalDeadlineNs{0};
    std::atomic<std::uint32_t> m_status{0};
    std::atomic<std::uint64_t> m_arrivals{0};
    std::atomic<std::uint32_t> m_packetBytes{188};
    std::FILE* m_diagnostics = stdout;
    std::uint16_t m_previous = 0; // sequencing thread only

    std::atomic<std::uint64_t> m_datagrams{0};
    std::atomic<std::uint64_t> m_payloadBytes{0};
    std::atomic<std::uint64_t> m_late{0};
    std::atomic<std::uint64_t> m_invalid{0};
    std::atomic<std::uint64_t> m_missing{0};
    std::atomic<std::uint64_t> m_resyncs{0};
    std::atomic<std::uint64_t> m_overflowDrops{0};
    std::atomic<std::uint64_t> m_rtpInUdpMode{0};
};
