#pragma once
//! @file CTimedMutex.h
//! A mutex whose waits time out (the 1,000 ms mutex waits of the engine).
//! Meets the TimedLockable requirements, so std::unique_lock(m, timeout) works.
//! Built on std::mutex and a condition variable rather than std::timed_mutex,
//! whose clock-based locking the thread sanitizer of our compiler cannot follow.

#include <chrono>
#include <condition_variable>
#include <mutex>

class CTimedMutex
{
public:
    CTimedMutex() = default;
    CTimedMutex(const CTimedMutex&) = delete;
    CTimedMutex& operator=(const CTimedMutex&) = delete;

    void lock()
    {
        std::unique_lock guard(m_mutex);
        m_free.wait(guard, [this] { return !m_locked; });
        m_locked = true;
    }

    bool try_lock()
    {
        std::lock_guard guard(m_mutex);
        if (m_locked)
            return false;
        m_locked = true;
        return true;
    }

    template<class Rep, class Period> bool try_lock_for(const std::chrono::duration<Rep, Period>& timeout)
    {
        return try_lock_until(std::chrono::steady_clock::now() + timeout);
    }

    template<class Clock, class Duration> bool try_lock_until(const std::chrono::time_point<Clock, Duration>& deadline)
    {
        std::unique_lock guard(m_mutex);
        if (!m_free.wait_until(guard, deadline, [this] { return !m_locked; }))
            return false;
        m_locked = true;
        return true;
    }

    void unlock()
    {
        {
            std::lock_guard guard(m_mutex);
            m_locked = false;
        }
        m_free.notify_one();
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_free;
    bool m_locked = false;
};
