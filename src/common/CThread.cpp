#include "common/CThread.h"

#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdio>
#include <system_error>

CThread::~CThread()
{
    // Last resort: the owner should have joined already. Joining here keeps
    // the body from running on after its owner is gone.
    if (m_thread.joinable())
        m_thread.join();
}

bool CThread::Start(const std::string& name, ThreadPriority priority, std::function<void()> body)
{
    if (m_thread.joinable())
        return false;
    m_finished.store(false, std::memory_order_release);
    m_exited.Reset();
    try
    {
        m_thread = std::thread([this, name, priority, fn = std::move(body)] {
            pthread_setname_np(pthread_self(), name.substr(0, 15).c_str());
            SetCurrentPriority(priority);
            fn();
            m_finished.store(true, std::memory_order_release);
            m_exited.Set();
        });
    }
    catch (const std::system_error&)
    {
        return false;
    }
    return true;
}

bool CThread::Join(std::chrono::milliseconds timeout)
{
    if (!m_thread.joinable())
        return true;
    if (!IsFinished() && !m_exited.Wait(timeout))
        return false;
    m_thread.join();
    return true;
}

bool CThread::SetCurrentPriority(ThreadPriority priority)
{
    switch (priority)
    {
    case ThreadPriority::Normal:
        return true;
    case ThreadPriority::AboveNormal: {
        const auto tid = static_cast<id_t>(syscall(SYS_gettid));
        return setpriority(PRIO_PROCESS, tid, -5) == 0;
    }
    case ThreadPriority::Highest:
    case ThreadPriority::TimeCritical: {
        // Low real-time priorities: above every normal thread, below the
        // kernel's own threads. The kernel's RT throttling keeps a fault from
        // freezing the machine.
        sched_param param{};
        param.sched_priority = priority == ThreadPriority::TimeCritical ? 20 : 10;
        if (pthread_setschedparam(pthread_self(), SCHED_FIFO, &param) == 0)
            return true;
        const auto tid = static_cast<id_t>(syscall(SYS_gettid));
        return setpriority(PRIO_PROCESS, tid, -10) == 0;
    }
    }
    return false;
}
