// The reader or record thread feeds while the window thread refreshes the trees
// and resets the sync-loss count: no lock on the callers' side (ThreadSanitizer job).
#include "AnalysisTestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

TEST(CDecodeStreamThreadTest, FeedingAndDisplayRunConcurrently)
{
    CTsGeneratorConfig config = SmallStream(188, 4);
    config.bitRate = 3'000'000;
    config.durationSeconds = 1;
    config.garbageEvery = 500;
    config.garbageBytes = 9;
    const auto stream = GenerateStream(config);

    CDecodeStream decoder;
    CRecordingSink pids, programs;
    decoder.SetPidTree(&pids);
    decoder.SetProgTree(&programs);
    std::atomic<bool> done{false};
    std::atomic<int> refreshes{0};
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    std::thread feeder([&] {
        // Loop over the stream until the window thread has refreshed a few times.
        for (int loop = 0; (loop < 4 || refreshes < 5) && std::chrono::steady_clock::now() < deadline; ++loop)
        {
            FeedFixed(decoder, stream, 65536, 4096);
            decoder.ResetStreamData(); // end of the range: loop
            decoder.SetLoop();
        }
        done = true;
    });
    while (!done && std::chrono::steady_clock::now() < deadline + std::chrono::seconds(1))
    {
        decoder.UpdateDisplay(1, 1);
        (void)decoder.m_packetSize.load();
        (void)decoder.State().m_bitRate.load();
        decoder.m_syncLoss = 0;
        ++refreshes;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    feeder.join();
    ASSERT_TRUE(done.load());
    decoder.UpdateDisplay(1, 1);
    EXPECT_EQ(programs.m_roots.size(), 4u);
    EXPECT_NEAR(decoder.State().m_bitRate.load(), 3'000'000.0, 30'000.0);
}
