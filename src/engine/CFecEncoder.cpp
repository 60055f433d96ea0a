#include "engine/CFecEncoder.h"

#include <bitstream/ietf/rtp.h>

std::string CFecEncoder::CheckSettings(const Settings& s)
{
    if (s.columns < fec::kMinColumns || s.columns > fec::kMaxColumns)
        return "L must be 1-20 (columns), not " + std::to_string(s.columns);
    if (s.rows < fec::kMinRows || s.rows > fec::kMaxRows)
        return "D must be 4-20 (rows), not " + std::to_string(s.rows);
    if (s.columns * s.rows > fec::kMaxMatrix)
        return "L x D must be at most 100, not " + std::to_string(s.columns * s.rows);
    return {};
}

CFecEncoder::CFecEncoder()
{
    for (auto& set : m_columns)
        for (auto& g : set)
            g.packet.assign(fec::kMaxFecBytes, 0);
    m_row.packet.assign(fec::kMaxFecBytes, 0);
}

bool CFecEncoder::Configure(const Settings& s)
{
    if (!CheckSettings(s).empty())
        return false;
    m_settings = s;
    m_started = false;
    m_index = 0;
    m_heldCount = m_heldNext = 0;
    m_readyCount = 0;
    return true;
}

void CFecEncoder::Emit(fec::Stream stream, std::span<const std::uint8_t> datagram)
{
    m_ready[m_readyCount++] = Packet{stream, datagram};
}

void CFecEncoder::Restart()
{
    // What the open matrix protected so far is lost; the last full matrix still goes out.
    if (m_index > 0)
    {
        ++m_counters.restarts;
        m_counters.abandoned += m_index;
    }
    while (m_heldNext < m_heldCount)
        Emit(fec::Stream::Column, m_held[m_heldNext++]);
    m_index = 0;
}

void CFecEncoder::AddToGroup(Group& g, const std::uint8_t* media, std::uint32_t bytes)
{
    std::uint8_t* payload = g.packet.data() + fec::kOverheadBytes;
    const std::uint32_t length = bytes - fec::kRtpHeaderBytes;
    fec::XorBytes(payload, media + fec::kRtpHeaderBytes, length);
    g.recovery.Add(media, bytes);
    if (length > g.payloadBytes)
        g.payloadBytes = length;
    g.lastTimestamp = rtp_get_timestamp(media);
}

std::span<const std::uint8_t> CFecEncoder::Finish(Group& g, fec::Stream stream)
{
    fec::Header h;
    h.stream = stream;
    h.snBase = g.snBase;
    const bool column = stream == fec::Stream::Column;
    h.offset = static_cast<std::uint8_t>(column ? m_settings.columns : 1);
    h.count = static_cast<std::uint8_t>(column ? m_settings.rows : m_settings.columns);
    h.recovery = g.recovery;
    std::uint16_t& sequence = column ? m_columnSequence : m_rowSequence;
    fec::WriteHeaders(g.packet.data(), sequence++, g.lastTimestamp, m_settings.ssrc, h);
    ++(column ? m_counters.column : m_counters.row);
    return {g.packet.data(), fec::kOverheadBytes + g.payloadBytes};
}

static void StartGroup(auto& g, std::uint16_t sequence)
{
    // Zero only what the last use wrote; the rest of the buffer is still zero.
    std::memset(g.packet.data() + fec::kOverheadBytes, 0, g.payloadBytes);
    g.payloadBytes = 0;
    g.recovery = {};
    g.snBase = sequence;
}

bool CFecEncoder::AddMedia(std::span<const std::uint8_t> datagram)
{
    m_readyCount = 0;
    if (datagram.size() < fec::kRtpHeaderBytes || datagram.size() > fec::kMaxMediaBytes ||
        !rtp_check_hdr(datagram.data()))
    {
        ++m_counters.refused;
        return false;
    }
    const std::uint16_t sequence = rtp_get_seqnum(datagram.data());
    if (m_started && sequence != m_nextSequence)
        Restart();
    m_started = true;
    m_nextSequence = static_cast<std::uint16_t>(sequence + 1);
    ++m_counters.media;

    const std::uint32_t L = m_settings.columns;
    const std::uint32_t D = m_settings.rows;
    const std::uint32_t column = m_index % L;
    const std::uint32_t row = m_index / L;
    const auto bytes = static_cast<std::uint32_t>(datagram.size());

    Group& g = m_columns[m_matrix & 1][column];
    if (row == 0)
        StartGroup(g, sequence);
    AddToGroup(g, datagram.data(), bytes);
    if (row == D - 1)
        m_held[column] = Finish(g, fec::Stream::Column); // sent during the next matrix

    if (m_settings.mode == Mode::RowColumn)
    {
        if (column == 0)
            StartGroup(m_row, sequence);
        AddToGroup(m_row, datagram.data(), bytes);
        if (column == L - 1)
            Emit(fec::Stream::Row, Finish(m_row, fec::Stream::Row));
    }

    // Column c of the last matrix leaves after media c x D of this one.
    if (m_heldNext < m_heldCount && m_heldNext * D <= m_index)
        Emit(fec::Stream::Column, m_held[m_heldNext++]);

    if (++m_index == L * D)
    {
        while (m_heldNext < m_heldCount) // only when the sequence broke mid-way
            Emit(fec::Stream::Column, m_held[m_heldNext++]);
        m_heldCount = L;
        m_heldNext = 0;
        ++m_matrix;
        m_index = 0;
    }
    return true;
}

std::span<const CFecEncoder::Packet> CFecEncoder::Flush()
{
    m_readyCount = 0;
    while (m_heldNext < m_heldCount)
        Emit(fec::Stream::Column, m_held[m_heldNext++]);
    return Ready();
}
