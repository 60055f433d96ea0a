#pragma once
//! @file DvbIpRecvBuffer.h
//! One receive buffer of the network receiver: a 1,532-byte slice of the pool
//! memory and what the last datagram received into it was. At any time a record
//! is in exactly one place: the pool's free list, the receive client's posted
//! list, the pool's ready list, or in the sequencing thread's hands for one copy.

#include "engine/CLinkedListItem.h"

#include <cstdint>

class DvbIpRecvBuffer : public CLinkedListItem
{
public:
    DvbIpRecvBuffer(std::uint32_t sequence, std::uint8_t* data, std::uint32_t capacity)
        : m_sequence(sequence), m_data(data), m_capacity(capacity)
    {
    }

    //! Low 16 bits: the arrival number, or in RTP mode the RTP sequence number.
    std::uint32_t m_sequence = 0;
    std::uint8_t* m_data = nullptr;
    std::uint32_t m_length = 0; //!< bytes received
    std::uint32_t m_capacity = 0;
    //! The transport stream bytes inside the datagram: everything in UDP mode,
    //! what the RTP header, CSRC list, extension and padding leave in RTP mode.
    std::uint32_t m_payloadOffset = 0;
    std::uint32_t m_payloadLength = 0;
    //! The RTP synchronisation source (0 in UDP mode): with the sequence number
    //! it names the datagram's sequence space.
    std::uint32_t m_ssrc = 0;
    //! When the kernel received the datagram (SO_TIMESTAMPNS), ns since 1970
    //! (CLOCK_REALTIME); the time it was read when the kernel gave no stamp.
    std::int64_t m_arrivalNs = 0;
    //! How often the stream was taken past this record while it waited (a
    //! record of another sequence space); reset at each receive.
    std::uint32_t m_passes = 0;
};
