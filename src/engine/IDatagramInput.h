#pragma once
//! @file IDatagramInput.h
//! Another way in for the network receiver than its UDP port: a transport
//! (SRT) whose messages are the stream's datagrams. The input reads them on a
//! thread of its own straight into the receiver's records, exactly as the UDP
//! receive thread does, so the sequencing, the FIFO, the analysis and the
//! recording see no difference. Messages the transport gave up (too late to
//! be played out) are reported as lost.
//!
//! Threads: Open and Close on the owner's thread; the sink's functions are
//! called on the input's thread; GetStats from any thread.

#include "engine/DvbIpRecvBuffer.h"
#include "engine/TransportStats.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

class IDatagramInput
{
public:
    //! Where the messages go (the receiver).
    struct Sink
    {
        //! A record to read into, or null when none is free (then the input waits).
        std::function<DvbIpRecvBuffer*()> getFree;
        //! A filled record: m_length and m_arrivalNs set; the receiver takes it over.
        std::function<void(DvbIpRecvBuffer* record)> receive;
        //! @p datagrams messages the transport gave up for good.
        std::function<void(std::uint32_t datagrams)> lost;
        //! A record taken with getFree and not filled goes back (at the end of a run).
        std::function<void(DvbIpRecvBuffer* record)> putBack;
    };

    virtual ~IDatagramInput() = default;

    //! Starts the transport and its thread. @return false when it cannot start
    //! (a listener's port in use); LastError says why and nothing runs.
    virtual bool Open(Sink sink) = 0;
    //! Ends the thread (waiting up to @p timeout) and the transport. Harmless
    //! when not open. @return true when the thread has ended.
    virtual bool Close(std::chrono::milliseconds timeout) = 0;
    virtual std::string LastError() const = 0;
    //! A refusal retrying cannot cure (wrong passphrase, stream id rejected): the run must end.
    virtual bool HasFailed() const = 0;
    virtual TransportStats GetStats() const = 0;
};
