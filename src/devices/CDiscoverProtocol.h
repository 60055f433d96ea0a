#pragma once
//! @file CDiscoverProtocol.h
//! The device discovery protocol of Orvane (docs/discovery-protocol.md): every
//! message is an 8-byte header ("ORVD", version 1, type, two zero bytes) on UDP
//! port 8947; an announcement adds one 38-byte device record.
//!
//! Encoding and strict decoding only, no sockets: CUDPDiscover, CUDPReset,
//! orvane-devsim and the tests share it.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

//! One device as it announces itself: 38 bytes, the layout the discovery dialog reads.
using DeviceRecord = std::array<std::uint8_t, 38>;

class CDiscoverProtocol
{
public:
    static constexpr std::uint16_t kPort = 8947;
    static constexpr std::uint8_t kVersion = 1;
    static constexpr std::size_t kHeaderBytes = 8;
    static constexpr std::size_t kRecordBytes = 38;
    static constexpr std::size_t kAnnounceBytes = kHeaderBytes + kRecordBytes; // 46
    static constexpr std::uint32_t kBroadcastAddress = 0xFFFFFFFFu;            // 255.255.255.255

    enum Type : std::uint8_t
    {
        kTypeDiscover = 1,
        kTypeAnnounce = 2,
        kTypeReset = 3,
    };

    // Record fields: byte offsets and sizes.
    static constexpr std::size_t kMacOffset = 0;      // 6 bytes
    static constexpr std::size_t kFirmwareOffset = 6; // 4 bytes, major first
    static constexpr std::size_t kSerialOffset = 10;  // u64 little-endian
    static constexpr std::size_t kPortsOffset = 18;   // 1 byte
    static constexpr std::size_t kAddressOffset = 19; // u32 little-endian, most significant = first dotted number
    static constexpr std::size_t kModelOffset = 23;   // 15 bytes ASCII, zero-padded
    static constexpr std::size_t kModelBytes = 15;

    //! What a received datagram turned out to be.
    enum class Verdict
    {
        kDiscover,
        kAnnounce,
        kReset,
        kShort,     //!< shorter than its type needs
        kOversized, //!< longer than its type allows
        kForeign,   //!< wrong magic, version, type or non-zero reserved bytes
    };

    //! The 8-byte header of a message of @p type.
    static std::array<std::uint8_t, kHeaderBytes> MakeHeader(Type type);
    //! A complete announcement carrying @p record.
    static std::array<std::uint8_t, kAnnounceBytes> MakeAnnounce(const DeviceRecord& record);
    //! Classifies @p length bytes at @p data; the record of an announcement is copied to @p record.
    static Verdict Parse(const std::uint8_t* data, std::size_t length, DeviceRecord* record);

    //! A record from its fields; @p model is cut to 15 characters.
    static DeviceRecord MakeRecord(const std::array<std::uint8_t, 6>& mac, const std::array<std::uint8_t, 4>& firmware,
                                   std::uint64_t serial, std::uint8_t ports, std::uint32_t address,
                                   const std::string& model);
    static std::uint64_t GetSerial(const DeviceRecord& record);
    //! The device address, first dotted number in the most significant byte.
    static std::uint32_t GetAddress(const DeviceRecord& record);
    static std::string GetModel(const DeviceRecord& record);
    //! "00:1a:2b:3c:4d:5e".
    static std::string FormatMac(const DeviceRecord& record);
    //! "1.4.0.12", major first.
    static std::string FormatFirmware(const DeviceRecord& record);

    //! True for an address a device can have: not 0.0.0.0/8, not multicast, not class E or broadcast.
    static bool IsUsableDeviceAddress(std::uint32_t address);
};
