#pragma once
//! @file CTimerSlack.h
//! Scoped timer slack of the calling thread: the Linux stand-in for raising the
//! system timer resolution to 1 ms. The default slack of 50 us would let the
//! kernel coalesce the pacing wake-ups; a low slack keeps them punctual.
//! The previous slack is restored when the object goes out of scope.

#include <cstdint>

class CTimerSlack
{
public:
    explicit CTimerSlack(std::uint64_t slackNs = 1'000);
    ~CTimerSlack();
    CTimerSlack(const CTimerSlack&) = delete;
    CTimerSlack& operator=(const CTimerSlack&) = delete;

    //! Requests the slack again if something changed it (cheap; called now and then).
    void Refresh();
    static std::uint64_t Current();

private:
    std::uint64_t m_saved;
    std::uint64_t m_wanted;
};
