#pragma once
//! @file IDatagramOutput.h
//! Another way out for the paced sender than its UDP socket: a transport (SRT)
//! that carries each datagram unit (seven packets) as one message. Pacing stays
//! the sender's: the datagrams arrive here at the stream's rate.
//!
//! While the transport has no peer (IsReady false) the sender holds its
//! schedule as in a pause: nothing is taken from the FIFO, nothing is lost.
//! Datagrams the transport had taken and gives up (too late, or not
//! acknowledged when the link broke) count as failed, as refused UDP sends do.
//!
//! Threads: Open and Close on the owner's thread (from CNetworkSender::Open
//! and Stop); Send, Flush, HasRoom, GetPendingSends and IsDelivered on the
//! play-out thread; the counters, IsReady and GetStats from any thread.

#include "engine/TransportStats.h"

#include <cstdint>
#include <string>

class IDatagramOutput
{
public:
    virtual ~IDatagramOutput() = default;

    //! Starts the transport (a listener takes its port now, a caller begins
    //! connecting). @return false when it cannot start; GetOpenError says why.
    virtual bool Open() = 0;
    virtual std::string GetOpenError() const = 0;
    //! Ends the transport; datagrams still waiting here are discarded.
    virtual void Close() = 0;

    //! A peer takes datagrams now.
    virtual bool IsReady() const = 0;
    //! True when another datagram can be queued.
    virtual bool HasRoom() const = 0;
    //! Queues one datagram of @p length bytes (a datagram unit, or the stream's
    //! shorter last one). @return false when no room is left (nothing queued).
    virtual bool Send(const std::uint8_t* data, std::uint32_t length) = 0;
    //! Hands what waits here to the transport as far as it takes it.
    virtual void Flush() = 0;
    //! Datagrams waiting here because the transport's buffer is full (the busy measure).
    virtual std::int32_t GetPendingSends() const = 0;
    //! Nothing waits here and the transport holds nothing unacknowledged.
    virtual bool IsDelivered() const = 0;

    //! Datagrams (and their bytes) the transport gave up since construction: lost.
    virtual std::uint64_t GetDatagramsFailed() const = 0;
    virtual std::uint64_t GetPayloadBytesFailed() const = 0;
    //! errno that best names the last loss (ECONNRESET: the link broke); 0 when none.
    virtual int GetLastError() const = 0;
    //! A refusal retrying cannot cure (wrong passphrase, stream id rejected): the play must end.
    virtual bool HasFailed() const = 0;

    virtual TransportStats GetStats() const = 0;
};
