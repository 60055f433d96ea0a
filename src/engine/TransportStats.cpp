#include "engine/TransportStats.h"

#include <cstdio>

std::string TransportStats::StatusText() const
{
    if (!valid)
        return "";
    char text[320];
    if (state == State::Connected)
        std::snprintf(
            text, sizeof text,
            "%s %s  rtt %.1f ms  send %.2f recv %.2f Mb/s  retrans %llu  lost %llu  dropped %llu  buffer %.0f "
            "ms%s  reconnects %llu",
            transport.c_str(), peer.c_str(), rttMs, sendRateMbps, receiveRateMbps,
            static_cast<unsigned long long>(retransmitted), static_cast<unsigned long long>(lost),
            static_cast<unsigned long long>(dropped), bufferMs,
            sendBufferBytes != 0 ? (" / " + std::to_string(sendBufferBytes) + " B").c_str() : "",
            static_cast<unsigned long long>(reconnects));
    else
        std::snprintf(text, sizeof text, "%s %s%s%s  dropped %llu  reconnects %llu", transport.c_str(),
                      StateName(state), lastError.empty() ? "" : ": ", lastError.c_str(),
                      static_cast<unsigned long long>(dropped), static_cast<unsigned long long>(reconnects));
    return text;
}
