#pragma once
//! @file FakeSendHealth.h
//! Network status values that a test sets by hand, for the play controller
//! (what a firewall rule or a lost route would make the sender report).

#include "engine/ISendHealth.h"

#include <cstdint>

class FakeSendHealth : public ISendHealth
{
public:
    std::uint32_t StatusFlags() override { return flags; }
    std::uint64_t DatagramsNotSent() override { return notSent; }
    int LastSendError() override { return error; }

    std::uint32_t flags = 0;
    std::uint64_t notSent = 0;
    int error = 0;
};
