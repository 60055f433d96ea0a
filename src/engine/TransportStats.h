#pragma once
//! @file TransportStats.h
//! What a connection-oriented transport under the stream (SRT; RIST later)
//! tells about its link: state, connections and the library's own figures.
//! Shown by the CLI status line, its JSON lines and its metrics; the GUI can
//! show the same. Plain UDP has none (valid false).
//!
//! Counters are cumulative since the transport was opened, over every
//! connection; rates, RTT and buffer are those of the current connection.

#include <cstdint>
#include <string>

struct TransportStats
{
    enum class State : std::uint8_t
    {
        Idle,       //!< not opened
        Connecting, //!< a caller (or rendezvous) tries to connect
        Listening,  //!< a listener waits for its peer
        Connected,
        Failed, //!< the peer refused the connection for a reason retrying cannot cure
    };

    bool valid = false;    //!< a transport is in use: the fields below mean something
    std::string transport; //!< "srt"
    State state = State::Idle;
    std::string peer;              //!< the peer's address:port while connected
    std::string lastError;         //!< why the last attempt failed or the last connection broke; empty: none
    std::uint64_t connections = 0; //!< connections made
    std::uint64_t reconnects = 0;  //!< connections made after a broken one (connections - 1, at least 0)
    double rttMs = 0.0;            //!< round-trip time
    double sendRateMbps = 0.0;
    double receiveRateMbps = 0.0;
    std::uint64_t packetsSent = 0;     //!< packets the transport sent (first copies and retransmissions)
    std::uint64_t packetsReceived = 0; //!< packets the transport received
    std::uint64_t retransmitted = 0;   //!< packets sent again after a loss report
    std::uint64_t lost = 0;            //!< packets found missing (a retransmission may still bring them)
    //! Packets given up for good: too late to play out (receiver), too late to
    //! send or unacknowledged when the link broke (sender). This is loss.
    std::uint64_t dropped = 0;
    std::int32_t latencyMs = 0;        //!< the latency agreed with the peer
    double bufferMs = 0.0;             //!< stream time held in the receive (or send) buffer
    std::uint64_t sendBufferBytes = 0; //!< bytes in the send buffer, not yet acknowledged

    //! The link's part of a status line (orvane-cli's and the tabs'): state,
    //! peer, RTT, rates, retransmitted, lost, dropped, buffer, reconnects; while
    //! not connected the last error. Empty when not valid.
    std::string StatusText() const;

    static const char* StateName(State state)
    {
        switch (state)
        {
        case State::Idle:
            return "idle";
        case State::Connecting:
            return "connecting";
        case State::Listening:
            return "listening";
        case State::Connected:
            return "connected";
        case State::Failed:
            return "failed";
        }
        return "";
    }
};
