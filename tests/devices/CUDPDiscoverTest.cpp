// CUDPDiscover and CUDPReset against sockets on loopback only: a fake device
// that answers, and hand-made hostile replies from chosen 127/8 addresses.

#include "devices/CUDPDiscover.h"

#include "devices/CDiscoverProtocol.h"
#include "devices/CUDPReset.h"
#include "support/LoopbackPeer.h"
#include "support/WaitFor.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>

#include <atomic>
#include <vector>

using tstest::kLoopback;
using tstest::LoopbackPeer;
using tstest::TestRecord;
using tstest::WaitFor;

TEST(CUDPDiscover, RequestReachesTheTargetAndTheAnswerIsListed)
{
    CUDPDiscover discover(kLoopback);
    LoopbackPeer device(0x7F000002u);
    ASSERT_TRUE(device.Valid());
    discover.SetTargets({0x7F000002u}, device.Port());
    ASSERT_TRUE(discover.SendDiscoverPacket());

    sockaddr_in from{};
    const auto request = device.Receive(2'000, &from);
    EXPECT_EQ(request, (std::vector<std::uint8_t>{'O', 'R', 'V', 'D', 1, 1, 0, 0}));
    EXPECT_EQ(ntohs(from.sin_port), discover.GetLocalPort());
    EXPECT_EQ(discover.GetCounters().requestsSent, 1u);

    device.Announce(discover.GetLocalPort(), TestRecord(0x7F000002u, 42));
    ASSERT_TRUE(WaitFor([&] { return discover.GetDevices().size() == 1; }));
    EXPECT_EQ(CDiscoverProtocol::GetSerial(discover.GetDevices()[0]), 42u);

    // A repeated answer refreshes the entry in place: new serial, still one row.
    device.Announce(discover.GetLocalPort(), TestRecord(0x7F000002u, 43));
    ASSERT_TRUE(WaitFor([&] { return discover.GetCounters().announcements == 2; }));
    ASSERT_EQ(discover.GetDevices().size(), 1u);
    EXPECT_EQ(CDiscoverProtocol::GetSerial(discover.GetDevices()[0]), 43u);
}

TEST(CUDPDiscover, HostileRepliesAreIgnoredAndCounted)
{
    CUDPDiscover discover(kLoopback);
    const auto port = discover.GetLocalPort();
    LoopbackPeer peer(0x7F000002u);
    const auto good = CDiscoverProtocol::MakeAnnounce(TestRecord(0x7F000002u, 7));
    std::vector<std::uint8_t> goodBytes(good.begin(), good.end());

    peer.Send(port, std::vector<std::uint8_t>(goodBytes.begin(), goodBytes.begin() + 20)); // truncated
    auto oversizedValid = goodBytes;
    oversizedValid.resize(1500, 0);
    peer.Send(port, oversizedValid); // a valid prefix does not make it valid
    auto wrongVersion = goodBytes;
    wrongVersion[4] = 2;
    peer.Send(port, wrongVersion);
    const auto request = CDiscoverProtocol::MakeHeader(CDiscoverProtocol::kTypeDiscover);
    peer.Send(port, std::vector<std::uint8_t>(request.begin(), request.end())); // a request is not an answer
    // Records naming another address than the sender's, or no usable address at all.
    for (std::uint32_t bogus : {0x7F000009u, 0u, 0xE0000001u})
        peer.Announce(port, TestRecord(bogus, 99));

    ASSERT_TRUE(WaitFor([&] {
        const auto c = discover.GetCounters();
        return c.ignoredShort + c.ignoredOversized + c.ignoredForeign + c.ignoredAddress == 7;
    }));
    auto c = discover.GetCounters();
    EXPECT_EQ(c.ignoredShort, 1u);
    EXPECT_EQ(c.ignoredOversized, 1u);
    EXPECT_EQ(c.ignoredForeign, 2u); // version 2, a request
    EXPECT_EQ(c.ignoredAddress, 3u);
    EXPECT_EQ(c.announcements, 0u);
    EXPECT_TRUE(discover.GetDevices().empty());

    // The socket is still healthy: a proper answer afterwards is listed.
    peer.Send(port, goodBytes);
    ASSERT_TRUE(WaitFor([&] { return discover.GetDevices().size() == 1; }));
    EXPECT_EQ(CDiscoverProtocol::GetSerial(discover.GetDevices()[0]), 7u);
}

TEST(CUDPDiscover, SilentDevicesAreDroppedAfterFifteenSeconds)
{
    std::atomic<std::int64_t> nowNs{1'000'000'000};
    CUDPDiscover discover(kLoopback, [&] { return nowNs.load(); });
    LoopbackPeer a(0x7F000002u);
    LoopbackPeer b(0x7F000003u);
    a.Announce(discover.GetLocalPort(), TestRecord(0x7F000002u, 2));
    ASSERT_TRUE(WaitFor([&] { return discover.GetDevices().size() == 1; }));
    nowNs += 10'000'000'000; // 10 s later b appears
    b.Announce(discover.GetLocalPort(), TestRecord(0x7F000003u, 3));
    ASSERT_TRUE(WaitFor([&] { return discover.GetDevices().size() == 2; }));

    nowNs += 4'999'000'000; // a silent for 14.999 s
    EXPECT_EQ(discover.GetDevices().size(), 2u);
    nowNs += 1'000'000; // 15 s
    ASSERT_EQ(discover.GetDevices().size(), 1u);
    EXPECT_EQ(CDiscoverProtocol::GetSerial(discover.GetDevices()[0]), 3u);
    // The receive thread also removes it from the list itself.
    EXPECT_TRUE(WaitFor([&] { return discover.GetCounters().expired == 1; }));

    // A device that comes back is listed again, at the end.
    a.Announce(discover.GetLocalPort(), TestRecord(0x7F000002u, 2));
    ASSERT_TRUE(WaitFor([&] { return discover.GetDevices().size() == 2; }));
    EXPECT_EQ(CDiscoverProtocol::GetSerial(discover.GetDevices()[1]), 2u);
}

TEST(CUDPReset, SendsTheResetRequestToTheDevice)
{
    LoopbackPeer device(0x7F000002u);
    CUDPReset reset;
    reset.SetPort(device.Port());
    ASSERT_TRUE(reset.SendResetPacket(inet_addr("127.0.0.2")));
    EXPECT_EQ(device.Receive(), (std::vector<std::uint8_t>{'O', 'R', 'V', 'D', 1, 3, 0, 0}));
    EXPECT_TRUE(reset.LastError().empty());
    // No device has these addresses: nothing is sent to everyone or to nobody, and the reason is told.
    EXPECT_FALSE(reset.SendResetPacket(0));
    EXPECT_EQ(reset.LastError(), "not a device address");
    EXPECT_FALSE(reset.SendResetPacket(0xFFFFFFFFu));
    // A refused send names the system's reason (port 0 is no destination).
    reset.SetPort(0);
    EXPECT_FALSE(reset.SendResetPacket(inet_addr("127.0.0.2")));
    EXPECT_FALSE(reset.LastError().empty());
    EXPECT_NE(reset.LastError(), "not a device address");
}
