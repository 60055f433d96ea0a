// libFuzzer target: arbitrary bytes in arbitrary chunkings through the analysis
// object, as the play engine and the record thread feed it, with tree refreshes,
// stream restarts and the tail search in between; the adaptations of a play
// (PCR, PTS/DTS, continuity, TDT/TOT) switched on and off with the engine's
// calls around them (jumps, loops, stuffing, a dropped FIFO). The first two
// bytes of an input choose the chunking and the adaptations; the rest is the stream.

#include "analysis/CDecodeStream.h"
#include "analysis/ITreeSink.h"

#include <cstdint>
#include <cstring>
#include <vector>

namespace
{
class CCountingSink final : public ITreeSink
{
public:
    void ShowTree(const std::vector<CTreeNode>& roots) override { m_nodes += roots.size(); }
    std::size_t m_nodes = 0;
};

constexpr long kMaxHeadroom = 4096;
constexpr std::size_t kMaxChunk = 70'000;
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* input, std::size_t size)
{
    if (size < 2)
        return 0;
    std::uint32_t seed = static_cast<std::uint32_t>(input[0] | input[1] << 8);
    input += 2;
    size -= 2;

    CDecodeStream decoder;
    decoder.SetThousandsSeparator(".");
    CCountingSink pids, programs;
    decoder.SetPidTree(&pids);
    decoder.SetProgTree(&programs);
    decoder.ResetListData(1, 1);
    // Adaptations: most inputs run with all of them, at a rate from the seed.
    CAnalysisState& state = decoder.State();
    const bool adapt = (seed & 0x7) != 0;
    state.m_pcrRestamp.store(adapt ? 1 : 0);
    state.m_pcrRestamp2.store(adapt ? 1 : 0);
    state.m_ccRestamp.store(adapt ? 1 : 0);
    state.m_totTdtEnable.store(adapt ? 1 : 0);
    state.m_totTdtTimeType.store(static_cast<std::int32_t>(seed % 3));
    state.m_totTdtOffset.store((seed & 0x100) != 0 ? -86'400 : 3'600);
    decoder.m_playBitRate.store((seed & 0x200) != 0 ? 1.0 + seed * 997.0 : 0.0);

    std::vector<unsigned char> buffer(static_cast<std::size_t>(kMaxHeadroom) + kMaxChunk);
    std::size_t pos = 0;
    int chunks = 0;
    while (pos < size)
    {
        seed = seed * 1103515245u + 12345u;
        const std::uint32_t r = seed >> 8;
        std::size_t chunk = (r & 3) == 0 ? 1 + r % 7 : (r & 3) == 1 ? 1 + r % 400 : 1 + r % kMaxChunk;
        chunk = std::min(chunk, size - pos);
        const long headroom = (r & 0x30) == 0 ? 0 : (r & 0x30) == 0x10 ? 150 : (r & 0x30) == 0x20 ? 512 : kMaxHeadroom;
        std::memcpy(buffer.data() + headroom, input + pos, chunk);
        unsigned char* data = buffer.data() + headroom;
        long length = static_cast<long>(chunk);
        if (decoder.InsertStreamData(data, length, headroom) != 0)
        {
            // The returned range must stay inside the chunk and its headroom.
            if (data < buffer.data() || length < 0 || data + length > buffer.data() + headroom + chunk)
                __builtin_trap();
            decoder.CopyStreamData(buffer.data(), headroom, buffer.data());
        }
        pos += chunk;
        if (++chunks % 8 == 0)
            decoder.UpdateDisplay(1, 1);
        if (r % 61 == 0)
            decoder.ResetStreamData();
        if (r % 67 == 0)
        {
            // A jump: the engine's calls, the FIFO dropped, the stuffing burst.
            decoder.ResetStreamData();
            decoder.ResetPCRRestamp();
            decoder.ResetPTSDTSRestamp(static_cast<std::int64_t>(pos));
            decoder.ResetFirstPCR();
            decoder.AddOutputBytes(-static_cast<std::int64_t>(r % 300'000));
            decoder.AddOutputBytes(12 * 188);
        }
        if (r % 71 == 0)
        {
            decoder.ResetStreamData();
            decoder.SetLoop();
        }
        if (r % 101 == 0)
            decoder.m_playBitRate.store(static_cast<double>(r % 100'000'000));
        if (r % 89 == 0)
            decoder.m_syncLoss = 0;
    }
    decoder.UpdateDisplay(1, 1);

    std::vector<unsigned char> tail(input, input + size);
    for (int packetSize : {0, 188, 204})
    {
        const int after = decoder.LocateLastPacketInData(tail.data(), static_cast<long>(tail.size()), packetSize);
        if (after < 0 || static_cast<std::size_t>(after) > tail.size())
            __builtin_trap();
    }
    return 0;
}
