#pragma once
//! @file FecPacket.h
//! SMPTE 2022-1 (Pro-MPEG COP3) FEC datagrams: the RTP header (RFC 3550), the FEC
//! header of RFC 2733 with the 2022-1 extension (16 bytes), then the XOR of the
//! protected media payloads. Shared by CFecEncoder and CFecDecoder.
//!
//! What a FEC datagram protects of each media datagram, by XOR over its group:
//! the P, X and CC bits and the marker (in the FEC datagram's own RTP header, as
//! RFC 2733 does), the payload type, the timestamp and the length of everything
//! behind the 12-byte fixed header (FEC header), and those bytes themselves,
//! zero-padded to the longest of the group (FEC payload). The sequence number
//! follows from the group, the SSRC is the stream's own.

#include <cstdint>
#include <cstring>
#include <span>

namespace fec
{
constexpr std::uint32_t kRtpHeaderBytes = 12;
constexpr std::uint32_t kFecHeaderBytes = 16;
constexpr std::uint32_t kOverheadBytes = kRtpHeaderBytes + kFecHeaderBytes;
//! Largest media datagram protected: a record of the receiver's pool (1,532 bytes).
constexpr std::uint32_t kMaxMediaBytes = 1'532;
constexpr std::uint32_t kMaxFecBytes = kMaxMediaBytes - kRtpHeaderBytes + kOverheadBytes;
//! FEC streams use the first dynamic payload type by convention.
constexpr std::uint8_t kPayloadType = 96;
constexpr std::uint32_t kMinColumns = 1; // L
constexpr std::uint32_t kMaxColumns = 20;
constexpr std::uint32_t kMinRows = 4; // D
constexpr std::uint32_t kMaxRows = 20;
constexpr std::uint32_t kMaxMatrix = 100; // L x D

//! Column FEC goes to the media port + 2, row FEC to port + 4.
enum class Stream : std::uint8_t
{
    Column,
    Row
};

//! XOR of the protected header fields of a group.
struct Recovery
{
    std::uint16_t length = 0; //!< bytes behind the fixed RTP header
    std::uint8_t pxcc = 0;    //!< P, X and CC bits of the first RTP byte
    std::uint8_t marker = 0;  //!< 0 or 1
    std::uint8_t type = 0;    //!< payload type, 7 bits
    std::uint32_t timestamp = 0;

    //! Adds the header of a media datagram of @p bytes (>= 12) at @p rtp.
    void Add(const std::uint8_t* rtp, std::uint32_t bytes)
    {
        length ^= static_cast<std::uint16_t>(bytes - kRtpHeaderBytes);
        pxcc ^= rtp[0] & 0x3F;
        marker ^= rtp[1] >> 7;
        type ^= rtp[1] & 0x7F;
        timestamp ^= static_cast<std::uint32_t>(rtp[4]) << 24 | static_cast<std::uint32_t>(rtp[5]) << 16 |
                     static_cast<std::uint32_t>(rtp[6]) << 8 | rtp[7];
    }
};

//! dst[i] ^= src[i]; word-wise, the compiler vectorises it.
inline void XorBytes(std::uint8_t* dst, const std::uint8_t* src, std::size_t n)
{
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8)
    {
        std::uint64_t a, b;
        std::memcpy(&a, dst + i, 8);
        std::memcpy(&b, src + i, 8);
        a ^= b;
        std::memcpy(dst + i, &a, 8);
    }
    for (; i < n; ++i)
        dst[i] ^= src[i];
}

//! A FEC datagram taken apart (views into the datagram).
struct Header
{
    Stream stream = Stream::Column;
    std::uint16_t snBase = 0;
    std::uint8_t offset = 0; //!< L for a column, 1 for a row
    std::uint8_t count = 0;  //!< NA: D for a column, L for a row
    Recovery recovery;
    std::span<const std::uint8_t> payload;
};

//! Parses a FEC datagram of the XOR kind SMPTE 2022-1 sends.
//! @return false when it is not one (too short, not RTP version 2, no 2022-1
//! extension, a mask, another FEC type, or a group outside L 1-20, D 4-20, L x D <= 100).
bool Parse(std::span<const std::uint8_t> datagram, Header& out);

//! Writes the RTP and FEC headers in front of the payload of @p packet.
void WriteHeaders(std::uint8_t* packet, std::uint16_t sequence, std::uint32_t rtpTimestamp, std::uint32_t ssrc,
                  const Header& h);
} // namespace fec
