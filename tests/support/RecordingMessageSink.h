#pragma once
//! @file RecordingMessageSink.h
//! Keeps every message the core shows, from any thread, for the test to read.

#include "common/IMessageSink.h"

#include <mutex>
#include <string>
#include <vector>

namespace tstest
{
class RecordingMessageSink final : public IMessageSink
{
public:
    void ShowMessage(const std::string& text) override
    {
        std::lock_guard lock(m_lock);
        m_messages.push_back(text);
    }
    std::vector<std::string> Messages()
    {
        std::lock_guard lock(m_lock);
        return m_messages;
    }

private:
    std::mutex m_lock;
    std::vector<std::string> m_messages;
};
} // namespace tstest
