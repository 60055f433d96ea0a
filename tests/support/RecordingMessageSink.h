#pragma once
//! @file RecordingMessageSink.h
//! Keeps every message the core shows, from any thread, for the test to read;
//! with @p holdOtherThreads, a message from another thread (a reader) holds
//! that thread until Release, as a window that does not answer would.

#include "common/IMessageSink.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tstest
{
class RecordingMessageSink final : public IMessageSink
{
public:
    explicit RecordingMessageSink(bool holdOtherThreads = false) : m_release(!holdOtherThreads) {}
    void ShowMessage(const std::string& text) override
    {
        std::unique_lock lock(m_lock);
        m_messages.push_back(text);
        if (std::this_thread::get_id() != m_owner)
            m_released.wait_for(lock, std::chrono::seconds(10), [this] { return m_release; });
    }
    std::vector<std::string> Messages()
    {
        std::lock_guard lock(m_lock);
        return m_messages;
    }
    void Release()
    {
        std::lock_guard lock(m_lock);
        m_release = true;
        m_released.notify_all();
    }

private:
    const std::thread::id m_owner = std::this_thread::get_id();
    std::mutex m_lock;
    std::condition_variable m_released;
    bool m_release;
    std::vector<std::string> m_messages;
};
} // namespace tstest
