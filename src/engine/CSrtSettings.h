#pragma once
//! @file CSrtSettings.h
//! The settings of one SRT link, as the URL form srt-live-transmit takes:
//!
//!     srt://HOST:PORT?mode=caller|listener|rendezvous&latency=MS&passphrase=...&pbkeylen=16|24|32&streamid=...
//!                     &conntimeo=MS&port=LOCALPORT
//!
//! Without mode, a URL with a host is a caller and one without (srt://:PORT)
//! a listener. A listener's host is the local address it listens on; a
//! caller's and a rendezvous' host is the peer (IPv4, [IPv6] or a name).
//! Values may be percent-encoded (%26 for & in a stream id). A plain struct:
//! the CLI parses it from a URL, a window fills it from its fields.

#include <cstdint>
#include <string>
#include <string_view>

struct CSrtSettings
{
    enum class Mode : std::uint8_t
    {
        Caller,
        Listener,
        Rendezvous,
    };

    static constexpr std::int32_t kDefaultLatencyMs = 120; // libsrt's and srt-live-transmit's default
    static constexpr std::int32_t kMaxLatencyMs = 60'000;
    static constexpr std::int32_t kDefaultConnectTimeoutMs = 3'000;
    static constexpr std::size_t kMinPassphrase = 10; // SRT's limits (AES key derivation)
    static constexpr std::size_t kMaxPassphrase = 79;
    static constexpr std::size_t kMaxStreamId = 512;

    Mode mode = Mode::Caller;
    std::string host; //!< caller, rendezvous: the peer; listener: the local address (empty: any)
    std::uint16_t port = 0;
    std::int32_t latencyMs = kDefaultLatencyMs;
    std::string passphrase;  //!< empty: no encryption
    std::int32_t keyLength = 0; //!< pbkeylen: 16, 24 or 32 bytes; 0: libsrt's default (16)
    //! Caller: sent to the listener. Orvane as listener: when set, callers with
    //! another stream id are rejected (SRT_REJX_NOTFOUND).
    std::string streamId;
    std::int32_t connectTimeoutMs = kDefaultConnectTimeoutMs;
    //! port=: the local port of a caller or rendezvous (0: a caller's is any,
    //! a rendezvous' is the peer's port, as srt-live-transmit does).
    std::uint16_t localPort = 0;

    //! Parses @p url. @return false with @p error naming what is wrong
    //! (settings unchanged).
    static bool Parse(std::string_view url, CSrtSettings& settings, std::string& error);
    //! True when @p text starts with srt://.
    static bool IsSrtUrl(std::string_view text) { return text.substr(0, 6) == "srt://"; }
    //! "caller", "listener", "rendezvous".
    static const char* ModeName(Mode mode);
    //! The URL back, the passphrase shown as *** (for status lines and logs).
    std::string ToDisplayUrl() const;
};
