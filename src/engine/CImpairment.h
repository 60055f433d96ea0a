#pragma once
//! @file CImpairment.h
//! Impairment on play: loses, bursts, re-orders, duplicates and delays the
//! datagrams of one output path on purpose, after RTP and FEC packetisation,
//! so that receivers (and Orvane's own FEC and 2022-7 merge) can be tested.
//!
//! Every decision comes from one std::mt19937_64 seeded by the caller, so a run
//! repeats exactly with the same seed and the same datagrams; give each output
//! path its own seed. Everything done is counted. Jitter is not applied here:
//! each datagram out carries an extra departure delay the caller adds.
//!
//! Impairment text (orvane-cli play --impair), items separated by commas, each at most once:
//!   loss=P        P per cent of datagrams lost at random (0-100, decimals allowed)
//!   burst=N/M     N consecutive datagrams lost out of every M (1 <= N < M <= 1,000,000)
//!   reorder=P/D   P per cent of datagrams held back and sent D datagrams later (D 1-64)
//!   dup=P         P per cent of datagrams sent twice
//!   jitter=MS     each datagram delayed by 0 to MS ms more (0-1,000, decimals allowed)
//!   none          no impairment
//!
//! No I/O, no threads, memory taken once. Views returned stay valid until the next call.

#include <array>
#include <cstdint>
#include <random>
#include <span>
#include <string>
#include <string_view>
#include <vector>

class CImpairment
{
public:
    static constexpr std::uint32_t kMaxReorderDepth = 64;
    static constexpr double kMaxJitterMs = 1'000.0;
    static constexpr std::uint32_t kMaxBurstPeriod = 1'000'000;
    //! Longer datagrams are never held back for re-ordering (they pass in place).
    static constexpr std::uint32_t kMaxHeldBytes = 2'048;

    struct Settings
    {
        double lossPercent = 0.0;
        std::uint32_t burstLength = 0; //!< N (0: no burst loss)
        std::uint32_t burstPeriod = 0; //!< M
        double reorderPercent = 0.0;
        std::uint32_t reorderDepth = 0;
        double duplicatePercent = 0.0;
        double jitterMs = 0.0;

        bool IsActive() const;
        bool operator==(const Settings&) const = default;
    };

    //! Reads a impairment text. @return false with @p error set ("loss: '1.5x' is not a number").
    static bool Parse(std::string_view text, Settings& out, std::string& error);
    //! The impairment text of @p s (items in the order above; "none" when inactive).
    static std::string Describe(const Settings& s);

    struct Output
    {
        std::span<const std::uint8_t> datagram;
        std::int64_t delayNs; //!< extra departure delay (jitter)
    };

    struct Counters
    {
        std::uint64_t in = 0;
        std::uint64_t out = 0;        //!< datagrams given back to send (duplicates included)
        std::uint64_t lost = 0;       //!< random loss
        std::uint64_t burstLost = 0;  //!< burst loss
        std::uint64_t reordered = 0;  //!< held back
        std::uint64_t duplicated = 0; //!< extra copies
        std::uint64_t delayed = 0;    //!< datagrams given a jitter delay above 0
        std::int64_t maxDelayNs = 0;
    };

    CImpairment(const Settings& s, std::uint64_t seed);

    //! Takes the next datagram of the path. @return what to send now, in order:
    //! the datagram (unless lost or held), its duplicate, a held one now due.
    std::span<const Output> Push(std::span<const std::uint8_t> datagram);
    //! End of play: the datagrams still held, in order.
    std::span<const Output> Flush();

    const Settings& GetSettings() const { return m_settings; }
    const Counters& GetCounters() const { return m_counters; }

private:
    struct Held
    {
        std::uint64_t due = 0; // push index after which it goes
        std::uint32_t bytes = 0;
        bool used = false;
    };

    bool Draw(double percent);
    void Emit(std::span<const std::uint8_t> datagram);
    std::uint8_t* HeldData(std::size_t slot) { return m_heldData.data() + slot * kMaxHeldBytes; }

    Settings m_settings;
    std::mt19937_64 m_random;
    std::uint64_t m_index = 0;
    std::array<Held, kMaxReorderDepth + 1> m_held{};
    std::vector<std::uint8_t> m_heldData;
    std::array<Output, kMaxReorderDepth + 4> m_out{};
    std::size_t m_outCount = 0;
    Counters m_counters;
};
