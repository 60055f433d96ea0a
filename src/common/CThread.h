#pragma once
//! @file CThread.h
//! A named worker thread with a best-effort priority. Whoever owns a CThread
//! joins it before destruction; the destructor joins as a last resort.

#include "common/CEvent.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>

//! Thread priorities, mapped best-effort onto Linux scheduling: Highest and
//! TimeCritical ask for SCHED_FIFO, AboveNormal for a lower nice value. A refused
//! request leaves the thread at normal priority; it never makes Start fail.
enum class ThreadPriority
{
    Normal,
    AboveNormal,
    Highest,
    TimeCritical,
};

class CThread
{
public:
    CThread() = default;
    ~CThread();
    CThread(const CThread&) = delete;
    CThread& operator=(const CThread&) = delete;

    //! Starts @p body on a new thread named @p name (at most 15 characters are kept).
    //! @return false when a thread is already running or cannot be created.
    bool Start(const std::string& name, ThreadPriority priority, std::function<void()> body);

    //! Waits up to @p timeout for the body to return, then joins.
    //! @return true when the thread has ended (or none was started).
    bool Join(std::chrono::milliseconds timeout);

    bool IsStarted() const { return m_thread.joinable(); }
    //! True once the body has returned.
    bool IsFinished() const { return m_finished.load(std::memory_order_acquire); }

    //! Applies @p priority to the calling thread; true when the request was granted.
    static bool SetCurrentPriority(ThreadPriority priority);

private:
    std::thread m_thread;
    std::atomic<bool> m_finished{false};
    CEvent m_exited;
};
