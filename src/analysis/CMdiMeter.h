#pragma once
//! @file CMdiMeter.h
//! The Media Delivery Index of a received stream (RFC 4445): the delay factor
//! (DF, ms) and the media loss rate (MLR, media packets per second), measured
//! over intervals of one second of arrival time.
//!
//! Each datagram is given with its arrival time (the kernel's receive time
//! stamp), its transport-stream bytes, its media packets (188- or 204-byte TS
//! packets) and the media packets known lost in front of it. A virtual buffer
//! fills with each datagram's bytes and drains at the stream's rate; DF is the
//! spread of its level over the interval divided by that rate: how long a
//! receiver must buffer to absorb the arrival jitter. A perfectly paced stream
//! has a DF of one datagram's time.
//!
//! The rate: the nominal one when given (the stream's PCR bit rate, measured by
//! the analysis), else the mean arrival rate of the interval itself (its bytes
//! over its length), so that a stream without PCRs has a DF too. The interval's
//! arrivals are kept (memory taken once, at construction) until it ends, since
//! the mean rate is only known then.
//!
//! An interval ends with the first datagram one second or more after its start
//! (that datagram opens the next one), or when kMaxDatagrams have arrived.
//!
//! Threads: not thread-safe; one thread (the receive thread) feeds it and reads
//! the result, and publishes it for other threads itself.

#include <cstddef>
#include <cstdint>
#include <vector>

class CMdiMeter
{
public:
    static constexpr std::int64_t kIntervalNs = 1'000'000'000;
    //! Arrivals kept per interval: 1,316-byte datagrams at 1.3 Gbit/s for a second.
    static constexpr std::size_t kMaxDatagrams = 131'072;

    struct Result
    {
        double dfMs = 0.0;      //!< delay factor of the last interval, ms
        double mlr = 0.0;       //!< media packets lost per second in the last interval
        bool valid = false;     //!< an interval has ended since Reset
        double maxDfMs = 0.0;   //!< the largest DF since Reset, ms
        std::int64_t endNs = 0; //!< arrival time that ended the last interval (the stamps' clock)
    };

    explicit CMdiMeter(std::size_t maxDatagrams = kMaxDatagrams);

    //! The stream's nominal rate in bit/s; 0: the mean arrival rate of each interval.
    void SetMediaRate(double bitsPerSecond) { m_rateBps = bitsPerSecond > 0.0 ? bitsPerSecond : 0.0; }
    //! Forgets everything (a new stream).
    void Reset();

    //! One datagram. @param arrivalNs its arrival time (never earlier than the
    //! previous one's; an earlier one counts as arriving with it).
    //! @param lostMediaPackets media packets found missing in front of it.
    //! @return true when the datagram ended an interval: Last() is new.
    bool AddDatagram(std::int64_t arrivalNs, std::uint32_t payloadBytes, std::uint32_t mediaPackets,
                     std::uint32_t lostMediaPackets);
    //! Media packets lost without a datagram to carry the news (a kernel drop),
    //! counted in the interval under way.
    void AddLoss(std::uint64_t lostMediaPackets) { m_lost += lostMediaPackets; }

    const Result& Last() const { return m_last; }

private:
    struct Arrival
    {
        std::int64_t ns;
        std::uint32_t bytes;
    };
    void EndInterval(std::int64_t endNs);

    std::vector<Arrival> m_arrivals; // reserved once
    std::size_t m_maxDatagrams;
    double m_rateBps = 0.0;
    std::uint64_t m_lost = 0; // in the interval under way
    Result m_last;
};
