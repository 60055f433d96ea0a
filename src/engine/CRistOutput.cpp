#include "engine/CRistOutput.h"

#include <librist/librist.h>

#include <array>
#include <cerrno>

CRistOutput::CRistOutput(const CRistSettings& settings) : m_settings(settings) {}

CRistOutput::~CRistOutput()
{
    Close();
}

bool CRistOutput::Open()
{
    m_everConnected.store(false);
    m_lastWriteNs.store(0);
    m_primed = false;
    if (m_settings.profile == CRistSettings::Profile::Simple && m_settings.listener)
    {
        m_openError = "RIST: in the simple profile the sender calls its receiver (rist://HOST:PORT); "
                      "a listening sender needs the main profile (profile=main)";
        return false;
    }
    m_openError.clear();
    return m_link.Start(m_settings, CRistLink::Direction::Send);
}

void CRistOutput::Close()
{
    m_link.Stop();
}

bool CRistOutput::Send(const std::uint8_t* data, std::uint32_t length)
{
    if (m_link.Context() == nullptr)
        return false;
    if (m_link.IsConnected())
        m_everConnected.store(true, std::memory_order_release);
    if (!m_primed && m_settings.profile == CRistSettings::Profile::Simple)
    {
        // librist's simple-profile receiver keeps a new flow's first packet
        // to itself (its own tools lose it too): that one carries stuffing.
        std::array<std::uint8_t, kNullPackets * kPacketBytes> nulls{};
        for (std::uint32_t i = 0; i < kNullPackets; ++i)
        {
            std::uint8_t* p = nulls.data() + i * kPacketBytes;
            p[0] = 0x47;
            p[1] = 0x1F;
            p[2] = 0xFF;
            p[3] = 0x10;
        }
        rist_data_block prime{};
        prime.payload = nulls.data();
        prime.payload_len = nulls.size();
        if (rist_sender_data_write(m_link.Context(), &prime) < 0)
            return false;
        m_primed = true;
    }
    rist_data_block block{};
    block.payload = data;
    block.payload_len = length;
    const int written = rist_sender_data_write(m_link.Context(), &block);
    if (written < 0)
        return false; // librist's queue is full: the datagram stays in the FIFO for the next cycle
    if (static_cast<std::uint32_t>(written) != length)
    {
        // Never seen with datagram units; counted so it could never pass silently.
        m_failed.fetch_add(1, std::memory_order_relaxed);
        m_failedBytes.fetch_add(length, std::memory_order_relaxed);
        m_lastError.store(EMSGSIZE, std::memory_order_relaxed);
    }
    m_lastWriteNs.store(CSteadyClock::NowNs(), std::memory_order_relaxed);
    return true;
}

bool CRistOutput::IsDelivered() const
{
    const std::int64_t last = m_lastWriteNs.load(std::memory_order_relaxed);
    return last == 0 || CSteadyClock::NowNs() - last >= kDeliveredAfterNs;
}
