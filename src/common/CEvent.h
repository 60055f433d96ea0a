#pragma once
//! @file CEvent.h
//! Auto-reset event with timed waits, on a mutex and a condition variable.
//! One waiter is released per Set(); the event clears when a wait
//! consumes it.

#include <chrono>
#include <condition_variable>
#include <mutex>

class CEvent
{
public:
    CEvent() = default;
    CEvent(const CEvent&) = delete;
    CEvent& operator=(const CEvent&) = delete;

    //! Signals the event; a waiting thread (or the next one to wait) is released.
    void Set();
    //! Clears the event without releasing anyone.
    void Reset();
    //! Waits until the event is signalled or the time-out passes (steady clock).
    //! @return true when signalled (the event is cleared again), false on time-out.
    bool Wait(std::chrono::nanoseconds timeout);

private:
    std::mutex m_mutex;
    std::condition_variable m_cond;
    bool m_signalled = false;
};
