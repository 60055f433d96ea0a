#include "engine/CRecordController.h"

#include "LoopbackStream.h"
#include "engine/CDvbIpRecvThread.h"
#include "engine/CRecordThread.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

using namespace loopback;
namespace fs = std::filesystem;

namespace
{
class ControllerTest : public ReceiverTest
{
protected:
    void TearDown() override { m_controller.Stop(); }
    //! Records into @p name in the test's folder, with a ring of @p loopCount files (0: no ring).
    CRecordController::Settings Set(const std::string& name, std::int32_t size, CRecordController::SizeUnit unit,
                                    std::int32_t loopCount)
    {
        CRecordController::Settings s;
        s.outputFile = m_dir + "/" + name;
        s.recordingSize = size;
        s.sizeUnit = unit;
        s.loopEnabled = loopCount > 0;
        if (s.loopEnabled)
            s.loopCount = loopCount;
        m_controller.SetSettings(s);
        return s;
    }

    CRecordThread m_recorder{&m_receiver};
    CRecordController m_controller{m_recorder, m_receiver};
};
} // namespace

TEST_F(ControllerTest, SecondsLimitEndsTheRecordingAfterTheLimitHasPassed)
{
    const auto s = Set("t.ts", 10, CRecordController::kSeconds, 0);
    const std::uint32_t t0 = 4'294'960'000u; // the tick count wraps during the recording
    ASSERT_TRUE(m_controller.StartRecord(t0));
    EXPECT_EQ(m_controller.Tick(t0 + 10'000), CRecordController::Event::None) << "10.0 s is not past the limit";
    EXPECT_EQ(m_controller.GetProgress(), 100);
    EXPECT_EQ(m_controller.Tick(t0 + 10'099), CRecordController::Event::None) << "no new tenth";
    EXPECT_EQ(m_controller.Tick(t0 + 10'100), CRecordController::Event::LimitStopped);
    EXPECT_EQ(m_recorder.GetState(), CRecordThread::kStopped);
    EXPECT_TRUE(fs::exists(s.outputFile));
}

TEST_F(ControllerTest, ZeroSecondsCountsAsOneAndLoopRotatesOverTheRing)
{
    Set("r.ts", 0, CRecordController::kSeconds, 2);
    ASSERT_TRUE(m_controller.StartRecord(0));
    EXPECT_EQ(m_recorder.GetFileName(), m_dir + "/r-0.ts");
    std::uint32_t now = 0;
    for (int expectedIndex : {1, 0, 1})
    {
        EXPECT_EQ(m_controller.Tick(now + 1'000), CRecordController::Event::None);
        EXPECT_EQ(m_controller.Tick(now + 1'100), CRecordController::Event::Rotated);
        now += 1'100;
        EXPECT_EQ(m_controller.GetFileIndex(), expectedIndex);
        tstest::WaitFor([&] { return !m_recorder.IsRotationPending(); }, std::chrono::seconds(2));
        EXPECT_EQ(m_recorder.GetFileName(), m_dir + "/r-" + std::to_string(expectedIndex) + ".ts");
    }
    m_controller.Stop();
    EXPECT_TRUE(fs::exists(m_dir + "/r-0.ts"));
    EXPECT_TRUE(fs::exists(m_dir + "/r-1.ts"));
    EXPECT_FALSE(fs::exists(m_dir + "/r-2.ts"));
}

TEST_F(ControllerTest, MegabyteLimitRotatesOnceTheFileIsPastIt)
{
    Set("m.ts", 1, CRecordController::kMegabytes, 3);
    ASSERT_TRUE(m_controller.StartRecord(0));
    Sender sender(m_port);
    sender.SendUdp(0, 1'000); // 1.3 MB: one whole block (just over 1 MiB) reaches the file
    std::uint32_t now = 0;
    auto event = CRecordController::Event::None;
    for (int i = 0; i < 300 && event == CRecordController::Event::None; ++i)
    {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        now += 100;
        event = m_controller.Tick(now);
    }
    EXPECT_EQ(event, CRecordController::Event::Rotated);
    EXPECT_EQ(m_controller.GetFileIndex(), 1);
    tstest::WaitFor([&] { return !m_recorder.IsRotationPending(); }, std::chrono::seconds(2));
    m_controller.Stop();
    const auto a = ReadFile(m_dir + "/m-0.ts");
    const auto b = ReadFile(m_dir + "/m-1.ts");
    EXPECT_GE(a.size(), m_recorder.GetBlockBytes()) << "the first file ends after its first block past 1 MiB";
    EXPECT_LT(a.size(), m_recorder.GetBlockBytes() + kPacketBytes);
    EXPECT_EQ(a.size() % kPacketBytes, 0u) << "ring files hold whole packets";
    std::vector<std::uint8_t> all(a);
    all.insert(all.end(), b.begin(), b.end());
    EXPECT_EQ(Serials(all), Expected(0, 1'000));
}

TEST(CRecordControllerStatus, WarningsClearWithTheirCause)
{
    using C = CRecordController;
    constexpr std::uint32_t kNoData = CDvbIpRecvThread::kStatusNoData;
    constexpr std::uint32_t kOverflow = CDvbIpRecvThread::kStatusOverflow;
    constexpr std::uint32_t kShort = CDvbIpRecvThread::kStatusShortRead;
    const struct
    {
        std::uint32_t status;
        std::string previous;
        std::string expected;
    } cases[] = {
        {kNoData | kOverflow | kShort, C::kNoErrorsText, C::kNoDataText},
        {kOverflow | kShort, C::kNoErrorsText, C::kOverflowText},
        {0, C::kOverflowText, C::kNoErrorsText},
        // A slow stream leaves the short-read bit set: the warnings still clear.
        {kShort, C::kNoDataText, C::kNoErrorsText},
        {kShort, C::kOverflowText, C::kNoErrorsText},
        {kShort, C::kNoErrorsText, C::kNoErrorsText},
        {kShort, "", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(C::StatusText(c.status, c.previous), c.expected) << c.status << " after \"" << c.previous << '"';
    EXPECT_TRUE(C::IsWarning(C::kNoDataText));
    EXPECT_TRUE(C::IsWarning(C::kOverflowText));
    EXPECT_FALSE(C::IsWarning(C::kNoErrorsText));
}
