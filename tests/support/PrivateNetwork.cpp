#include "support/PrivateNetwork.h"

#include "common/Ipv4Address.h"

#include <sched.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace tstest
{
std::string PrivateNetwork::Run(const std::function<void()>& body)
{
    std::string error;
    std::thread runner([&] {
        if (unshare(CLONE_NEWNET) != 0)
        {
            error = std::string("unshare(CLONE_NEWNET): ") + std::strerror(errno) + " (the IPv6 tests need root)";
            return;
        }
        // nodad: the addresses are usable at once instead of after duplicate
        // detection; the multicast route comes with the link's carrier, a moment later.
        const std::string v0 = kSenderInterface;
        const std::string v1 = kReceiverInterface;
        const std::string route = "ip -6 route show table local | grep -q 'ff00::/8 dev " + v1 + " '";
        const std::string setup = "ip link set lo up && ip link add " + v0 + " type veth peer name " + v1 +
                                  " && ip link set " + v0 + " up && ip link set " + v1 + " up && ip addr add " +
                                  kSenderAddress + "/64 dev " + v0 + " nodad && ip addr add " + kReceiverAddress +
                                  "/64 dev " + v1 + " nodad && ip addr add " + FormatIpv4(kSenderIpv4) + "/24 dev " +
                                  v0 + " && for i in $(seq 50); do " + route + " && break; sleep 0.1; done && " + route;
        // The shell is forked by this thread and so runs in its namespace.
        if (std::system(setup.c_str()) != 0)
        {
            error = "cannot set up the veth pair with the ip tool: " + setup;
            return;
        }
        body();
    });
    runner.join();
    return error;
}
} // namespace tstest
