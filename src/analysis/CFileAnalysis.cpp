#include "analysis/CFileAnalysis.h"

#include "analysis/CDecodeStream.h"
#include "common/CPathString.h"
#include "common/FormatThousands.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

namespace
{
// The head reads go into one buffer with one sector of headroom in front, as
// the play engine's reads do.
constexpr long kSectorBytes = 512;
constexpr long kBufferBytes = (1024 * 1024 / kSectorBytes + 2) * kSectorBytes;

class CFileHandle
{
public:
    // O_NONBLOCK: opening a named pipe without a writer would wait for one for ever.
    explicit CFileHandle(const std::string& path) : m_fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK)) {}
    ~CFileHandle()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    CFileHandle(const CFileHandle&) = delete;
    CFileHandle& operator=(const CFileHandle&) = delete;
    int Fd() const { return m_fd; }

private:
    int m_fd;
};

// A read that retries after signals and short reads; a failure counts as the end.
// Enough for the sync search of LooksLikeM2ts at every start offset.
constexpr std::size_t kM2tsProbeBytes = 6 * 192;

long ReadUpTo(int fd, unsigned char* buffer, long want)
{
    long total = 0;
    while (total < want)
    {
        const ssize_t n = ::read(fd, buffer + total, static_cast<std::size_t>(want - total));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        total += n;
    }
    return total;
}

std::string Label(const std::string& path)
{
    try
    {
        const CPathString file(path);
        return file.GetName() + file.GetExtension(true);
    }
    catch (const CPathException&)
    {
        return path;
    }
}
} // namespace

bool CFileAnalysis::LooksLikeM2ts(const std::uint8_t* data, std::size_t length)
{
    constexpr std::size_t kM2tsPacket = 192;
    constexpr std::size_t kRuns = 5;
    for (std::size_t start = 0; start < kM2tsPacket && start + (kRuns - 1) * kM2tsPacket < length; ++start)
    {
        std::size_t found = 0;
        while (found < kRuns && data[start + found * kM2tsPacket] == 0x47)
            ++found;
        if (found == kRuns)
            return true;
    }
    return false;
}

double CFileAnalysis::DefaultBitRate(std::int64_t fileSize)
{
    if (fileSize < kSmallFileBytes)
        return kRateSmallFile;
    if (fileSize < kHeadBytes)
        return kRateMediumFile;
    return kRateLargeFile;
}

CTreeNode CFileAnalysis::FileInformation(const CFileAnalysisResult& result, const std::string& separator)
{
    CTreeNode root;
    if (!result.ok)
    {
        root.text = "Error reading file";
        root.Add("Invalid file");
        root.expanded = true;
        return root;
    }
    root.text = result.fileNameLabel;
    auto low32 = [](std::int64_t value) { return static_cast<int>(static_cast<std::uint32_t>(value)); };
    char line[128];
    if (result.fileSize > 0 && result.packetSize != 0)
    {
        root.Add(FormatThousands(result.fileSize, separator) + " bytes", "fileSize", result.fileSize);
        std::snprintf(line, sizeof line, "Playtime: +/- %.02fsec",
                      static_cast<double>(result.playTimeMs) / 1000.0 + 0.005);
        root.Add(line, "playTimeMs", result.playTimeMs);
        std::snprintf(line, sizeof line, "Before first packet: %d", low32(result.bytesBeforeFirstPacket));
        root.Add(line, "bytesBeforeFirstPacket", result.bytesBeforeFirstPacket);
        std::snprintf(line, sizeof line, "After last packet: %d", low32(result.bytesAfterLastPacket));
        root.Add(line, "bytesAfterLastPacket", result.bytesAfterLastPacket);
        root.Add("Packets: " + FormatThousands(result.packetCount, separator), "packetCount", result.packetCount);
        std::snprintf(line, sizeof line, "Packet size: %d", result.packetSize);
        root.Add(line, "packetSize", result.packetSize);
        const auto rate = static_cast<std::int64_t>(result.bitRate);
        root.Add("Bit rate: " + FormatThousands(rate, separator) + " bps", "bitRate", rate);
        root.expanded = true;
    }
    else if (!result.fileNameLabel.empty())
    {
        root.Add(result.error.empty() ? std::string("No data in file") : result.error);
        root.expanded = true;
    }
    return root;
}

bool CFileAnalysis::JudgeWholeFile(const std::string& path, double pidTimeoutSeconds, CTr101290Counters& counters,
                                   std::int64_t& bytes)
{
    bytes = 0;
    CFileHandle file(path);
    if (file.Fd() < 0)
        return false;
    CDecodeStream decoder;
    decoder.ResetListData(1, 1);
    decoder.SetPidTimeout(pidTimeoutSeconds);
    std::vector<unsigned char> buffer(static_cast<std::size_t>(kBufferBytes));
    while (true)
    {
        const ssize_t n = ::read(file.Fd(), buffer.data() + kSectorBytes, kBufferBytes - kSectorBytes);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        if (n == 0)
            break;
        bytes += n;
        unsigned char* data = buffer.data() + kSectorBytes;
        long count = static_cast<long>(n);
        decoder.InsertStreamData(data, count, kSectorBytes);
        decoder.CopyStreamData(buffer.data(), kSectorBytes, buffer.data());
    }
    counters = decoder.TakeSnapshot().tr101290;
    return true;
}

CFileAnalysisResult CFileAnalysis::Analyse(const std::string& path, CDecodeStream& decoder,
                                           const std::string& separator)
{
    const std::string sep = separator.empty() ? LocaleThousandsSeparator() : separator;
    CFileAnalysisResult result;
    result.fileNameLabel = Label(path);

    CFileHandle file(path);
    struct stat status;
    if (path.empty() || file.Fd() < 0 || ::fstat(file.Fd(), &status) != 0)
    {
        result.error = path.empty() ? std::string("No file chosen") : std::strerror(errno);
        result.fileInformation = FileInformation(result, sep);
        return result;
    }
    const bool block = S_ISBLK(status.st_mode);
    if (!S_ISREG(status.st_mode) && !block)
    {
        result.error = S_ISDIR(status.st_mode) ? std::strerror(EISDIR) : kMsgNotAFile;
        result.fileInformation = FileInformation(result, sep);
        return result;
    }

    std::vector<unsigned char> buffer(static_cast<std::size_t>(kBufferBytes));
    decoder.ResetStreamData();
    decoder.ResetListData(1, 1);

    // Head: chunks of one buffer less the headroom, until a little over 10 MiB.
    std::int64_t totalRead = 0;
    while (true)
    {
        long count = ReadUpTo(file.Fd(), buffer.data() + kSectorBytes, kBufferBytes - kSectorBytes);
        totalRead += count;
        if (count != 0)
        {
            unsigned char* data = buffer.data() + kSectorBytes;
            decoder.InsertStreamData(data, count, kSectorBytes);
            decoder.CopyStreamData(buffer.data(), kSectorBytes, buffer.data());
        }
        if (totalRead > kHeadBytes || count == 0)
            break;
    }

    if (::fstat(file.Fd(), &status) != 0)
    {
        result.error = std::strerror(errno);
        result.fileInformation = FileInformation(result, sep);
        return result;
    }
    result.ok = true;
    result.analysedBytes = totalRead;
    // A block device has no size in its status: its end tells it.
    result.fileSize = block ? static_cast<std::int64_t>(::lseek(file.Fd(), 0, SEEK_END)) : status.st_size;
    if (result.fileSize < 0)
        result.fileSize = 0;
    result.bitRate = decoder.State().m_bitRate.load();
    result.pcrFound = result.bitRate != 0.0;
    if (!result.pcrFound)
        result.bitRate = DefaultBitRate(result.fileSize);
    result.bytesBeforeFirstPacket = decoder.m_firstPacketOffset.load();
    result.packetSize = decoder.m_packetSize.load();
    result.fileTotTdtTime = decoder.State().m_fileTotTdtTime.load();

    // Tail: the last 1 MiB (or the whole file when smaller).
    const std::int64_t tailStart = result.fileSize - std::min<std::int64_t>(result.fileSize, kTailBytes);
    if (::lseek(file.Fd(), tailStart, SEEK_SET) == tailStart)
    {
        const long count = ReadUpTo(file.Fd(), buffer.data(), kBufferBytes);
        if (count > 0)
            result.bytesAfterLastPacket = decoder.LocateLastPacketInData(buffer.data(), count, result.packetSize);
    }

    if (result.packetSize == 0 && result.fileSize > 0)
    {
        // A Blu-ray style file is read but not played: say so instead of "no data".
        std::uint8_t head[kM2tsProbeBytes];
        const ssize_t got = ::pread(file.Fd(), head, sizeof head, 0);
        if (got > 0 && LooksLikeM2ts(head, static_cast<std::size_t>(got)))
            result.error = kMsgM2tsPackets;
    }
    if (result.packetSize > 0)
        result.packetCount =
            (result.fileSize - result.bytesAfterLastPacket - result.bytesBeforeFirstPacket) / result.packetSize;
    if (result.packetCount < 0)
        result.packetCount = 0;
    if (result.bitRate > 0.0)
        result.playTimeMs = static_cast<std::int64_t>(static_cast<double>(result.packetCount) * result.packetSize *
                                                      8000.0 / result.bitRate);
    result.fileInformation = FileInformation(result, sep);
    return result;
}
