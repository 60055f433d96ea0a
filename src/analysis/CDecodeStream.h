#pragma once
//! @file CDecodeStream.h
//! The stream analysis library: packet size and sync, PCR bit rate, PSI/SI,
//! per-PID statistics and the Program and PID trees; while playing, the
//! adaptations (PCR, PTS/DTS and continuity restamping, TDT/TOT rewriting)
//! applied in place on the bytes about to be sent.
//!
//! Threads: InsertStreamData and CopyStreamData run on the reader or record
//! thread, UpdateDisplay on the window thread; callers take no lock, the
//! object guards its own state. The public data below are atomics for that reason.

#include "analysis/CAnalysisSnapshot.h"

#include <atomic>
#include <cstdint>
#include <string>

class ITreeSink;

//! The analysis state that callers read and write directly.
struct CAnalysisState
{
    std::atomic<double> m_bitRate{0.0};         //!< measured PCR bit rate, bit/s; 0 = no PCR
    std::atomic<std::int32_t> m_pcrSeen{0};     //!< non-zero once a PCR was found
    std::atomic<std::int32_t> m_pcrRestamp{0};  //!< PCR restamp flags, written together
    std::atomic<std::int32_t> m_pcrRestamp2{0}; //!< (the second PCR restamp flag)
    std::atomic<std::int32_t> m_ccRestamp{0};   //!< continuity-counter restamp flag
    std::atomic<std::int32_t> m_totTdtEnable{0};
    std::atomic<std::int32_t> m_totTdtTimeType{0}; //!< 0 file time, 1 current time, 2 specified time
    std::atomic<std::int64_t> m_totTdtOffset{0};   //!< seconds, signed
    std::atomic<std::int64_t> m_fileTotTdtTime{0}; //!< first TDT/TOT time of the file, s since 1970
};

class CDecodeStream
{
public:
    CDecodeStream();
    virtual ~CDecodeStream();
    CDecodeStream(const CDecodeStream&) = delete;
    CDecodeStream& operator=(const CDecodeStream&) = delete;

    //! Trees that UpdateDisplay fills; the sinks outlive this object or are reset to null.
    void SetPidTree(ITreeSink* tree);
    void SetProgTree(ITreeSink* tree);

    //! Forgets held-over bytes (thread start, each jump, each end of a play range).
    void ResetStreamData();
    //! Clears the PID list and/or the program list (non-zero = clear).
    void ResetListData(int pidList, int progList);
    //! Consumes one chunk. May move @p data back into the @p headroom bytes in
    //! front of it (the unfinished packet of the previous chunk goes first) and
    //! change @p length; while playing, adapts the bytes in place. The range
    //! [data, data + length) on return is what is sent or written: once the packets
    //! are found it ends on a packet boundary, and the unfinished packet (at most
    //! 203 bytes) is kept here for the next call. Give the same headroom every time
    //! (at least 204 bytes; a call with less cannot take the kept bytes back).
    //! @return 1 when the chunk was analysed, 0 when not (empty, or the lock timed out).
    int InsertStreamData(unsigned char*& data, long& length, long headroom);
    //! Keeps the unfinished end of this chunk for the next one; called right
    //! after InsertStreamData with the buffer start twice. Result not used.
    int CopyStreamData(unsigned char* destination, long headroom, unsigned char* source);
    //! Number of bytes after the last whole packet of @p data.
    int LocateLastPacketInData(unsigned char* data, long length, int packetSize);

    //! Restamping rebased at a jump (called in this order after ResetStreamData);
    //! @p offset is the new file offset minus the range start, in bytes.
    void ResetPCRRestamp();
    void ResetPTSDTSRestamp(std::int64_t offset);
    void ResetFirstPCR();
    //! The stream restarts at the range start (after ResetStreamData).
    void SetLoop();
    //! Bytes that left outside InsertStreamData (+, the stuffing bursts) or that
    //! were written but dropped before sending (-, the FIFO emptied at a jump):
    //! the restamping then follows the bytes really sent.
    void AddOutputBytes(std::int64_t bytes);
    //! Bytes of the play's output so far, as the restamping counts them.
    std::int64_t OutputPosition();

    //! Refreshes the PID tree and/or the program tree (non-zero = refresh).
    void UpdateDisplay(int pidTree, int progTree);

    //! The analysis state this object points to.
    CAnalysisState& State() { return m_state; }

    //! Everything the analysis knows now (programs, PIDs, counters); any thread.
    CAnalysisSnapshot TakeSnapshot();
    //! TR 101 290 PID_error: how long a PID listed in a PMT may be absent, seconds (default 5).
    void SetPidTimeout(double seconds);
    //! Digit grouping used in the trees; the user's locale separator by default.
    void SetThousandsSeparator(std::string separator);

    std::atomic<std::int32_t> m_packetSize{0};        //!< 188 or 204; 0 = none found
    std::atomic<std::int32_t> m_firstPacketOffset{0}; //!< bytes before the first packet
    std::atomic<std::int32_t> m_syncLoss{0};          //!< sync losses; callers write 0 to reset
    std::atomic<double> m_playBitRate{0.0};           //!< written at play start

private:
    CAnalysisState m_state;
    struct Impl;
    Impl* m_impl = nullptr;
};
