// The reader or record thread feeds while the window thread refreshes the trees
// and resets the sync-loss count: no lock on the callers' side (ThreadSanitizer job).
#include "AnalysisTestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

TEST(CDecodeStreamThreadTest, FeedingAndDisplayRunConcurrently)
{
    CTsGeneratorConfig config;
    config.programs = 4;
    config.bitRate = 3'000'000;
    config.durationSeconds = 1;
    config.garbageEvery = 500;
    config.garbageBytes = 9;
    config.dropEvery = 50;
    const auto stream = GenerateStream(config);

    CDecodeStream decoder;
    CRecordingSink pids, programs;
    decoder.SetPidTree(&pids);
    decoder.SetProgTree(&programs);
    std::atomic<bool> done{false};
    std::atomic<int> refreshes{0};
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);

    std::thread feeder([&] {
        std::vector<unsigned char> buffer(4096 + 65536);
        // Loop over the stream until the window thread has refreshed a few times.
        for (int loop = 0; (loop < 4 || refreshes < 5) && std::chrono::steady_clock::now() < deadline; ++loop)
        {
            for (std::size_t pos = 0; pos < stream.size(); pos += 65536)
            {
                const std::size_t chunk = std::min<std::size_t>(65536, stream.size() - pos);
                std::memcpy(buffer.data() + 4096, stream.data() + pos, chunk);
                unsigned char* data = buffer.data() + 4096;
                long length = static_cast<long>(chunk);
                if (decoder.InsertStreamData(data, length, 4096) != 0)
                    decoder.CopyStreamData(buffer.data(), 4096, buffer.data());
            }
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
    EXPECT_GE(refreshes.load(), 5);
    EXPECT_EQ(programs.m_roots.size(), 4u);
    EXPECT_GT(pids.m_roots.size(), 10u);
    EXPECT_NEAR(decoder.State().m_bitRate.load(), 3'000'000.0, 30'000.0);
}
