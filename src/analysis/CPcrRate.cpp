#include "analysis/CPcrRate.h"

namespace
{
// Rates outside this range come from broken PCRs, not from a stream.
constexpr double kMinPlausibleRate = 1'000.0;           // bit/s
constexpr double kMaxPlausibleRate = 100'000'000'000.0; // bit/s
} // namespace

bool CPcrRate::AddPcr(std::uint64_t pcr, std::uint64_t bytePosition, bool discontinuity)
{
    pcr %= kPcrWrap;
    if (discontinuity || m_count == 0)
    {
        m_head = 0;
        m_count = 1;
        m_ring[0] = Sample{pcr, bytePosition};
        m_baseline = 0;
        return false;
    }

    const Sample& newest = At(m_count - 1);
    const std::uint64_t step = PcrDiff(pcr, newest.pcr);
    const bool bytesForward = bytePosition > newest.bytePosition;
    if (step == 0 || step > kMaxGapPcr || !bytesForward)
    {
        // A jump of the clock (backwards shows as a huge forward step): new baseline.
        Restart();
        return AddPcr(pcr, bytePosition, true);
    }
    const double stepRate = static_cast<double>(bytePosition - newest.bytePosition) * 8.0 *
                            static_cast<double>(kPcrHz) / static_cast<double>(step);
    if (step >= kMinSpacingPcr && (stepRate < kMinPlausibleRate || stepRate > kMaxPlausibleRate))
    {
        Restart();
        return AddPcr(pcr, bytePosition, true);
    }

    // Drop samples that fell out of the window, keeping at least one baseline start.
    while (m_count > 1 && PcrDiff(pcr, At(0).pcr) > kWindowPcr)
    {
        m_head = (m_head + 1) % kRingSize;
        --m_count;
    }
    const Sample& oldest = At(0);
    const std::uint64_t span = PcrDiff(pcr, oldest.pcr);
    bool updated = false;
    if (span >= kMinBaselinePcr)
    {
        m_rate = static_cast<double>(bytePosition - oldest.bytePosition) * 8.0 * static_cast<double>(kPcrHz) /
                 static_cast<double>(span);
        m_baseline = span;
        updated = true;
    }
    if (step >= kMinSpacingPcr)
    {
        if (m_count == kRingSize)
        {
            m_head = (m_head + 1) % kRingSize;
            --m_count;
        }
        m_ring[(m_head + m_count) % kRingSize] = Sample{pcr, bytePosition};
        ++m_count;
    }
    return updated;
}
