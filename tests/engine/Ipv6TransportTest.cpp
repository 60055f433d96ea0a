// IPv6 in both directions, engine to engine, inside a private network
// namespace (tstest::PrivateNetwork): unicast to ::1, multicast to an ff15::
// group over a veth pair with MLDv2 source filters, the multicast options of
// the send socket, and errors that name their cause.

#include "DvbIpRecvTestSupport.h"
#include "LoopbackStream.h"
#include "SenderFeed.h"
#include "engine/CDvbIpRecvThread.h"
#include "engine/CNetworkSender.h"
#include "engine/CUdpIOCPSocket.h"
#include "support/PrivateNetwork.h"
#include "support/WaitFor.h"

#include <gtest/gtest.h>

#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <string>

namespace
{
using Pacing = CNetworkSender::PacingMode;
using tstest::PrivateNetwork;

constexpr std::uint32_t kDatagrams = 100;

CNetAddress Host(const char* text, std::uint16_t port = 0)
{
    CNetAddress a;
    EXPECT_TRUE(CNetAddress::ParseHost(text, a, port)) << text;
    return a;
}

void RunInPrivateNetwork(const std::function<void()>& body)
{
    const std::string error = PrivateNetwork::Run(body);
    ASSERT_TRUE(error.empty()) << error;
}
} // namespace

TEST(Ipv6TransportTest, EveryPacingDeliversEachDatagramToUnicastAndToGroupsWithTheirSourceFilter)
{
    const struct
    {
        const char* destination;
        const char* group; // "": unicast
        const char* source;
        Pacing pacing;
        bool delivered;
    } cases[] = {
        {"::1", "", "", Pacing::Thread, true},
        {"::1", "", "", Pacing::Uring, true},
        {"::1", "", "", Pacing::Burst, true},       // one segmentation offload send per batch
        {"127.0.0.1", "", "", Pacing::Burst, true}, // the dual-stack socket takes IPv4 too
        {"ff15::1", "ff15::1", "", Pacing::Thread, true},
        {"ff15::1", "ff15::1", PrivateNetwork::kSenderAddress, Pacing::Burst, true},
        {"ff15::1", "ff15::1", "fd00:6::99", Pacing::Thread, false}, // another source: filtered out
    };
    RunInPrivateNetwork([&] {
        std::uint16_t port = 5'000;
        for (const auto& c : cases)
        {
            const std::string label = std::string(c.destination) + " group " + c.group + " source " + c.source +
                                      " pacing " + CNetworkSender::PacingName(c.pacing);
            ++port;
            CDvbIpRecvThread r;
            r.SetPort(port);
            r.SetRtp(true);
            r.SetDiagnostics(nullptr);
            CDvbIpRecvThread::Membership m;
            if (*c.group != '\0')
            {
                m.group = Host(c.group);
                m.interfaceName = PrivateNetwork::kReceiverInterface;
            }
            if (*c.source != '\0')
                m.source = Host(c.source);
            r.SetMembership(m);
            ASSERT_TRUE(r.Start()) << label << ": " << r.LastError();

            CNetworkSender s;
            ASSERT_TRUE(s.SetRate(5'000'000, 188));
            s.SetDestination(Host(c.destination, port), true);
            s.SetMulticast(2, 0);
            s.SetMulticastInterfaceIndex(if_nametoindex(PrivateNetwork::kSenderInterface));
            s.SetPacing(c.pacing);
            ASSERT_TRUE(s.Open()) << label << ": " << s.GetOpenError();
            if (s.GetPacingNote().empty())
            {
                EXPECT_EQ(s.GetPacingInUse(), c.pacing) << label;
            }
            senderfeed::Feed(s, kDatagrams * loopback::kPacketsPerDatagram);
            EXPECT_TRUE(tstest::WaitFor([&] { return s.IsDrained(); }, std::chrono::seconds(5))) << label;
            EXPECT_EQ(s.GetDatagramsNotSent(), 0u) << label;
            if (!c.delivered)
                std::this_thread::sleep_for(std::chrono::milliseconds(200));
            EXPECT_TRUE(!c.delivered || loopback::WaitDatagrams(r, kDatagrams)) << label;
            s.Stop();
            const auto bytes = recvtest::Finish(r);
            EXPECT_EQ(loopback::Serials(bytes),
                      c.delivered ? loopback::Expected(0, kDatagrams) : std::vector<std::int64_t>{})
                << label;
        }
    });
}

TEST(Ipv6TransportTest, AGroupLeavesWithTheHopLimitOnTheInterfaceChosen)
{
    RunInPrivateNetwork([] {
        const unsigned v0 = if_nametoindex(PrivateNetwork::kSenderInterface);
        const auto option = [](const CUdpIOCPSocket& s, int name) {
            int value = -1;
            socklen_t length = sizeof value;
            EXPECT_EQ(getsockopt(s.NativeHandle(), IPPROTO_IPV6, name, &value, &length), 0);
            return value;
        };
        CUdpIOCPSocket byIndex;
        byIndex.SetMulticast(7, 0);
        byIndex.SetMulticastInterfaceIndex(v0);
        ASSERT_TRUE(byIndex.Create(Host("ff15::1", 5'000))) << std::strerror(byIndex.GetCreateError());
        EXPECT_EQ(option(byIndex, IPV6_MULTICAST_HOPS), 7);
        EXPECT_EQ(option(byIndex, IPV6_MULTICAST_IF), static_cast<int>(v0));

        // The tab names the interface by its IPv4 address: an IPv6 group leaves on that interface.
        CUdpIOCPSocket byAddress;
        byAddress.SetMulticast(300, PrivateNetwork::kSenderIpv4); // the hop limit is kept to 255
        ASSERT_TRUE(byAddress.Create(5'000, "ff15::1")) << std::strerror(byAddress.GetCreateError());
        EXPECT_EQ(option(byAddress, IPV6_MULTICAST_HOPS), 255);
        EXPECT_EQ(option(byAddress, IPV6_MULTICAST_IF), static_cast<int>(v0));

        CUdpIOCPSocket nowhere;
        nowhere.SetMulticast(1, 0xC6336401); // 198.51.100.1: on no interface
        EXPECT_FALSE(nowhere.Create(Host("ff15::1", 5'000)));
        EXPECT_EQ(nowhere.GetCreateError(), ENODEV);
    });
}

// A destination without a route: ipv6-cli-test.sh.
TEST(Ipv6TransportTest, ErrorsNameTheMissingInterfaceAndTheWrongGroup)
{
    RunInPrivateNetwork([] {
        const struct
        {
            const char* group;
            const char* source;
            const char* interfaceName;
            const char* error;
        } cases[] = {
            {"fd00:6::1", "", "", "group address fd00:6::1 is not a multicast address"},
            {"ff15::1", "10.0.0.1", "", "source 10.0.0.1 and group ff15::1 are not of one family (IPv4, IPv6)"},
            {"ff15::1", "", "no-such-if9", "interface no-such-if9: No such device"},
            {"ff15::1", "fd00:6::1", PrivateNetwork::kReceiverAddress, ""}, // by the interface's IPv6 address
        };
        for (const auto& c : cases)
        {
            CDvbIpRecvThread r;
            r.SetPort(5'000);
            r.SetRtp(true);
            CDvbIpRecvThread::Membership m;
            m.group = Host(c.group);
            if (*c.source != '\0')
                m.source = Host(c.source);
            m.interfaceName = c.interfaceName;
            r.SetMembership(m);
            EXPECT_EQ(r.Start(), *c.error == '\0') << c.group;
            EXPECT_EQ(r.LastError(), c.error) << c.group;
            r.Stop();
        }
    });
}
