// CUdpIOCPClient: a datagram's arrival time is when the kernel received it
// (SO_TIMESTAMPNS), not when the receive thread got round to reading it.

#include "engine/CUdpIOCPClient.h"

#include "LoopbackStream.h"

#include <gtest/gtest.h>

#include <atomic>
#include <ctime>

namespace
{
std::int64_t RealtimeNs()
{
    timespec t{};
    clock_gettime(CLOCK_REALTIME, &t);
    return std::int64_t{t.tv_sec} * 1'000'000'000 + t.tv_nsec;
}

// Gives its one record only when told: until then datagrams wait in the kernel queue.
class CHeldClient : public CUdpIOCPClient
{
public:
    DvbIpRecvBuffer* GetFreeBuffer() override { return m_give.exchange(false) ? &m_record : nullptr; }
    void OnReceive(DvbIpRecvBuffer* record) override
    {
        m_readNs.store(RealtimeNs());
        m_arrivalNs.store(record->m_arrivalNs);
    }
    std::atomic<bool> m_give{false};
    std::atomic<std::int64_t> m_arrivalNs{0}, m_readNs{0};

private:
    std::uint8_t m_memory[2'048]{};
    DvbIpRecvBuffer m_record{0, m_memory, sizeof m_memory};
};
} // namespace

TEST(CUdpIOCPClientTest, ArrivalTimeIsTheKernelsReceiveStamp)
{
    constexpr std::int64_t kHeldNs = 300'000'000;
    const std::uint16_t port = tstest::FreePort();
    CHeldClient client;
    ASSERT_TRUE(client.Open(port)) << client.LastError();
    // The first socket to ask for stamps turns them on for the system a moment
    // later (deferred work); until then the kernel stamps at the read.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    loopback::Sender sender(port);
    const std::int64_t sentNs = RealtimeNs();
    sender.Send(loopback::Payload(0));
    std::this_thread::sleep_for(std::chrono::nanoseconds(kHeldNs));
    client.m_give.store(true);
    ASSERT_TRUE(tstest::WaitFor([&] { return client.m_arrivalNs.load() != 0; }));
    EXPECT_NEAR(static_cast<double>(client.m_arrivalNs.load() - sentNs), 0.0, 50e6);
    EXPECT_GE(client.m_readNs.load() - client.m_arrivalNs.load(), kHeldNs - 50'000'000);
    EXPECT_TRUE(client.Close());
}
