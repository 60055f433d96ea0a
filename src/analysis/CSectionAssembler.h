#pragma once
//! @file CSectionAssembler.h
//! Puts PSI/SI sections back together from the payloads of one PID's packets:
//! sections spread over several packets, several sections in one packet, the
//! pointer field, stuffing. A lost packet (continuity error) drops the section
//! being assembled. Memory: one buffer of at most 1,024 bytes, the longest PAT,
//! PMT, SDT or TOT section (4,096 for a PID given that limit: the EIT); longer
//! sections are skipped.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

class CSectionAssembler
{
public:
    //! 3 header bytes + the longest section_length of the tables we read (1,021).
    static constexpr std::size_t kMaxSectionBytes = 3 + 1021;
    //! The longest section of any table (EIT: section_length up to 4,093).
    static constexpr std::size_t kMaxAnySectionBytes = 3 + 4093;

    explicit CSectionAssembler(std::size_t maxSectionBytes = kMaxSectionBytes) : m_maxSectionBytes(maxSectionBytes) {}

    //! Called with each complete section (header to CRC); the bytes live until the call returns.
    using SectionCallback = std::function<void(std::uint8_t* section, std::size_t length)>;

    //! Feeds the payload of one packet. @p unitStart is the packet's payload_unit_start_indicator.
    void Feed(const std::uint8_t* payload, std::size_t length, bool unitStart, const SectionCallback& onSection);
    //! Drops the partial section (lost packet, stream restart).
    void Reset() { m_buffer.clear(); }

private:
    //! Appends from @p data; emits and clears when complete. @return bytes used.
    std::size_t Collect(const std::uint8_t* data, std::size_t length, const SectionCallback& onSection);

    std::size_t m_maxSectionBytes;
    std::vector<std::uint8_t> m_buffer; // the section being assembled; empty when none
};
