#pragma once
// Helpers shared by the analysis tests: generated streams and a feeder that
// calls the analysis object exactly as the play engine and the record thread do.

#include "analysis/CDecodeStream.h"
#include "analysis/CTsGenerator.h"
#include "analysis/ITreeSink.h"
#include "support/TsPackets.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <vector>

//! A short stream of a few programs, the common set-up of the decoder tests.
inline CTsGeneratorConfig SmallStream(int packetSize = 188, int programs = 3)
{
    CTsGeneratorConfig config;
    config.programs = programs;
    config.bitRate = 2'000'000;
    config.durationSeconds = 1.5;
    config.packetSize = packetSize;
    return config;
}

//! SmallStream with lost audio packets, skipped video counts and garbage bursts off the packet grid.
inline CTsGeneratorConfig ImpairedStream(std::uint64_t dropEvery, std::uint64_t ccErrorEvery,
                                         std::uint64_t garbageEvery, std::size_t garbageBytes, double seconds = 1.5)
{
    CTsGeneratorConfig config = SmallStream();
    config.durationSeconds = seconds;
    config.dropEvery = dropEvery;
    config.ccErrorEvery = ccErrorEvery;
    config.garbageEvery = garbageEvery;
    config.garbageBytes = garbageBytes;
    return config;
}

using tstest::AddPacket;

inline std::vector<std::uint8_t> GenerateStream(const CTsGeneratorConfig& config, CTsGeneratorStats* stats = nullptr)
{
    CTsGenerator generator(config);
    std::vector<std::uint8_t> bytes = generator.GenerateToMemory();
    if (stats != nullptr)
        *stats = generator.Stats();
    return bytes;
}

//! Feeds @p stream in chunks whose sizes @p nextChunk chooses, through a buffer with
//! @p headroom bytes in front, Insert then Copy; returns the bytes handed back
//! (what a player would send).
inline std::vector<std::uint8_t> FeedChunks(CDecodeStream& decoder, const std::vector<std::uint8_t>& stream,
                                            const std::function<std::size_t()>& nextChunk, long headroom = 512)
{
    std::vector<std::uint8_t> sent;
    std::vector<unsigned char> buffer;
    std::size_t pos = 0;
    while (pos < stream.size())
    {
        const std::size_t chunk = std::min(std::max<std::size_t>(nextChunk(), 1), stream.size() - pos);
        buffer.assign(static_cast<std::size_t>(headroom) + chunk, 0xAA);
        std::memcpy(buffer.data() + headroom, stream.data() + pos, chunk);
        unsigned char* data = buffer.data() + headroom;
        long length = static_cast<long>(chunk);
        decoder.InsertStreamData(data, length, headroom);
        EXPECT_GE(data, buffer.data());
        EXPECT_LE(data + length, buffer.data() + buffer.size());
        sent.insert(sent.end(), data, data + length);
        decoder.CopyStreamData(buffer.data(), headroom, buffer.data());
        pos += chunk;
    }
    return sent;
}

inline std::vector<std::uint8_t> FeedFixed(CDecodeStream& decoder, const std::vector<std::uint8_t>& stream,
                                           std::size_t chunk, long headroom = 512)
{
    return FeedChunks(
        decoder, stream, [chunk] { return chunk; }, headroom);
}

//! Keeps the last tree it was given.
class CRecordingSink final : public ITreeSink
{
public:
    void ShowTree(const std::vector<CTreeNode>& roots) override
    {
        m_roots = roots;
        ++m_calls;
    }
    std::vector<CTreeNode> m_roots;
    int m_calls = 0;
};
