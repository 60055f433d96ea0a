#pragma once
//! @file PrivateNetwork.h
//! Runs a test body in a network namespace of its own (needs root and the ip
//! tool), so that IPv6 tests find the same network on every machine: loopback
//! up with ::1, and a veth pair v0 (fd00:6::1/64, 192.0.2.1/24) - v1 (fd00:6::2/64) with
//! multicast routes (ff00::/8) and no default route, so that any other
//! address has no route. A namespace is per thread: the body runs on a thread
//! of its own, and the threads it starts (receivers, play-out) inherit it.

#include <cstdint>
#include <functional>
#include <string>

namespace tstest
{
class PrivateNetwork
{
public:
    static constexpr const char* kSenderInterface = "v0";
    static constexpr const char* kReceiverInterface = "v1";
    static constexpr const char* kSenderAddress = "fd00:6::1";
    static constexpr const char* kReceiverAddress = "fd00:6::2";
    static constexpr std::uint32_t kSenderIpv4 = 0xC0000201; // 192.0.2.1, host order

    //! Sets up the namespace and runs @p body in it. @return "" when the body
    //! ran, else why the namespace could not be had (the test then fails).
    static std::string Run(const std::function<void()>& body);
};
} // namespace tstest
