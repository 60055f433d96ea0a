#include "devices/CDiscoverProtocol.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace
{
constexpr std::array<std::uint8_t, 4> kMagic = {'O', 'R', 'V', 'D'};

void PutLe(std::uint8_t* out, std::uint64_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

std::uint64_t GetLe(const std::uint8_t* in, int bytes)
{
    std::uint64_t value = 0;
    for (int i = bytes - 1; i >= 0; --i)
        value = (value << 8) | in[i];
    return value;
}
} // namespace

std::array<std::uint8_t, CDiscoverProtocol::kHeaderBytes> CDiscoverProtocol::MakeHeader(Type type)
{
    return {kMagic[0], kMagic[1], kMagic[2], kMagic[3], kVersion, type, 0, 0};
}

std::array<std::uint8_t, CDiscoverProtocol::kAnnounceBytes> CDiscoverProtocol::MakeAnnounce(const DeviceRecord& record)
{
    std::array<std::uint8_t, kAnnounceBytes> message{};
    const auto header = MakeHeader(kTypeAnnounce);
    std::memcpy(message.data(), header.data(), header.size());
    std::memcpy(message.data() + kHeaderBytes, record.data(), record.size());
    return message;
}

CDiscoverProtocol::Verdict CDiscoverProtocol::Parse(const std::uint8_t* data, std::size_t length, DeviceRecord* record)
{
    if (data == nullptr || length < kMagic.size())
        return Verdict::kShort;
    if (std::memcmp(data, kMagic.data(), kMagic.size()) != 0)
        return Verdict::kForeign;
    if (length < kHeaderBytes)
        return Verdict::kShort;
    if (data[4] != kVersion || data[6] != 0 || data[7] != 0)
        return Verdict::kForeign;
    switch (data[5])
    {
    case kTypeDiscover:
        return length == kHeaderBytes ? Verdict::kDiscover : Verdict::kOversized;
    case kTypeReset:
        return length == kHeaderBytes ? Verdict::kReset : Verdict::kOversized;
    case kTypeAnnounce:
        if (length < kAnnounceBytes)
            return Verdict::kShort;
        if (length > kAnnounceBytes)
            return Verdict::kOversized;
        if (record != nullptr)
            std::memcpy(record->data(), data + kHeaderBytes, kRecordBytes);
        return Verdict::kAnnounce;
    default:
        return Verdict::kForeign;
    }
}

DeviceRecord CDiscoverProtocol::MakeRecord(const std::array<std::uint8_t, 6>& mac,
                                           const std::array<std::uint8_t, 4>& firmware, std::uint64_t serial,
                                           std::uint8_t ports, std::uint32_t address, const std::string& model)
{
    DeviceRecord record{};
    std::memcpy(record.data() + kMacOffset, mac.data(), mac.size());
    std::memcpy(record.data() + kFirmwareOffset, firmware.data(), firmware.size());
    PutLe(record.data() + kSerialOffset, serial, 8);
    record[kPortsOffset] = ports;
    PutLe(record.data() + kAddressOffset, address, 4);
    std::memcpy(record.data() + kModelOffset, model.data(), std::min(model.size(), kModelBytes));
    return record;
}

std::uint64_t CDiscoverProtocol::GetSerial(const DeviceRecord& record)
{
    return GetLe(record.data() + kSerialOffset, 8);
}

std::uint32_t CDiscoverProtocol::GetAddress(const DeviceRecord& record)
{
    return static_cast<std::uint32_t>(GetLe(record.data() + kAddressOffset, 4));
}

std::string CDiscoverProtocol::GetModel(const DeviceRecord& record)
{
    std::string model;
    for (std::size_t i = 0; i < kModelBytes; ++i)
    {
        const auto c = record[kModelOffset + i];
        if (c == 0)
            break;
        // Only printable ASCII reaches a screen or a terminal.
        model.push_back(c >= 0x20 && c < 0x7F ? static_cast<char>(c) : '?');
    }
    return model;
}

bool CDiscoverProtocol::IsUsableDeviceAddress(std::uint32_t address)
{
    const std::uint32_t first = address >> 24;
    return first != 0 && first < 224;
}

std::string CDiscoverProtocol::FormatMac(const DeviceRecord& record)
{
    char mac[18];
    std::snprintf(mac, sizeof mac, "%02x:%02x:%02x:%02x:%02x:%02x", record[kMacOffset], record[kMacOffset + 1],
                  record[kMacOffset + 2], record[kMacOffset + 3], record[kMacOffset + 4], record[kMacOffset + 5]);
    return mac;
}

std::string CDiscoverProtocol::FormatFirmware(const DeviceRecord& record)
{
    std::string text;
    for (std::size_t i = 0; i < 4; ++i)
        text += (i == 0 ? "" : ".") + std::to_string(record[kFirmwareOffset + i]);
    return text;
}
