#pragma once
//! @file CFecEncoder.h
//! SMPTE 2022-1 FEC sender side: media datagrams in, FEC datagrams out.
//!
//! The media datagrams (RTP, consecutive sequence numbers) fill a matrix of L
//! columns by D rows in sending order. Column FEC (one datagram per column, to
//! the media port + 2) protects D datagrams L apart; row FEC (row+column mode,
//! port + 4) protects the L datagrams of a row. A row's FEC is due right after
//! the row; the L column FEC datagrams of a matrix are spread over the next
//! matrix, one after every D media datagrams (column c after media c x D), so
//! that they never leave in a burst. Flush() gives what is still held at the end.
//!
//! No I/O, no threads, no allocation after construction: one thread calls
//! everything. Views returned stay valid until the next call.

#include "engine/FecPacket.h"

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

class CFecEncoder
{
public:
    enum class Mode : std::uint8_t
    {
        Column,
        RowColumn
    };

    struct Settings
    {
        std::uint32_t columns = 10; //!< L, 1-20
        std::uint32_t rows = 10;    //!< D, 4-20; L x D <= 100
        Mode mode = Mode::Column;
        std::uint32_t ssrc = 0; //!< of both FEC streams
    };

    //! One FEC datagram to send now.
    struct Packet
    {
        fec::Stream stream;                     //!< Column: media port + 2, Row: port + 4
        std::span<const std::uint8_t> datagram; //!< RTP header, FEC header, payload
    };

    struct Counters
    {
        std::uint64_t media = 0;     //!< media datagrams protected
        std::uint64_t column = 0;    //!< column FEC datagrams made
        std::uint64_t row = 0;       //!< row FEC datagrams made
        std::uint64_t refused = 0;   //!< not RTP version 2, or longer than fec::kMaxMediaBytes
        std::uint64_t restarts = 0;  //!< sequence breaks: the open matrix was abandoned
        std::uint64_t abandoned = 0; //!< media datagrams of abandoned matrices (not protected)
    };

    //! @return "" when @p s is valid, else the reason ("L must be 1-20", ...).
    static std::string CheckSettings(const Settings& s);

    //! Memory for the largest matrix, taken once; starts with the default settings.
    CFecEncoder();

    //! Applies @p s and starts a new matrix with the next media datagram.
    //! @return false (settings unchanged) when CheckSettings() finds fault.
    bool Configure(const Settings& s);
    const Settings& GetSettings() const { return m_settings; }

    //! Takes the next media datagram sent (RTP header + payload).
    //! @return false when refused (counted; nothing protected, Ready() empty).
    bool AddMedia(std::span<const std::uint8_t> datagram);
    //! FEC datagrams to send right after the last media datagram, in order.
    std::span<const Packet> Ready() const { return {m_ready.data(), m_readyCount}; }
    //! At the end of a stream: the column FEC still held (all of it, now).
    //! An incomplete matrix is not protected.
    std::span<const Packet> Flush();

    const Counters& GetCounters() const { return m_counters; }

private:
    struct Group
    {
        fec::Recovery recovery;
        std::uint16_t snBase = 0;
        std::uint32_t lastTimestamp = 0;
        std::uint32_t payloadBytes = 0; // longest payload so far
        std::vector<std::uint8_t> packet;
    };

    void Restart();
    void AddToGroup(Group& g, const std::uint8_t* media, std::uint32_t bytes);
    std::span<const std::uint8_t> Finish(Group& g, fec::Stream stream);
    void Emit(fec::Stream stream, std::span<const std::uint8_t> datagram);

    Settings m_settings;
    // Column groups of two matrices: the one being filled and the one being sent.
    std::array<std::array<Group, fec::kMaxColumns>, 2> m_columns;
    std::array<std::span<const std::uint8_t>, fec::kMaxColumns> m_held{};
    std::uint32_t m_heldCount = 0; // column FEC of the last full matrix
    std::uint32_t m_heldNext = 0;  // the next of them to send
    Group m_row;
    std::uint32_t m_index = 0;  // position in the current matrix
    std::uint32_t m_matrix = 0; // parity selects the column set being filled
    bool m_started = false;
    std::uint16_t m_nextSequence = 0;
    std::uint16_t m_columnSequence = 0;
    std::uint16_t m_rowSequence = 0;
    std::array<Packet, 2 * fec::kMaxColumns + 2> m_ready{};
    std::size_t m_readyCount = 0;
    Counters m_counters;
};
