#pragma once
//! @file CSteadyClock.h
//! The monotonic clock of the engine (CLOCK_MONOTONIC through steady_clock),
//! in nanoseconds and in 32-bit millisecond ticks. Pacing code takes a NowFn so that tests can drive time.

#include <chrono>
#include <cstdint>
#include <functional>

class CSteadyClock
{
public:
    //! Nanoseconds on the steady clock; never goes back.
    using NowFn = std::function<std::int64_t()>;

    static std::int64_t NowNs()
    {
        return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
            .count();
    }

    //! Millisecond tick count (wraps after 49.7 days; compare with unsigned differences).
    static std::uint32_t GetTickMs() { return static_cast<std::uint32_t>(NowNs() / 1'000'000); }

    static NowFn Default() { return &CSteadyClock::NowNs; }
};
