#include "common/CEventLog.h"

#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <thread>

using namespace std::chrono_literals;

namespace
{
using Clock = std::chrono::system_clock;

//! A clock the test moves by hand, starting at 2026-12-07 05:30:00 UTC.
struct ManualClock
{
    Clock::time_point now = Clock::from_time_t(1'796'621'400);
    CEventLog::Clock Get()
    {
        return [this] { return now; };
    }
};

std::string ReadText(const std::string& path)
{
    const auto bytes = tstest::ReadFile(path);
    return {bytes.begin(), bytes.end()};
}

//! An environment variable set (or, with nullptr, unset) for the length of one test.
struct ScopedEnv
{
    ScopedEnv(const char* variable, const char* value) : name(variable), had(std::getenv(variable) != nullptr)
    {
        saved = had ? std::getenv(variable) : "";
        Set(value);
    }
    ~ScopedEnv() { Set(had ? saved.c_str() : nullptr); }
    void Set(const char* value) const
    {
        value ? ::setenv(name, value, 1) : ::unsetenv(name);
        ::tzset(); // for TZ
    }
    const char* name;
    bool had;
    std::string saved;
};
} // namespace

TEST(CEventLogTest, EntriesGoToMemoryAndFileWithTimeStamps)
{
    const ScopedEnv utc("TZ", "UTC"); // time stamps in UTC
    tstest::TempDir dir;
    ManualClock clock;
    CEventLog log(3);
    log.SetClock(clock.Get());
    const std::string path = dir.File("state/orvane/events.log"); // folders are created
    ASSERT_TRUE(log.OpenFile(path)) << log.FileError();

    log.Add(CEventLog::Kind::Status, "Playing");
    clock.now += 1'250ms;
    log.Add(CEventLog::Kind::SequenceJump, "RTP sequence 12 after 9: 2 missing");
    log.Add(CEventLog::Kind::RingSwitch, "Recording rec-1.ts");
    log.Add(CEventLog::Kind::Error, "Write error");

    // Memory keeps the last three, the file keeps everything.
    const auto entries = log.Entries();
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries.front().text, "RTP sequence 12 after 9: 2 missing");
    EXPECT_EQ(log.AddedCount(), 4u);
    EXPECT_EQ(ReadText(path), "2026-12-07 05:30:00.000  Status    Playing\n"
                              "2026-12-07 05:30:01.250  Sequence  RTP sequence 12 after 9: 2 missing\n"
                              "2026-12-07 05:30:01.250  Ring      Recording rec-1.ts\n"
                              "2026-12-07 05:30:01.250  Error     Write error\n");

    // A second session appends.
    CEventLog again;
    again.SetClock(clock.Get());
    ASSERT_TRUE(again.OpenFile(path));
    again.Add(CEventLog::Kind::Device, "Found 10.0.0.5");
    EXPECT_NE(ReadText(path).find("Error     Write error\n2026-12-07 05:30:01.250  Device    Found 10.0.0.5\n"),
              std::string::npos);
}

TEST(CEventLogTest, FloodIsCountedAndTheCountLogged)
{
    ManualClock clock;
    CEventLog log;
    log.SetClock(clock.Get());
    for (int i = 0; i < CEventLog::kBurstPerSecond + 30; ++i)
        log.Add(CEventLog::Kind::SequenceJump, "jump " + std::to_string(i));
    // Other kinds are not held back by the flood.
    log.Add(CEventLog::Kind::Status, "Stopped");
    EXPECT_EQ(log.Entries().size(), static_cast<std::size_t>(CEventLog::kBurstPerSecond + 1));
    EXPECT_EQ(log.SuppressedCount(), 30u);

    clock.now += 1s;
    log.Add(CEventLog::Kind::SequenceJump, "jump after");
    const auto entries = log.Entries();
    ASSERT_GE(entries.size(), 2u);
    EXPECT_EQ(entries[entries.size() - 2].text, "30 more Sequence events not logged");
    EXPECT_EQ(entries.back().text, "jump after");
}

TEST(CEventLogTest, UnwritableFileKeepsTheLogInMemory)
{
    tstest::TempDir dir;
    tstest::WriteFile(dir.File("blocker"), {1});
    CEventLog log;
    EXPECT_FALSE(log.OpenFile(dir.File("blocker/events.log")));
    EXPECT_FALSE(log.FileError().empty());
    log.Add(CEventLog::Kind::Error, "still kept");
    EXPECT_EQ(log.Entries().size(), 1u);
}

TEST(CEventLogTest, FullFileRotatesAndAFailedRotationIsReported)
{
    ManualClock clock;
    tstest::TempDir dir;
    const std::string path = dir.File("events.log");
    CEventLog log;
    log.SetClock(clock.Get());
    ASSERT_TRUE(log.OpenFile(path));
    const std::string text(64 * 1024, 'x');
    const auto fill = [&] {
        for (std::uint64_t bytes = 0; bytes <= CEventLog::kMaxFileBytes; bytes += text.size())
        {
            clock.now += 1s; // below the flood limit
            log.Add(CEventLog::Kind::Status, text);
        }
    };
    fill();
    EXPECT_TRUE(std::filesystem::exists(path + ".1"));
    EXPECT_LT(std::filesystem::file_size(path), CEventLog::kMaxFileBytes);
    EXPECT_TRUE(log.FileError().empty());

    // A folder where the old file should go: the log goes on, and says why it grows.
    std::filesystem::remove(path + ".1");
    std::filesystem::create_directories(path + ".1/kept");
    fill();
    EXPECT_NE(log.FileError().find("cannot rotate"), std::string::npos) << log.FileError();
    log.Add(CEventLog::Kind::Error, "after");
    EXPECT_EQ(log.Entries().back().text, "after");
    EXPECT_GT(std::filesystem::file_size(path), CEventLog::kMaxFileBytes);
}

TEST(CEventLogTest, DefaultPathFollowsXdgStateHome)
{
    const ScopedEnv state("XDG_STATE_HOME", "/var/tmp/state");
    const ScopedEnv home("HOME", "/home/engineer");
    EXPECT_EQ(CEventLog::DefaultPath(), "/var/tmp/state/orvane/events.log");
    state.Set("relative/state"); // not absolute: ignored
    EXPECT_EQ(CEventLog::DefaultPath(), "/home/engineer/.local/state/orvane/events.log");
    state.Set(nullptr);
    EXPECT_EQ(CEventLog::DefaultPath(), "/home/engineer/.local/state/orvane/events.log");
}

TEST(CEventLogTest, ThreadsAddWithoutLosingEntries)
{
    CEventLog log(10'000);
    std::atomic<std::int64_t> tick{0};
    // Every entry in its own second, so that no flood limit applies.
    log.SetClock([&tick] { return Clock::time_point(std::chrono::seconds(tick.fetch_add(1))); });
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&log] {
            for (int i = 0; i < 500; ++i)
                log.Add(CEventLog::Kind::Device, "event");
        });
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(std::make_pair(log.AddedCount(), log.Entries().size()), std::make_pair(2'000ul, 2'000ul));
}
