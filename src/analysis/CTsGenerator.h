#pragma once
//! @file CTsGenerator.h
//! A deterministic transport stream for tests, the fuzz corpus, the benchmark and
//! demos: PAT, PMTs, SDT, TDT and TOT, a video and an audio PID per program with
//! PES packets carrying PTS/DTS, PCRs at most 40 ms apart on each video PID placed exactly
//! at the configured rate, and optional faults (garbage, lost packets, continuity
//! errors). The same configuration always gives the same bytes.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct CTsGeneratorConfig
{
    int programs = 1;                    //!< 1..kMaxPrograms
    std::uint64_t bitRate = 10'000'000;  //!< bit/s
    double durationSeconds = 10.0;       //!< stream time to generate
    int packetSize = 188;                //!< 188 or 204
    std::int64_t startTime = 1704110400; //!< TDT/TOT time of the first packet (2024-01-01 12:00:00 UTC)
    std::uint64_t pcrStart = 0;          //!< PCR of the first packet, 27 MHz (set near 2^33 x 300 to test the wrap)
    //! From this stream time on the rate becomes @ref secondBitRate (0 = constant rate).
    double rateChangeSeconds = 0.0;
    std::uint64_t secondBitRate = 0;
    std::size_t leadingGarbage = 0; //!< bytes before the first packet
    std::uint64_t garbageEvery = 0; //!< after every N-th packet a burst of garbage (0 = never)
    std::size_t garbageBytes = 0;   //!< bytes per burst (never a sync byte)
    std::uint64_t dropEvery = 0;    //!< every N-th audio packet is lost (0 = never)
    std::uint64_t ccErrorEvery = 0; //!< every N-th video packet skips a continuity count (0 = never)
};

//! What the generator wrote, so that tests know the truth.
struct CTsGeneratorStats
{
    std::uint64_t bytes = 0;
    std::uint64_t packets = 0; //!< packets written
    std::uint64_t slots = 0;   //!< packet slots of the timeline (lost packets included)
    std::uint64_t garbageBursts = 0;
    std::uint64_t droppedPackets = 0;
    std::uint64_t continuityErrors = 0; //!< continuity errors a receiver can see
};

class CTsGenerator
{
public:
    static constexpr int kMaxPrograms = 1000;
    static constexpr std::uint16_t kTransportStreamId = 1;
    static constexpr std::uint16_t kNetworkId = 0x2000;

    //! @param config checked by Validate(); Generate refuses an invalid one.
    explicit CTsGenerator(const CTsGeneratorConfig& config) : m_config(config) {}

    //! Empty when the configuration is usable, else what is wrong with it.
    std::string Validate() const;
    //! Writes the stream in chunks of about 64 KiB through @p write (false = stop).
    //! @return false when the configuration is invalid or @p write refused.
    bool Generate(const std::function<bool(const std::uint8_t*, std::size_t)>& write);
    //! The whole stream in memory.
    std::vector<std::uint8_t> GenerateToMemory();
    const CTsGeneratorStats& Stats() const { return m_stats; }

    //! The PIDs and types of program @p index (0-based; its program number is index + 1).
    static std::uint16_t PmtPid(int index) { return static_cast<std::uint16_t>(0x0100 + 4 * index); }
    static std::uint16_t VideoPid(int index) { return static_cast<std::uint16_t>(PmtPid(index) + 1); }
    static std::uint16_t AudioPid(int index) { return static_cast<std::uint16_t>(PmtPid(index) + 2); }
    static std::uint8_t VideoType(int index);
    static std::uint8_t AudioType(int index);
    //! Descriptor that tells what the audio carries (AC-3 in a private stream), 0 if none.
    static std::uint8_t AudioDescriptor(int index);
    static std::string ServiceName(int index) { return "Service " + std::to_string(index + 1); }
    static std::string ProviderName() { return "Orvane"; }

private:
    CTsGeneratorConfig m_config;
    CTsGeneratorStats m_stats;
};
