#pragma once
//! @file CTr101290Counters.h
//! The ETSI TR 101 290 priority 1 and 2 indicators of one stream: a cumulative
//! count per indicator since the start of the run, and whether it was seen in
//! the last second of the stream. The names are the keys of the JSON lines and
//! the `indicator` label of the metrics; the rules are the tooltips of the panel.

#include <array>
#include <cstddef>
#include <cstdint>

struct CTr101290Counters
{
    enum class Indicator : std::uint8_t
    {
        // priority 1
        TsSyncLoss,
        SyncByteError,
        PatError,
        CcError,
        PmtError,
        PidError,
        // priority 2
        TransportError,
        CrcError,
        PcrRepetitionError,
        PcrDiscontinuityIndicatorError,
        PcrAccuracyError,
        PtsError,
        CatError,
    };
    static constexpr std::size_t kCount = 13;

    struct Info
    {
        Indicator indicator;
        int priority;     //!< 1 or 2
        const char* key;  //!< JSON key and metrics label, e.g. "pat_error"
        const char* name; //!< the standard's name, e.g. "PAT_error"
        const char* rule; //!< one line: what counts as an event
    };

    //! The indicators in the order above.
    static constexpr std::array<Info, kCount> kInfo{{
        {Indicator::TsSyncLoss, 1, "ts_sync_loss", "TS_sync_loss",
         "Sync lost: two or more sync bytes in a row missing, or the packets found again off their grid "
         "(sync takes 5 in a row)"},
        {Indicator::SyncByteError, 1, "sync_byte_error", "Sync_byte_error",
         "A packet whose sync byte is not 0x47 while in sync"},
        {Indicator::PatError, 1, "pat_error", "PAT_error",
         "PAT (PID 0) absent for more than 0.5 s, a section on PID 0 with a table_id other than 0x00, or "
         "PID 0 scrambled"},
        {Indicator::CcError, 1, "cc_error", "Continuity_count_error",
         "Continuity counter out of order, a packet lost, or the same packet more than twice"},
        {Indicator::PmtError, 1, "pmt_error", "PMT_error",
         "A PMT referenced by the PAT absent for more than 0.5 s, or its PID scrambled"},
        {Indicator::PidError, 1, "pid_error", "PID_error",
         "A PID referenced by a PMT absent for longer than the PID time-out (5 s)"},
        {Indicator::TransportError, 2, "transport_error", "Transport_error",
         "A packet with the transport_error_indicator set"},
        {Indicator::CrcError, 2, "crc_error", "CRC_error",
         "A PAT, CAT, PMT, NIT, SDT, EIT or TOT section with a bad CRC"},
        {Indicator::PcrRepetitionError, 2, "pcr_repetition_error", "PCR_repetition_error",
         "Two PCRs of a PID more than 40 ms apart"},
        {Indicator::PcrDiscontinuityIndicatorError, 2, "pcr_discontinuity_indicator_error",
         "PCR_discontinuity_indicator_error",
         "Two PCRs of a PID more than 100 ms apart (or going back) without the discontinuity indicator"},
        {Indicator::PcrAccuracyError, 2, "pcr_accuracy_error", "PCR_accuracy_error",
         "A PCR more than 500 ns from the value its byte position gives at the measured constant rate"},
        {Indicator::PtsError, 2, "pts_error", "PTS_error", "Two PTS of an elementary stream more than 700 ms apart"},
        {Indicator::CatError, 2, "cat_error", "CAT_error",
         "Scrambled packets without a CAT (at most one a second), or a section on PID 1 with a table_id "
         "other than 0x01"},
    }};

    std::array<std::uint64_t, kCount> count{}; //!< events since the start of the run
    std::array<bool, kCount> active{};         //!< an event in the last second of the stream

    std::uint64_t& operator[](Indicator i) { return count[static_cast<std::size_t>(i)]; }
    std::uint64_t operator[](Indicator i) const { return count[static_cast<std::size_t>(i)]; }
    static const Info& InfoOf(Indicator i) { return kInfo[static_cast<std::size_t>(i)]; }

    //! Events of one priority.
    std::uint64_t Total(int priority) const
    {
        std::uint64_t total = 0;
        for (std::size_t i = 0; i < kCount; ++i)
            if (kInfo[i].priority == priority)
                total += count[i];
        return total;
    }
};
