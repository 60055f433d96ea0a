#pragma once
//! @file CDvbIpRecvThread.h
//! The network receiver: receives a transport stream on a local UDP port, as
//! plain UDP or RTP, and turns it into an ordered byte stream in a 30 MiB FIFO
//! from which the record worker reads blocks.
//!
//! The receive thread (CUdpIOCPClient) fills pool records and puts them on the
//! ready list. In UDP mode every datagram is written as received, in arrival
//! order (the analysis finds the packets itself). In RTP mode the header is
//! parsed (RFC 3550: version 2, CSRC list, extension, padding) and the payload
//! must be whole transport stream packets (RFC 2250); anything else is dropped
//! and counted. Only accepted datagrams get an arrival number.
//!
//! Re-ordering (RTP): 50 datagrams stay in reserve so that a late datagram can
//! still take its place. A datagram just behind the expected one is a duplicate
//! or too late and is dropped. A missing datagram is waited for a few cycles,
//! then given up: the stream continues with the nearest datagram ahead.
//! A sequence space is an SSRC with the numbers near the expected one. A new
//! SSRC, or a numbering far from the expected one (a sender restart), is a new
//! space: what is held of the old one is passed on first, then the stream
//! continues in the new one (counted as a restart). The reserve is passed on
//! after a short quiet time and at StopReceiving, so short streams and the end
//! of every stream are kept.
//!
//! MDI (RFC 4445): the receive thread feeds every accepted datagram, with the
//! kernel's receive time stamp, to a CMdiMeter. Media loss for the MLR: in RTP
//! mode the gaps in the sequence numbers as the datagrams arrive (a datagram
//! that comes late after its gap was counted is not counted again), in UDP
//! mode the datagrams the kernel dropped; losses upstream of a plain UDP
//! stream show only as continuity errors of the analysis (docs/mdi.md).
//!
//! Protection (RTP only, docs/protection.md): with FEC, two more sockets take
//! the SMPTE 2022-1 column and row streams (media port + 2, + 4); with a second
//! input, a second socket takes the same RTP stream over another path (2022-7),
//! plus its own FEC sockets. Each extra socket is a CUdpSideInput: its own
//! CUdpIOCPClient thread, records from the same pool. Every input then goes
//! through one lock: the merge per stream (media, column, row; first copy
//! wins), then the FEC decoder, before the re-ordering; rebuilt datagrams are
//! passed on as if received. A datagram that fills a gap late (rebuilt, or from
//! the slower path) goes to the pool's list of gap fillers, which every search
//! looks through, and a missing datagram is waited for while FEC may still
//! rebuild it (until the decoder has settled its number) or the other path may
//! still bring it (the merge window). Without protection none of this runs: no
//! lock, no copy.
//!
//! A number given up is a loss (latched for the status): a datagram of it that
//! comes later is dropped and counted too late, a copy of a number written is
//! a duplicate. A jump ahead in the same numbering over datagrams the kernel
//! dropped is missing, not a restart.
//!
//! Stopping is bounded by kStopBoundMs for all threads together; pool and FIFO
//! are released only once every thread has ended.
//!
//! Threads: Start, StopReceiving, Stop and the setters on the owner's thread;
//! ReadData on the record worker; GetStatus and the counters from anywhere.

#include "analysis/CMdiMeter.h"
#include "common/CEvent.h"
#include "common/CThread.h"
#include "engine/CFecDecoder.h"
#include "engine/CFifo.h"
#include "engine/CSeamlessMerge.h"
#include "engine/CUdpIOCPClient.h"
#include "engine/CUdpSideInput.h"
#include "engine/DvbIpRecvBufferPool.h"
#include "engine/IDatagramInput.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>
#include <span>
#include <vector>

class CEventLog;

class CDvbIpRecvThread : public CUdpIOCPClient
{
public:
    // Status flags (GetStatus).
    //! Data was lost (kernel receive queue or FIFO full) since the last
    //! GetStatus: a loss stays shown until a status reader has seen it. A pool
    //! without free records is no loss (the kernel queue holds the datagrams).
    static constexpr std::uint32_t kStatusOverflow = 1;
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
    //! With FEC, the rest of a lost datagram's groups may come after a sender's
    //! pause (a bursty sender such as ffmpeg -re pauses for 100 ms and more).
    static constexpr std::int64_t kQuietGiveUpFecMs = 1'000;
    //! Cycles a missing datagram is waited for while newer ones are near.
    static constexpr std::uint32_t kMissRetries = 5;
    //! At most one gap line a second; the rest are counted in the next one.
    static constexpr std::int64_t kGapLineIntervalMs = 1'000;
    static constexpr std::int64_t kNoDataMs = 5'000;
    //! One bound for stopping every thread of the receiver, including the wait
    //! for room in a full FIFO for the reserve.
    static constexpr std::int64_t kStopBoundMs = 1'000;
    //! Media packets a lost datagram counts for when the datagram after the gap has none.
    static constexpr std::uint32_t kMdiPacketsPerDatagram = 7;
    //! Without a new MDI second for this long the figures are no longer valid.
    static constexpr std::int64_t kMdiStaleMs = 2'500;
    //! SMPTE 2022-1: the column FEC stream on the media port + 2, the row FEC on + 4.
    static constexpr std::uint16_t kColumnPortOffset = 2;
    static constexpr std::uint16_t kRowPortOffset = 4;

    //! One path of a 2022-7 pair (CSeamlessMerge's figures, settled sequence numbers).
    struct PathCounters
    {
        std::uint64_t received = 0; //!< media datagrams taken on this path
        std::uint64_t missing = 0;  //!< sequence numbers this path did not bring in time
        std::uint64_t onlyHere = 0; //!< sequence numbers only this path brought
    };

    //! Counters of one stream (since Start), for status displays and tests.
    struct Counters
    {
        std::uint64_t received = 0;         //!< datagrams accepted
        std::uint64_t datagrams = 0;        //!< datagrams written to the FIFO
        std::uint64_t payloadBytes = 0;     //!< bytes written to the FIFO
        std::uint64_t late = 0;             //!< duplicate or stray datagrams dropped (harmless)
        std::uint64_t invalid = 0;          //!< dropped: not valid RTP, no whole packets (RTP), or oversized
        std::uint64_t oversized = 0;        //!< of the invalid: larger than a record (1,532 bytes)
        std::uint64_t missing = 0;          //!< sequence numbers given up (lost upstream): a loss
        std::uint64_t tooLate = 0;          //!< of the missing: came or was rebuilt after being given up
        std::uint64_t restarts = 0;         //!< new sequence spaces: a new SSRC or a numbering jump
                                            //!< (a jump ahead over datagrams the kernel dropped is missing)
        std::uint64_t overflowDrops = 0;    //!< datagrams lost here: FIFO full
        std::uint64_t rtpInUdpMode = 0;     //!< in UDP mode: datagrams that are RTP carrying TS packets
        std::uint64_t kernelDrops = 0;      //!< datagrams the kernel dropped from the full receive queue
        std::uint64_t transportDrops = 0;   //!< datagrams the input's transport (SRT) gave up: lost for good
        std::uint64_t receiveErrors = 0;    //!< failed receive calls (see GetLastReceiveError)
        std::uint64_t reordered = 0;        //!< RTP: datagrams that arrived behind a newer one, first time
        std::uint64_t duplicates = 0;       //!< RTP: datagrams whose number arrived already (of the last 64)
        bool fec = false;                   //!< FEC was on: the fec* counters mean something
        std::uint64_t fecRecovered = 0;     //!< media datagrams rebuilt from FEC (not in missing)
        std::uint64_t fecUnrecoverable = 0; //!< gaps FEC could not fill within its latency bound
        std::uint64_t fecPackets = 0;       //!< FEC datagrams taken (both streams, after the merge)
        std::uint64_t fecInvalid = 0; //!< FEC datagrams of no use: not 2022-1 XOR FEC, or parity that does not add up
        bool twoPaths = false;        //!< a second input was merged (2022-7)
        std::array<PathCounters, 2> paths;
        double skewMs = 0.0; //!< how long the last second copy trailed the first, ms
    };

    //! The Media Delivery Index of the last second of the stream (RFC 4445).
    struct Mdi
    {
        double dfMs = 0.0;    //!< delay factor, ms: how long a receiver must buffer the arrival jitter
        double mlr = 0.0;     //!< media loss rate: TS packets lost (or out of order) per second
        bool valid = false;   //!< a second has been measured and the stream has not stopped since
        double maxDfMs = 0.0; //!< the largest DF since Start, ms (kept while not valid)
    };

    //! In UDP mode, most datagrams are RTP carrying transport stream packets:
    //! the user should switch to RTP.
    static bool LooksLikeRtp(const Counters& c) { return c.received > 0 && c.rtpInUdpMode * 2 > c.received; }

    //! @param fifoBytes ring size (tests use small rings); @param poolRecords pool size.
    explicit CDvbIpRecvThread(std::uint32_t fifoBytes = CFifo::kCapacityBytes,
                              std::uint32_t poolRecords = DvbIpRecvBufferPool::kBufferCount);
    ~CDvbIpRecvThread() override;

    // Configuration, taken at Start: a change during a run applies to the next one.
    void SetPort(std::uint16_t port) { m_port = port; }
    void SetRtp(bool rtp) { m_rtp = rtp; }
    void SetMembership(const Membership& membership) { m_membership = membership; }
    //! SMPTE 2022-1 FEC on the media port + 2 and + 4 (same membership), RTP only.
    void SetFec(bool fec) { m_fec = fec; }
    //! A second input of the same RTP stream (2022-7), on @p port (0: none) with
    //! its own membership; its FEC (with SetFec) on @p port + 2 and + 4. RTP only.
    void SetSecondInput(std::uint16_t port, const Membership& membership)
    {
        m_secondPort = port;
        m_secondMembership = membership;
    }
    //! The path-skew window of the merge, 1-500 ms. @return false (unchanged) otherwise.
    bool SetMergeWindowMs(std::uint32_t ms);
    //! Another input than the UDP port (SRT; not owned, outlives the run):
    //! its datagrams go the UDP way (arrival order), port, RTP and protection
    //! are not used. Null: the UDP port.
    void SetInput(IDatagramInput* input) { m_input = input; }
    IDatagramInput* GetInput() const { return m_input; }
    bool IsFec() const { return m_fec; }
    std::uint16_t GetSecondPort() const { return m_secondPort; }
    std::uint16_t GetPort() const { return m_port; }
    bool IsRtp() const { return m_rtp; }
    //! Where the gap diagnostic line goes (standard output; null = nowhere); at
    //! most one line every kGapLineIntervalMs, with the count of those not shown.
    void SetDiagnostics(std::FILE* out) { m_diagnostics = out; }
    //! Where sequence jumps are logged with their time (null = nowhere); not owned.
    void SetEventLog(CEventLog* log) { m_eventLog.store(log); }

    //! Allocates the FIFO and the pool, opens the port and starts the sequencing
    //! thread. Does nothing and succeeds while already receiving.
    //! @return false when the port cannot be opened or memory is refused
    //! (LastError() says why); nothing runs then.
    bool Start();
    //! Ends reception: closes the port, passes every datagram still in reserve
    //! on to the FIFO (waiting for room within kStopBoundMs) and ends the
    //! sequencing thread. The FIFO keeps its content for the last ReadData /
    //! ReadAvailable calls.
    void StopReceiving() { EndReception(true); }
    //! Ends reception, discarding the reserve, then releases the pool and the
    //! FIFO once every thread has ended (else at the next Start or destruction).
    //! Always true.
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

    //! The status flags; a loss latched since the last call shows as overflow once.
    std::uint32_t GetStatus() const
    {
        const std::uint32_t loss = m_lossLatch.exchange(false, std::memory_order_relaxed) ? kStatusOverflow : 0;
        return m_status.load(std::memory_order_relaxed) | loss;
    }
    Counters GetCounters() const;

    //! DF and MLR of the stream's last whole second of arrivals. Not valid before
    //! the first second has ended, nor kMdiStaleMs after the stream stopped.
    //! Any thread; cheap (a copy under a lock the receive thread takes once a second).
    Mdi GetMdi() const;
    //! The stream's nominal rate for the delay factor, bit/s: the PCR bit rate of
    //! the analysis (the record thread passes it on); 0: each second's mean
    //! arrival rate. Any thread; reset to 0 at Start.
    void SetMdiBitRate(double bitsPerSecond) { m_mdiRateBps.store(bitsPerSecond, std::memory_order_relaxed); }

    //! Parses an RTP fixed header with its CSRC list, extension and padding
    //! (RFC 3550 5.1, 5.3.1). @return false when @p data is not a valid RTP
    //! packet; otherwise the sequence number, the SSRC (when @p ssrc is given)
    //! and where the payload lies.
    static bool ParseRtp(const std::uint8_t* data, std::uint32_t length, std::uint16_t& sequence,
                         std::uint32_t& payloadOffset, std::uint32_t& payloadLength, std::uint32_t* ssrc = nullptr);

    //! An RTP payload is whole transport stream packets (RFC 2250): it starts
    //! with the sync byte and is a multiple of 188 or 204 bytes. Anything else
    //! is not written in RTP mode. An empty payload (a keep-alive) passes.
    static bool IsTransportStream(const std::uint8_t* data, std::uint32_t length);

    DvbIpRecvBuffer* GetFreeBuffer() override;
    void OnReceive(DvbIpRecvBuffer* record) override;
    void OnDropped(std::uint32_t count) override;
    void OnOversized() override;

private:
    void SetFlag(std::uint32_t flag) { m_status.fetch_or(flag, std::memory_order_relaxed); }
    void ClearFlag(std::uint32_t flag) { m_status.fetch_and(~flag, std::memory_order_relaxed); }
    void SequencingLoop();
    //! Closes the port and ends the sequencing thread within kStopBoundMs; the
    //! reserve goes to the FIFO when @p keepReserve.
    void EndReception(bool keepReserve);
    //! Releases pool and FIFO when every thread has ended. @return true then.
    bool ReleaseWhenJoined();
    void LatchLoss() { m_lossLatch.store(true, std::memory_order_relaxed); }
    //! Opens the UDP port, or the other input. @return false (LastError set) when it fails.
    bool OpenInput();
    //! Datagrams the other input's transport gave up (its thread).
    void OnTransportLoss(std::uint32_t datagrams);
    //! Moves records beyond the reserve (all of them when @p flush) to the FIFO.
    //! A missing datagram is given up at once when @p giveUp.
    void Drain(bool flush, bool giveUp, bool& haveExpected, std::uint16_t& expected, std::uint32_t& misses);
    void Deliver(DvbIpRecvBuffer* record, bool& haveExpected, std::uint16_t& expected);
    //! The gap line for a jump from m_previous to @p sequence, rate limited.
    void ReportJump(std::uint16_t sequence);
    //! Datagrams of numbers given up already came after all: lost, said so.
    void CountTooLate(std::uint32_t datagrams);
    //! While receiving: false (try again next cycle). After StopReceiving: waits
    //! for room until the stop bound, then true.
    bool WaitForRoom();
    //! Fills in the RTP fields of @p record. @return false when it is no RTP
    //! transport stream datagram: it is counted invalid and back in the pool.
    bool ParseRtpRecord(DvbIpRecvBuffer* record);
    //! Feeds @p record to the MDI meter (receive thread).
    void MeasureArrival(const DvbIpRecvBuffer& record);
    //! RTP media packets missing in front of @p sequence, in arrival order;
    //! counts the reordered and the duplicate datagrams (receive thread).
    std::uint32_t TrackSequence(std::uint16_t sequence, std::uint32_t ssrc, std::uint32_t packets);
    //! Opens the FEC and second-path sockets. @return false (LastError set) when one fails.
    bool OpenSideInputs();
    //! @return true when every side input's thread has ended.
    bool CloseSideInputs(std::chrono::milliseconds timeout);
    //! An input's datagram with protection on (any receive thread): merge, FEC, re-ordering.
    //! Input = path x 3 + stream (0 media, 1 column FEC, 2 row FEC).
    void ReceiveProtected(std::uint32_t input, DvbIpRecvBuffer* record);
    //! Passes the decoder's rebuilt datagrams on (m_protectLock held).
    void PassRebuilt(std::int64_t arrivalNs);
    //! A missing datagram may still come: the other path or FEC may bring it. Read
    //! before the search: what FEC rebuilt before the decoder settled the number is found by it.
    bool MayStillCome(std::uint16_t expected, std::uint32_t misses) const;

    std::atomic<bool> m_receiving{false};
    std::uint16_t m_port = 0;
    IDatagramInput* m_input = nullptr;
    IDatagramInput* m_runInput = nullptr; // m_input as taken at Start
    bool m_rtp = false;
    bool m_runRtp = false; // m_rtp as taken at Start; read by the receiver's threads
    Membership m_membership;
    bool m_fec = false;
    std::uint16_t m_secondPort = 0;
    Membership m_secondMembership;
    std::uint32_t m_mergeWindowMs = CSeamlessMerge::kDefaultWindowMs;
    // Taken at Start; read by the receiver's threads.
    bool m_runProtected = false;
    bool m_runFec = false;
    std::uint32_t m_missRetries = kMissRetries;
    std::vector<std::unique_ptr<CUdpSideInput>> m_sideInputs; // owner's thread
    // Merge (per stream, with a second input) and FEC decoder: made at Start,
    // kept for the counters after Stop; used under m_protectLock.
    mutable std::mutex m_protectLock;
    std::unique_ptr<CFecDecoder> m_fecDecoder;
    std::array<std::unique_ptr<CSeamlessMerge>, 3> m_merge;
    std::vector<std::span<const std::uint8_t>> m_rebuiltOrder;
    // For the sequencer's wait: the highest media sequence number seen and the
    // first one the decoder has not settled yet (-1 none).
    std::atomic<std::int32_t> m_fecHigh{-1};
    std::atomic<std::int32_t> m_fecSettled{-1};
    std::int64_t m_lastSettleNs = 0; // sequencing thread only
    DvbIpRecvBufferPool m_pool;
    CFifo m_fifo;
    CThread m_sequencer;
    CEvent m_wake;
    std::atomic<bool> m_stopRequest{false};
    std::atomic<bool> m_discardReserve{false};
    bool m_threadsJoined = true; // owner's thread only
    std::atomic<std::int64_t> m_finalDeadlineNs{0};
    std::atomic<std::uint32_t> m_status{0};
    mutable std::atomic<bool> m_lossLatch{false};
    std::atomic<std::uint64_t> m_arrivals{0};
    std::atomic<std::uint32_t> m_packetBytes{188};
    std::FILE* m_diagnostics = stdout;
    std::atomic<CEventLog*> m_eventLog{nullptr};
    std::uint16_t m_previous = 0; // sequencing thread only
    std::uint32_t m_ssrc = 0;     // sequencing thread only: the current space's SSRC
    // Sequencing thread only: when the last gap line was written, and the jumps since not shown.
    std::int64_t m_gapLineNs = 0;
    std::uint64_t m_gapLinesHeld = 0;
    std::uint64_t m_dropsSeen = 0; // sequencing thread only: kernel drops at the last new numbering

    std::atomic<std::uint64_t> m_datagrams{0};
    std::atomic<std::uint64_t> m_payloadBytes{0};
    std::atomic<std::uint64_t> m_late{0};
    std::atomic<std::uint64_t> m_invalid{0};
    std::atomic<std::uint64_t> m_fecInvalid{0}; // malformed before the merge; the decoder counts its own
    std::atomic<std::uint64_t> m_missing{0};
    std::atomic<std::uint64_t> m_tooLate{0};
    std::atomic<std::uint64_t> m_oversized{0};
    std::atomic<std::uint64_t> m_restarts{0};
    std::atomic<std::uint64_t> m_overflowDrops{0};
    std::atomic<std::uint64_t> m_rtpInUdpMode{0};
    std::atomic<std::uint64_t> m_kernelDrops{0};
    std::atomic<std::uint64_t> m_transportDrops{0};
    std::atomic<std::uint64_t> m_reordered{0};
    std::atomic<std::uint64_t> m_duplicates{0};

    // MDI: the meter and the arrival-order sequence state belong to the receive thread.
    CMdiMeter m_mdiMeter;
    std::atomic<double> m_mdiRateBps{0.0};
    bool m_seqKnown = false;
    std::uint16_t m_seqHighest = 0; // the highest number seen
    std::uint32_t m_seqSsrc = 0;
    std::uint64_t m_seqSeen = 0; // bit k: number m_seqHighest - k has arrived
    mutable std::mutex m_mdiLock;
    Mdi m_mdiShown;                // guarded by m_mdiLock
    std::int64_t m_mdiShownNs = 0; // guarded by m_mdiLock: steady clock of the last second's end
};
