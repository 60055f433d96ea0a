#pragma once
//! @file CRistSettings.h
//! The settings of one RIST link, as librist's tools take them:
//!
//!     rist://HOST:PORT?profile=simple|main&buffer=MS&secret=...&aes-type=128|256&cname=...
//!     rist://@:PORT?...            (listen on PORT; "@" before the address means listen)
//!
//! Everything but `profile` is librist's own URL syntax and goes to librist as
//! written (buffer, secret, aes-type, bandwidth, rtt-min/-max, session-timeout,
//! miface, ...), so a URL pasted from ristsender or ristreceiver means the same
//! here. `profile` (simple or main, or 0 and 1 as the tools' -p takes them)
//! defaults to main, as theirs does; the advanced profile is not offered.
//! A plain struct: the CLI parses it from a URL, a window fills it from its fields.

#include <cstdint>
#include <string>
#include <string_view>

struct CRistSettings
{
    enum class Profile : std::uint8_t
    {
        Simple = 0,
        Main = 1,
    };

    Profile profile = Profile::Main;
    //! The URL given to librist (profile taken out).
    std::string url;
    //! True when the URL listens ("@" before the address), else it calls its peer.
    bool listener = false;
    //! The address (without brackets; empty: any) and port of the URL.
    std::string host;
    std::uint16_t port = 0;

    //! Parses and checks @p text with librist's own parser. @return false with
    //! @p error naming what is wrong (settings unchanged).
    static bool Parse(std::string_view text, CRistSettings& settings, std::string& error);
    //! True when @p text starts with rist://.
    static bool IsRistUrl(std::string_view text) { return text.substr(0, 7) == "rist://"; }
    //! "simple", "main".
    static const char* ProfileName(Profile profile);
    //! The URL back with its profile, the secret and password shown as *** (for status lines and logs).
    std::string ToDisplayUrl() const;
};
