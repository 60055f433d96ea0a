#pragma once
//! @file IPacketHandler.h
//! Receiver of the whole packets that CPacketSync finds in a byte stream.

#include <cstdint>

class IPacketHandler
{
public:
    virtual ~IPacketHandler() = default;
    //! One packet starting with the sync byte; the first 188 bytes are valid to read
    //! (the 16 bytes a 204-byte packet carries after them are not needed here).
    //! @param packetIndex the packet's number in the stream since the last restart.
    virtual void OnPacket(const std::uint8_t* packet, std::uint64_t packetIndex) = 0;
    //! No sync byte where the packet size put one (the packet there is lost).
    virtual void OnSyncByteError() {}
    //! The packets found again off the old grid: more than one sync byte was missing.
    virtual void OnSyncLoss() {}
};
