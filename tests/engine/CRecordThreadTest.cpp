#include "engine/CRecordThread.h"

#include "LoopbackStream.h"
#include "analysis/CDecodeStream.h"
#include "engine/CDvbIpRecvThread.h"
#include "support/RecordingMessageSink.h"

#include <gtest/gtest.h>

#include <sys/resource.h>

#include <cerrno>
#include <csignal>
#include <filesystem>
#include <iterator>
#include <thread>

using namespace loopback;
namespace fs = std::filesystem;

namespace
{
class RecordTest : public ReceiverTest
{
protected:
    void SetUp() override
    {
        ReceiverTest::SetUp();
        m_recorder.SetAnalysis(&m_analysis);
        m_recorder.SetAnalyzerEnabled(true);
    }
    void TearDown() override { m_recorder.Close(); }
    std::vector<std::int64_t> FileSerials(const std::vector<std::string>& names)
    {
        std::vector<std::uint8_t> all;
        for (const auto& n : names)
            std::ranges::copy(ReadFile(n), std::back_inserter(all));
        return Serials(all);
    }

    tstest::RecordingMessageSink m_sink;
    CDecodeStream m_analysis;
    CRecordThread m_recorder{&m_receiver, &m_sink};
};
} // namespace

TEST_F(RecordTest, RingRotationPutsEveryByteInExactlyOneFileAndOverwritesTheOldest)
{
    const std::string base = m_dir + "/ring.ts";
    Sender s(m_port);
    ASSERT_TRUE(m_recorder.Open(0, base));
    std::uint32_t next = 0;
    for (int index : {1, 2})
    {
        s.SendUdp(next, 900);
        next += 900;
        ASSERT_TRUE(WaitDatagrams(m_receiver, next - 50));
        ASSERT_TRUE(m_recorder.RotateTo(index, base));
        EXPECT_TRUE(tstest::WaitFor([&] { return !m_recorder.IsRotationPending(); }, std::chrono::seconds(2)));
        EXPECT_EQ(m_recorder.GetFileName(), CRecordThread::FormName(index, base));
    }
    s.SendUdp(next, 900);
    next += 900;
    ASSERT_TRUE(WaitDatagrams(m_receiver, next - 50));
    m_recorder.Close();
    const std::vector<std::string> names = {m_dir + "/ring-0.ts", m_dir + "/ring-1.ts", m_dir + "/ring-2.ts"};
    EXPECT_EQ(FileSerials(names), Expected(0, next)) << "nothing lost or doubled between files";
    for (const auto& n : names)
        EXPECT_EQ(fs::file_size(n) % kPacketBytes, 0u) << n << " holds whole packets";

    // A new lap: index 0 is written again from the start.
    ASSERT_TRUE(m_recorder.Open(0, base));
    s.SendUdp(next, 100);
    ASSERT_TRUE(WaitDatagrams(m_receiver, 100 - 50));
    m_recorder.Close();
    EXPECT_EQ(FileSerials({names[0]}), Expected(next, 100));
}

TEST_F(RecordTest, StopDuringRotationKeepsEveryByte)
{
    const std::string base = m_dir + "/stop.ts";
    Sender s(m_port);
    ASSERT_TRUE(m_recorder.Open(0, base));
    s.SendUdp(0, 1'000);
    ASSERT_TRUE(WaitDatagrams(m_receiver, 1'000 - 50));
    ASSERT_TRUE(m_recorder.RotateTo(1, base));
    m_recorder.Close();
    m_recorder.Close();
    std::vector<std::string> names = {m_dir + "/stop-0.ts"};
    if (fs::exists(m_dir + "/stop-1.ts"))
        names.push_back(m_dir + "/stop-1.ts");
    EXPECT_EQ(FileSerials(names), Expected(0, 1'000));
    EXPECT_FALSE(m_recorder.RotateTo(1, base)) << "no rotation without a recording";
}

TEST_F(RecordTest, FullDiskEndsTheRecordingWithAClearReportKeepsWhatWasWrittenAndTheNextRunStartsClean)
{
    // A file size limit stands in for a full disk: writes past it fail with EFBIG.
    rlimit old{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
    auto* oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = old;
    small.rlim_cur = 3 * 1'048'576;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);

    const std::string file = m_dir + "/full.ts";
    ASSERT_TRUE(m_recorder.Open(-1, file));
    Sender s(m_port);
    s.SendUdp(0, 4'000); // 5.3 MB
    EXPECT_TRUE(tstest::WaitFor([&] { return m_recorder.HasFailed(); }, std::chrono::seconds(5)));
    EXPECT_FALSE(m_recorder.IsFileOpen());
    m_recorder.Close();
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);

    const std::string failure = m_recorder.GetFailureText();
    EXPECT_EQ(m_sink.Messages(), std::vector{failure});
    EXPECT_NE(failure.find("Recording stopped: writing to " + file + " failed (File too large)"), std::string::npos)
        << failure;
    const auto serials = FileSerials({file});
    ASSERT_GT(serials.size(), 0u);
    EXPECT_LE(fs::file_size(file), small.rlim_cur);
    const auto expected = Expected(0, 4'000);
    // Intact: exactly the beginning of the stream (the last packet may be cut).
    const auto whole = fs::file_size(file) / kPacketBytes;
    EXPECT_EQ(std::vector<std::int64_t>(serials.begin(), serials.begin() + static_cast<std::ptrdiff_t>(whole)),
              std::vector<std::int64_t>(expected.begin(), expected.begin() + static_cast<std::ptrdiff_t>(whole)));

    // The failure belonged to that run: monitoring afterwards starts clean,
    // and turns into a recording that keeps every packet.
    ASSERT_TRUE(m_recorder.Start(""));
    EXPECT_EQ(std::make_pair(m_recorder.HasFailed(), m_recorder.GetFailureText()),
              std::make_pair(false, std::string()));
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    EXPECT_EQ(std::make_pair(m_recorder.GetState(), m_recorder.IsRunning()),
              std::make_pair(CRecordThread::kMonitoring, true));
    const std::string after = m_dir + "/after.ts";
    ASSERT_TRUE(m_recorder.Open(-1, after));
    EXPECT_EQ(m_recorder.GetState(), CRecordThread::kRecording);
    s.SendUdp(5'000, 300);
    ASSERT_TRUE(WaitDatagrams(m_receiver, 250));
    m_recorder.Close();
    EXPECT_EQ(FileSerials({after}), Expected(5'000, 300));
}

TEST_F(RecordTest, FileThatCannotBeCreatedNamesThePathAndTheReasonAndChangesNothing)
{
    const std::string missing = m_dir + "/no/such/dir/x.ts";
    EXPECT_FALSE(m_recorder.Open(-1, missing));
    fs::create_directory(m_dir + "/adir");
    EXPECT_FALSE(m_recorder.Open(-1, m_dir + "/adir"));
    EXPECT_EQ(m_sink.Messages(),
              (std::vector<std::string>{"File could not be opened.\n" + missing + ": No such file or directory.",
                                        "File could not be opened.\n" + m_dir + "/adir is not a regular file."}));
    EXPECT_EQ(m_recorder.GetState(), CRecordThread::kStopped);
    EXPECT_FALSE(m_receiver.IsReceiving()) << "the receiver started for it is stopped again";
}

TEST(CRecordThreadText, InUseOnlyWhereTrue)
{
    using F = CUnbufferedFile::CreateFailure;
    const std::string inUse = CRecordThread::kOpenFailedText;
    // A lock held by another recorder: SecondRecorderIsRefused...; a missing folder: FileThatCannotBeCreated...
    EXPECT_EQ(CRecordThread::OpenFailureText("/r/a.ts", F::System, ETXTBSY), inUse + "\n/r/a.ts: Text file busy.");
    EXPECT_EQ(CRecordThread::OpenFailureText("/r/a.ts", F::System, EROFS),
              "File could not be opened.\n/r/a.ts: Read-only file system.");
}

TEST_F(RecordTest, RecordThatCannotStartKeepsTheFileItNamed)
{
    // Port taken, no group, or a group on an interface that does not exist: the
    // receiver says why, nothing runs, and the file named keeps every byte.
    const std::string file = m_dir + "/keep.ts";
    tstest::WriteFile(file, std::vector<std::uint8_t>(5'000, 0x47));
    const struct
    {
        std::uint32_t group;
        const char* interfaceName;
        const char* error;
    } cases[] = {{0, "", "bind to port"},
                 {0x0A00'0001, "", "not a multicast address"}, // 10.0.0.1
                 {0xEFFF'4D03, "no-such-if0", "interface no-such-if0"}};
    CDvbIpRecvThread other;
    other.SetPort(m_port);
    ASSERT_TRUE(other.Start());
    for (const auto& c : cases)
    {
        CDvbIpRecvThread::Membership m;
        if (c.group != 0)
            m.group = CNetAddress::FromIpv4(c.group);
        m.interfaceName = c.interfaceName;
        m_receiver.SetMembership(m);
        EXPECT_FALSE(m_recorder.Open(-1, file)) << c.error;
        EXPECT_NE(m_recorder.ReceiverError().find(c.error), std::string::npos) << m_recorder.ReceiverError();
        EXPECT_FALSE(m_receiver.IsReceiving()) << c.error;
        other.Stop(); // the port is free for the cases after the first
    }
    EXPECT_EQ(fs::file_size(file), 5'000u);
    EXPECT_TRUE(m_sink.Messages().empty()) << "the receiver's error is the caller's to show";
}

TEST_F(RecordTest, SecondRecorderIsRefusedTheFileTheFirstWritesAndTheFirstKeepsEverything)
{
    const std::string file = m_dir + "/live.ts";
    ASSERT_TRUE(m_recorder.Open(-1, file));
    Sender s(m_port);
    s.SendUdp(0, 500);
    CDvbIpRecvThread secondReceiver;
    secondReceiver.SetPort(FreePort());
    tstest::RecordingMessageSink secondSink;
    CRecordThread second(&secondReceiver, &secondSink);
    EXPECT_FALSE(second.Open(-1, file));
    EXPECT_EQ(secondSink.Messages(), std::vector{std::string(CRecordThread::kOpenFailedText) + "\n" + file +
                                                 " is being written by another recorder."});
    EXPECT_FALSE(secondReceiver.IsReceiving());
    ASSERT_TRUE(WaitDatagrams(m_receiver, 450));
    m_recorder.Close();
    EXPECT_EQ(FileSerials({file}), Expected(0, 500));
    EXPECT_FALSE(m_recorder.HasFailed());
}
