#include "engine/CTxTimeProbe.h"

#include "common/CNetAddress.h"
#include "common/CUniqueFd.h"

#include <linux/net_tstamp.h>
#include <linux/netlink.h>
#include <linux/pkt_sched.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <ctime>

namespace
{
struct Qdisc
{
    std::uint32_t handle;
    std::uint32_t parent;
    std::string kind;
};

// The rtnetlink walking macros are C: their casts are theirs.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wold-style-cast"
#pragma GCC diagnostic ignored "-Wcast-align"
std::vector<Qdisc> DumpQdiscs(int ifIndex)
{
    std::vector<Qdisc> out;
    CUniqueFd fd(socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE));
    if (!fd.Valid())
        return out;
    timeval timeout{1, 0}; // rtnetlink answers at once; never hang a start on it
    if (setsockopt(fd.Get(), SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout) != 0)
        return out; // without the time-out a silent kernel would hang the start
    struct
    {
        nlmsghdr header;
        tcmsg body;
    } request{};
    request.header.nlmsg_len = sizeof request;
    request.header.nlmsg_type = RTM_GETQDISC;
    request.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
    request.header.nlmsg_seq = 1;
    request.body.tcm_family = AF_UNSPEC;
    request.body.tcm_ifindex = ifIndex;
    if (send(fd.Get(), &request, sizeof request, 0) < 0)
        return out;
    std::array<char, 32'768> buffer{};
    for (;;)
    {
        const ssize_t got = recv(fd.Get(), buffer.data(), buffer.size(), 0);
        if (got <= 0)
            return out;
        auto length = static_cast<unsigned>(got);
        for (auto* h = reinterpret_cast<nlmsghdr*>(buffer.data()); NLMSG_OK(h, length); h = NLMSG_NEXT(h, length))
        {
            if (h->nlmsg_type == NLMSG_DONE || h->nlmsg_type == NLMSG_ERROR)
                return out;
            if (h->nlmsg_type != RTM_NEWQDISC)
                continue;
            const auto* tc = static_cast<const tcmsg*>(NLMSG_DATA(h));
            if (tc->tcm_ifindex != ifIndex)
                continue;
            Qdisc q{tc->tcm_handle, tc->tcm_parent, {}};
            int attrLength = static_cast<int>(TCA_PAYLOAD(h));
            for (auto* a = TCA_RTA(tc); RTA_OK(a, attrLength); a = RTA_NEXT(a, attrLength))
            {
                if (a->rta_type == TCA_KIND)
                    q.kind.assign(static_cast<const char*>(RTA_DATA(a)),
                                  strnlen(static_cast<const char*>(RTA_DATA(a)), RTA_PAYLOAD(a)));
            }
            out.push_back(std::move(q));
        }
    }
}
#pragma GCC diagnostic pop
} // namespace

std::vector<std::string> CTxTimeProbe::QdiscKinds(int ifIndex)
{
    const std::vector<Qdisc> all = DumpQdiscs(ifIndex);
    std::vector<std::string> kinds;
    const auto root = std::find_if(all.begin(), all.end(), [](const Qdisc& q) { return q.parent == TC_H_ROOT; });
    if (root == all.end())
        return kinds;
    kinds.push_back(root->kind);
    for (const Qdisc& q : all)
    {
        if (&q != &*root && q.parent != TC_H_ROOT && TC_H_MAJ(q.parent) == TC_H_MAJ(root->handle))
            kinds.push_back(q.kind);
    }
    return kinds;
}

std::string CTxTimeProbe::OutgoingDevice(int socketFd)
{
    sockaddr_storage storage{};
    socklen_t length = sizeof storage;
    if (getsockname(socketFd, reinterpret_cast<sockaddr*>(&storage), &length) != 0)
        return {};
    const CNetAddress local = CNetAddress::FromSockaddr(storage);
    if (!local.IsSet())
        return {};
    // The interface that has the socket's local address (IPv4 or IPv6).
    char name[IF_NAMESIZE] = {};
    const unsigned index = CNetAddress::InterfaceIndex(local.HostString());
    return index != 0 && if_indextoname(index, name) != nullptr ? std::string(name) : std::string();
}

CTxTimeProbe::Result CTxTimeProbe::Probe(int socketFd)
{
    Result r;
    r.device = OutgoingDevice(socketFd);
    if (r.device.empty())
    {
        r.reason = "no outgoing interface found";
        return r;
    }
    const std::vector<std::string> kinds = QdiscKinds(static_cast<int>(if_nametoindex(r.device.c_str())));
    if (kinds.empty())
    {
        r.reason = "the qdisc of " + r.device + " is unknown";
        return r;
    }
    r.qdisc = kinds.front();
    std::vector<std::string> leaves(kinds.begin() + (kinds.front() == "mq" && kinds.size() > 1 ? 1 : 0), kinds.end());
    const bool fq = std::all_of(leaves.begin(), leaves.end(), [](const std::string& k) { return k == "fq"; });
    const bool etf = std::all_of(leaves.begin(), leaves.end(), [](const std::string& k) { return k == "etf"; });
    if (!fq && !etf)
    {
        r.reason = r.device + " has qdisc " + r.qdisc + ", not fq or etf";
        return r;
    }
    r.clockId = fq ? CLOCK_MONOTONIC : CLOCK_TAI;
    sock_txtime config{};
    config.clockid = r.clockId;
    if (setsockopt(socketFd, SOL_SOCKET, SO_TXTIME, &config, sizeof config) != 0)
    {
        r.reason = std::string("SO_TXTIME refused: ") + std::strerror(errno);
        return r;
    }
    // Probed on the play's own socket: without SCM_TXTIME on a datagram the option changes nothing.
    r.available = true;
    return r;
}
