#pragma once
//! @file CTxTimeProbe.h
//! Whether the kernel can space a play's datagrams by itself: the socket takes
//! SO_TXTIME and the root queueing discipline of the interface its datagrams
//! leave by honours departure times (fq on the monotonic clock; etf on TAI,
//! which the sender's times are shifted into). The qdiscs come from rtnetlink
//! (RTM_GETQDISC): sysfs does not show them. A multi-queue root (mq) counts
//! when every queue under it has fq or etf.

#include <cstdint>
#include <string>
#include <vector>

class CTxTimeProbe
{
public:
    struct Result
    {
        bool available = false;
        int clockId = 0;    //!< the clock the qdisc wants (CLOCK_MONOTONIC or CLOCK_TAI)
        std::string qdisc;  //!< the root qdisc's kind ("fq", "etf", "noqueue", ...)
        std::string device; //!< the outgoing interface
        std::string reason; //!< why not, when not available
    };

    //! Looks at the interface the connected UDP socket @p socketFd sends from.
    static Result Probe(int socketFd);
    //! The interface with the local address of @p socketFd; empty when none.
    static std::string OutgoingDevice(int socketFd);
    //! The kinds of the qdiscs of @p ifIndex: root first, then the children of
    //! a multi-queue root; empty when rtnetlink does not answer.
    static std::vector<std::string> QdiscKinds(int ifIndex);
};
