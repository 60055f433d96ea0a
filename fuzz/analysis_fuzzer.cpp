// libFuzzer target: arbitrary bytes in arbitrary chunkings through the analysis
// object, as the play engine and the record thread feed it, with tree refreshes,
// stream restarts and the tail search in between. The first two bytes of an
// input choose the chunking; the rest is the stream.

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
