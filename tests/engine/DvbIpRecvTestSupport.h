#pragma once

#include "engine/CDvbIpRecvThread.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace recvtest
{
// Ends reception and returns everything that reached the FIFO.
inline std::vector<std::uint8_t> Finish(CDvbIpRecvThread& r)
{
    r.StopReceiving();
    std::vector<std::uint8_t> out(r.GetStored());
    std::uint32_t got = 0;
    EXPECT_TRUE(r.ReadAvailable(out.data(), static_cast<std::uint32_t>(out.size()), got));
    out.resize(got);
    r.Stop();
    return out;
}
} // namespace recvtest
