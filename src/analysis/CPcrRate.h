#pragma once
//! @file CPcrRate.h
//! The transport rate measured from the PCRs of one PID: stream bytes between two
//! PCR packets divided by the PCR time between them, over a sliding window of
//! about two seconds so that a variable-rate stream is followed within seconds
//! while a constant-rate one is measured over a long, precise baseline.

#include <array>
#include <cstdint>

class CPcrRate
{
public:
    //! PCR clock, and the modulus at which a PCR wraps (33-bit base x 300).
    static constexpr std::uint64_t kPcrHz = 27'000'000;
    static constexpr std::uint64_t kPcrWrap = (std::uint64_t{1} << 33) * 300;
    //! Baseline kept for the rate: the oldest sample younger than this is used.
    static constexpr std::uint64_t kWindowPcr = 2 * kPcrHz;
    //! Samples closer than this to the previous one are not stored (bounds the ring).
    static constexpr std::uint64_t kMinSpacingPcr = kPcrHz / 100;
    //! A gap longer than this between two PCRs starts a new baseline.
    static constexpr std::uint64_t kMaxGapPcr = 10 * kPcrHz;
    //! The first rate is given once the baseline is this long.
    static constexpr std::uint64_t kMinBaselinePcr = kPcrHz / 50;

    //! One PCR: @p pcr in 27 MHz units (base x 300 + extension), @p bytePosition the
    //! stream offset of its packet, @p discontinuity the packet's discontinuity indicator.
    //! @return true when Rate() has a (new) value.
    bool AddPcr(std::uint64_t pcr, std::uint64_t bytePosition, bool discontinuity);
    //! Starts a new baseline (the byte positions no longer follow on); the last rate stays.
    void Restart() { m_count = 0; }

    //! Bit/s; 0 while unknown.
    double Rate() const { return m_rate; }
    //! PCR time covered by the current baseline, 27 MHz units.
    std::uint64_t BaselinePcr() const { return m_baseline; }

private:
    struct Sample
    {
        std::uint64_t pcr;
        std::uint64_t bytePosition;
    };
    static constexpr std::size_t kRingSize = 256;

    static std::uint64_t PcrDiff(std::uint64_t later, std::uint64_t earlier)
    {
        return (later + kPcrWrap - earlier) % kPcrWrap;
    }
    const Sample& At(std::size_t i) const { return m_ring[(m_head + i) % kRingSize]; }

    std::array<Sample, kRingSize> m_ring{};
    std::size_t m_head = 0;
    std::size_t m_count = 0;
    double m_rate = 0.0;
    std::uint64_t m_baseline = 0;
};
