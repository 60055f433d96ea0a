// SRT: the URL form, a loopback caller/listener pair through the sender and
// the receiver, reconnection, and the errors that name their cause.

#include "engine/CDvbIpRecvThread.h"
#include "engine/CNetworkSender.h"
#include "engine/CSrtInput.h"
#include "engine/CSrtLink.h"
#include "engine/CSrtOutput.h"
#include "engine/CSrtSettings.h"
#include "engine/SenderFeed.h"
#include "support/LoopbackPeer.h"
#include "support/TsPackets.h"
#include "support/WaitFor.h"

#include <gtest/gtest.h>

#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

namespace
{
using Mode = CSrtSettings::Mode;

CSrtSettings Settings(Mode mode, std::uint16_t port, const std::string& passphrase = "",
                      const std::string& streamId = "")
{
    CSrtSettings s;
    s.mode = mode;
    s.host = mode == Mode::Listener ? "" : "127.0.0.1";
    s.port = port;
    s.passphrase = passphrase;
    s.streamId = streamId;
    return s;
}

//! A sink of its own records for a CSrtInput without a receiver: keeps every message.
class CCollector
{
public:
    IDatagramInput::Sink Sink()
    {
        const auto free = [this] {
            std::lock_guard lock(m_lock);
            return &m_records.emplace_back(0, m_data.emplace_back(1'532).data(), 1'532);
        };
        const auto take = [this](DvbIpRecvBuffer* r) {
            std::lock_guard lock(m_lock);
            m_messages.emplace_back(r->m_data, r->m_data + r->m_length);
        };
        return {free, take, [](std::uint32_t) {}, [](DvbIpRecvBuffer*) {}};
    }
    std::vector<std::vector<std::uint8_t>> Messages()
    {
        std::lock_guard lock(m_lock);
        return m_messages;
    }

private:
    std::mutex m_lock;
    std::deque<std::vector<std::uint8_t>> m_data;
    std::deque<DvbIpRecvBuffer> m_records;
    std::vector<std::vector<std::uint8_t>> m_messages;
};
} // namespace

TEST(CSrtSettingsTest, ParsesTheUrlsSrtLiveTransmitTakes)
{
    struct Case
    {
        const char* url;
        Mode mode;
        const char* host;
        std::uint16_t port;
        std::int32_t latencyMs;
        const char* passphrase;
        std::int32_t keyLength;
        const char* streamId;
    };
    const Case cases[] = {
        {"srt://10.0.0.1:9000", Mode::Caller, "10.0.0.1", 9000, 120, "", 0, ""},
        {"srt://:9000", Mode::Listener, "", 9000, 120, "", 0, ""},
        {"srt://:9000?mode=caller&latency=200", Mode::Caller, "", 0, 0, "", 0, ""}, // refused below: no host
        {"srt://127.0.0.1:9000?mode=listener&latency=0", Mode::Listener, "127.0.0.1", 9000, 0, "", 0, ""},
        {"srt://peer.example:1234?mode=rendezvous", Mode::Rendezvous, "peer.example", 1234, 120, "", 0, ""},
        {"srt://[::1]:9000?mode=client&passphrase=0123456789&pbkeylen=32", Mode::Caller, "::1", 9000, 120, "0123456789",
         32, ""},
        {"srt://h:1/?mode=server&streamid=%23!::r=live%26m=publish", Mode::Listener, "h", 1, 120, "", 0,
         "#!::r=live&m=publish"},
        {"srt://h:1?transtype=live&conntimeo=500&port=5001&", Mode::Caller, "h", 1, 120, "", 0, ""},
    };
    for (const Case& c : cases)
    {
        CSrtSettings s;
        std::string error;
        const bool ok = CSrtSettings::Parse(c.url, s, error);
        if (c.port == 0)
        {
            EXPECT_FALSE(ok) << c.url;
            continue;
        }
        ASSERT_TRUE(ok) << c.url << ": " << error;
        EXPECT_EQ(std::tie(s.mode, s.host, s.port, s.latencyMs, s.passphrase, s.keyLength, s.streamId),
                  std::make_tuple(c.mode, std::string(c.host), c.port, c.latencyMs, std::string(c.passphrase),
                                  c.keyLength, std::string(c.streamId)))
            << c.url;
    }
    CSrtSettings s;
    std::string error;
    ASSERT_TRUE(CSrtSettings::Parse("srt://[::1]:9000?passphrase=0123456789&streamid=a", s, error));
    EXPECT_EQ(s.ToDisplayUrl(), "srt://[::1]:9000?mode=caller&latency=120&passphrase=***&streamid=a");
}

TEST(CSrtSettingsTest, RefusalsSayWhatIsWrong)
{
    const std::pair<const char*, const char*> cases[] = {
        {"udp://1.2.3.4:5", "not an SRT URL: expected srt://HOST:PORT?OPTIONS"},
        {"srt://host", "no port in \"srt://host\": expected srt://HOST:PORT or srt://:PORT"},
        {"srt://host:0", "bad port \"0\": expected 1-65535"},
        {"srt://host:70000", "bad port \"70000\": expected 1-65535"},
        {"srt://::1:9000", "bad address \"::1\": an IPv6 address goes in brackets, [ADDR]:PORT"},
        {"srt://[::1]9000", "bad address \"[::1]9000\": expected [IPv6]:PORT"},
        {"srt://h:1?mode=push", "bad mode \"push\": expected caller, listener or rendezvous"},
        {"srt://h:1?latency=-5", "bad latency \"-5\": expected 0-60000 ms"},
        {"srt://h:1?latency=1e3", "bad latency \"1e3\": expected 0-60000 ms"},
        {"srt://h:1?passphrase=short", "bad passphrase: SRT needs 10 to 79 characters, this one has 5"},
        {"srt://h:1?pbkeylen=20&passphrase=0123456789", "bad pbkeylen \"20\": expected 16, 24 or 32"},
        {"srt://h:1?pbkeylen=16", "pbkeylen needs a passphrase"},
        {"srt://h:1?streamid=%zz", "bad option \"streamid=%zz\": expected KEY=VALUE"},
        {"srt://h:1?latency", "bad option \"latency\": expected KEY=VALUE"},
        {"srt://h:1?transtype=file", "bad transtype \"file\": only live carries a transport stream in time"},
        {"srt://h:1?maxbw=0",
         "unknown option \"maxbw\": known are mode, latency, passphrase, pbkeylen, streamid, conntimeo, port, "
         "transtype"},
        {"srt://:1?port=2", "port= is the local port of a caller or rendezvous; a listener's is in srt://:PORT"},
        {"srt://:1?mode=rendezvous", "a rendezvous needs the peer's address: srt://HOST:PORT"},
    };
    for (const auto& [url, text] : cases)
    {
        CSrtSettings s;
        s.port = 7;
        std::string error;
        EXPECT_FALSE(CSrtSettings::Parse(url, s, error)) << url;
        EXPECT_EQ(error, text) << url;
        EXPECT_EQ(s.port, 7) << url << ": settings changed by a refused URL";
    }
}

// A listener that goes away and comes back: the caller notices the break,
// connects again on its own and the stream goes on; the break is counted.
TEST(CSrtTest, CallerReconnectsAfterTheListenerRestarts)
{
    const std::uint16_t port = tstest::FreePort();
    CSrtOutput output(Settings(Mode::Caller, port));
    CCollector first;
    auto listener = std::make_unique<CSrtInput>(Settings(Mode::Listener, port));
    ASSERT_TRUE(listener->Open(first.Sink())) << listener->LastError();
    ASSERT_TRUE(output.Open());
    ASSERT_TRUE(tstest::WaitFor([&] { return output.IsReady(); }));
    const auto packets = tstest::MakePackets(7 * 20);
    const auto sendDatagram = [&](std::size_t i) {
        EXPECT_TRUE(output.Send(packets.data() + i * 1'316, 1'316));
        output.Flush();
    };
    for (std::size_t i = 0; i < 10; ++i)
        sendDatagram(i);
    ASSERT_TRUE(tstest::WaitFor([&] { return first.Messages().size() == 10; }));
    // Acknowledged before the break (SRT acknowledges every 10 ms): nothing counts as lost.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    ASSERT_TRUE(listener->Close(std::chrono::seconds(2)));
    listener.reset();
    EXPECT_TRUE(tstest::WaitFor([&] { return !output.IsReady(); }));
    // The break, or (on a slow machine, a retry later) why the next attempt failed: either names the peer.
    const std::string broken = output.GetStats().lastError;
    EXPECT_NE(broken.find("127.0.0.1:" + std::to_string(port)), std::string::npos) << broken;

    CCollector second;
    listener = std::make_unique<CSrtInput>(Settings(Mode::Listener, port));
    ASSERT_TRUE(listener->Open(second.Sink())) << listener->LastError();
    ASSERT_TRUE(tstest::WaitFor([&] { return output.IsReady(); }));
    for (std::size_t i = 10; i < 20; ++i)
        sendDatagram(i);
    ASSERT_TRUE(tstest::WaitFor([&] { return second.Messages().size() == 10; }));
    const auto got = second.Messages();
    for (std::size_t i = 0; i < 10; ++i)
        EXPECT_TRUE(std::equal(got[i].begin(), got[i].end(), packets.begin() + (10 + i) * 1'316,
                               packets.begin() + (11 + i) * 1'316));
    const TransportStats stats = output.GetStats();
    EXPECT_EQ(std::tie(stats.connections, stats.reconnects, stats.state),
              std::make_tuple(2ull, 1ull, TransportStats::State::Connected));
    EXPECT_FALSE(output.HasFailed());
    EXPECT_EQ(output.GetDatagramsFailed(), 0u);
    output.Close();
}

// What a user gets told: a wrong passphrase, a rejected stream id and a port
// in use end with their cause; a time-out is retried with its cause shown.
TEST(CSrtTest, ErrorsNameTheirCause)
{
    const std::uint16_t port = tstest::FreePort();
    CCollector sink;
    CSrtInput listener(Settings(Mode::Listener, port, "the-right-passphrase", "cam1"));
    ASSERT_TRUE(listener.Open(sink.Sink())) << listener.LastError();
    const std::string peer = "SRT caller to 127.0.0.1:" + std::to_string(port) + ": ";

    const std::tuple<const char*, const char*, const char*> refused[] = {
        {"a-wrong-passphrase", "cam1", "wrong passphrase: the peer's passphrase is another one (SRT_REJ_BADSECRET)"},
        {"", "cam1", "passphrase mismatch: one side has a passphrase, the other none (SRT_REJ_UNSECURE)"},
        {"the-right-passphrase", "cam2", "the peer rejected the stream id \"cam2\": no such stream (code 1404)"},
    };
    for (const auto& [passphrase, streamId, text] : refused)
    {
        CSrtOutput caller(Settings(Mode::Caller, port, passphrase, streamId));
        ASSERT_TRUE(caller.Open());
        ASSERT_TRUE(tstest::WaitFor([&] { return caller.HasFailed(); })) << text;
        EXPECT_EQ(caller.GetLinkError(), peer + text);
        EXPECT_EQ(caller.GetStats().state, TransportStats::State::Failed);
    }

    // The sender says why it cannot open: another program has the port.
    tstest::LoopbackPeer other;
    CSrtOutput taken(Settings(Mode::Listener, other.Port()));
    CNetworkSender sender;
    ASSERT_TRUE(sender.SetRate(1'000'000, 188));
    sender.SetOutput(&taken);
    EXPECT_FALSE(sender.Open());
    EXPECT_EQ(sender.GetOpenError(),
              "SRT listener: port " + std::to_string(other.Port()) + " is in use by another program");
    sender.Stop();

    // Nobody answers: no failure, the caller goes on trying and says why.
    CSrtSettings quiet = Settings(Mode::Caller, tstest::FreePort());
    quiet.connectTimeoutMs = 200;
    CSrtOutput nobody(quiet);
    ASSERT_TRUE(nobody.Open());
    ASSERT_TRUE(tstest::WaitFor([&] { return !nobody.GetLinkError().empty(); }));
    EXPECT_EQ(nobody.GetLinkError(), "SRT caller to 127.0.0.1:" + std::to_string(quiet.port) +
                                         ": connection timed out: no answer from the peer (SRT_REJ_TIMEOUT)");
    EXPECT_FALSE(nobody.HasFailed());
    EXPECT_EQ(nobody.GetStats().state, TransportStats::State::Connecting);
    listener.Close(std::chrono::seconds(2));
}

// What an input's transport gives up reaches the receiver's counters and its
// loss flag; its datagrams go the UDP way, in arrival order, RTP or not.
TEST(CSrtTest, TransportLossIsCountedByTheReceiver)
{
    class CFakeInput final : public IDatagramInput
    {
    public:
        bool Open(Sink sink) override
        {
            m_sink = std::move(sink);
            return true;
        }
        bool Close(std::chrono::milliseconds) override { return true; }
        std::string LastError() const override { return ""; }
        bool HasFailed() const override { return false; }
        TransportStats GetStats() const override { return {}; }
        Sink m_sink;
    } input;
    CDvbIpRecvThread receiver;
    receiver.SetRtp(true); // not for another input: its datagrams are the stream as they come
    receiver.SetInput(&input);
    ASSERT_TRUE(receiver.Start());
    const auto packets = tstest::MakePackets(14);
    for (std::size_t i = 0; i < 2; ++i)
    {
        DvbIpRecvBuffer* record = input.m_sink.getFree();
        ASSERT_NE(record, nullptr);
        std::copy(packets.begin() + i * 1'316, packets.begin() + (i + 1) * 1'316, record->m_data);
        record->m_length = 1'316;
        input.m_sink.receive(record);
        if (i == 0)
            input.m_sink.lost(3);
    }
    receiver.StopReceiving();
    std::vector<std::uint8_t> got(packets.size());
    std::uint32_t n = 0;
    ASSERT_TRUE(receiver.ReadAvailable(got.data(), static_cast<std::uint32_t>(got.size()), n));
    got.resize(n);
    EXPECT_TRUE(got == packets);
    const auto c = receiver.GetCounters();
    EXPECT_EQ(std::tie(c.transportDrops, c.invalid), std::make_tuple(3ull, 0ull));
    EXPECT_NE(receiver.GetStatus() & CDvbIpRecvThread::kStatusOverflow, 0u);
    receiver.Stop();
}
