#pragma once
//! @file ISendHealth.h
//! What the play controller reads about the network side of a play: the
//! sender's health flags and the datagrams the kernel refused. The network
//! sender gives them by default; tests put in their own values.
//! Called on the owner's thread (the window thread or the CLI loop).

#include <cstdint>

class ISendHealth
{
public:
    virtual ~ISendHealth() = default;
    //! Busy, underflow and timer flags (CNetworkSender::StatusFlag).
    virtual std::uint32_t StatusFlags() = 0;
    //! Datagrams the kernel refused since the play began (never sent).
    virtual std::uint64_t DatagramsNotSent() = 0;
    //! errno of the last refused send; 0 when none was refused.
    virtual int LastSendError() = 0;
};
