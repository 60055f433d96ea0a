#pragma once
//! @file WaitFor.h
//! A bounded wait for what another thread does: tests never wait for ever.

#include <chrono>
#include <thread>

namespace tstest
{
//! Polls @p pred until it holds; false when @p limit passes first.
template<typename Pred> bool WaitFor(Pred pred, std::chrono::milliseconds limit = std::chrono::seconds(10))
{
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!pred())
    {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}
} // namespace tstest
