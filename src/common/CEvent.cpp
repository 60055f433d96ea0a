#include "common/CEvent.h"

void CEvent::Set()
{
    {
        std::lock_guard lock(m_mutex);
        m_signalled = true;
    }
    m_cond.notify_one();
}

void CEvent::Reset()
{
    std::lock_guard lock(m_mutex);
    m_signalled = false;
}

bool CEvent::Wait(std::chrono::nanoseconds timeout)
{
    std::unique_lock lock(m_mutex);
    if (!m_cond.wait_for(lock, timeout, [this] { return m_signalled; }))
        return false;
    m_signalled = false;
    return true;
}
