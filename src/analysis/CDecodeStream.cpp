// The chunk contract, the lock and the public data around CTsAnalyzer.
#include "analysis/CDecodeStream.h"

#include "analysis/CAnalysisTreeBuilder.h"
#include "analysis/CStreamAdapter.h"
#include "analysis/CTsAnalyzer.h"
#include "analysis/ITreeSink.h"
#include "common/CTimedMutex.h"
#include "common/FormatThousands.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstring>
#include <ctime>
#include <limits>
#include <mutex>

namespace
{
// Every wait on the analysis lock gives up after this long.
constexpr std::chrono::milliseconds kLockTimeout{1000};

// The holder keeps the lock for about a millisecond per chunk at most.
std::unique_lock<CTimedMutex> LockWithTimeout(CTimedMutex& mutex)
{
    return std::unique_lock<CTimedMutex>(mutex, kLockTimeout);
}
} // namespace

struct CDecodeStream::Impl
{
    CTimedMutex lock;
    CTsAnalyzer analyzer;
    // The start of the unfinished packet held back from the last chunk; it goes
    // in front of the next chunk, into the caller's headroom.
    std::array<std::uint8_t, CPacketSync::kPacketSize204> hold{};
    std::size_t holdLength = 0;
    CStreamAdapter adapter;
    bool newPlay = true; // the next play start (or chunk) begins a new output timeline
    std::uint32_t publishedSyncLoss = 0;
    bool firstTimePublished = false; // the file's TOT/TDT time is taken once per stream
    std::atomic<ITreeSink*> pidTree{nullptr};
    std::atomic<ITreeSink*> progTree{nullptr};
    std::mutex separatorLock;
    std::string separator; // the user's locale separator, looked up at the first refresh
};

CDecodeStream::CDecodeStream() : m_impl(new Impl) {}

CDecodeStream::~CDecodeStream()
{
    delete m_impl;
}

void CDecodeStream::SetPidTree(ITreeSink* tree)
{
    m_impl->pidTree.store(tree);
}

void CDecodeStream::SetProgTree(ITreeSink* tree)
{
    m_impl->progTree.store(tree);
}

void CDecodeStream::SetThousandsSeparator(std::string separator)
{
    std::lock_guard guard(m_impl->separatorLock);
    m_impl->separator = std::move(separator);
}

void CDecodeStream::ResetStreamData()
{
    std::unique_lock guard = LockWithTimeout(m_impl->lock);
    if (!guard.owns_lock())
        return;
    m_impl->holdLength = 0;
    m_impl->analyzer.Restart();
}

void CDecodeStream::ResetListData(int pidList, int progList)
{
    std::unique_lock guard = LockWithTimeout(m_impl->lock);
    if (!guard.owns_lock())
        return;
    m_impl->analyzer.Reset(pidList != 0, progList != 0);
    if (pidList != 0)
    {
        m_impl->holdLength = 0;
        m_impl->publishedSyncLoss = 0;
        m_packetSize.store(0);
        m_firstPacketOffset.store(0);
        m_syncLoss.store(0);
        m_state.m_bitRate.store(0.0);
        m_state.m_pcrSeen.store(0);
        // Play start clears only the program list: the file's own time must survive it.
        m_impl->firstTimePublished = false;
        m_state.m_fileTotTdtTime.store(0);
    }
    if (progList != 0)
        m_impl->newPlay = true; // play start, file analysis, record start: a new stream
}

int CDecodeStream::InsertStreamData(unsigned char*& data, long& length, long headroom)
{
    if (data == nullptr || length <= 0)
        return 0;
    std::unique_lock guard = LockWithTimeout(m_impl->lock);
    if (!guard.owns_lock())
        return 0; // the chunk passes unchanged and unanalysed
    Impl& impl = *m_impl;

    const auto held = static_cast<long>(impl.holdLength);
    long fresh = 0;
    if (held > 0 && held <= headroom)
    {
        std::memcpy(data - held, impl.hold.data(), impl.holdLength);
        data -= held;
        length += held;
        fresh = held;
    }
    impl.holdLength = 0;

    // Only the new bytes are analysed: the held ones were analysed with the last chunk.
    impl.analyzer.Feed(data + fresh, static_cast<std::size_t>(length - fresh));

    const auto pending = static_cast<long>(impl.analyzer.Sync().PendingPacketBytes());
    if (pending > 0 && pending <= headroom && pending <= length)
    {
        std::memcpy(impl.hold.data(), data + length - pending, static_cast<std::size_t>(pending));
        impl.holdLength = static_cast<std::size_t>(pending);
        length -= pending;
    }

    if (impl.newPlay)
    {
        impl.adapter.NewPlay(static_cast<std::int64_t>(std::time(nullptr)));
        impl.newPlay = false;
    }
    CAdaptSettings settings;
    settings.pcr = m_state.m_pcrRestamp.load() != 0 || m_state.m_pcrRestamp2.load() != 0;
    settings.cc = m_state.m_ccRestamp.load() != 0;
    settings.time = m_state.m_totTdtEnable.load() != 0;
    settings.timeType = m_state.m_totTdtTimeType.load();
    settings.timeOffset = m_state.m_totTdtOffset.load();
    settings.fileTime = m_state.m_fileTotTdtTime.load();
    settings.playBitRate = m_playBitRate.load();
    // The range now starts on a packet (the held bytes begin one) and ends on one.
    impl.adapter.Process(data, static_cast<std::size_t>(length), impl.analyzer.Sync().PacketSize(), settings,
                         [&impl](std::uint16_t pid) { return impl.analyzer.PcrPidOf(pid); });

    // Publish the figures the callers poll.
    const CPacketSync& sync = impl.analyzer.Sync();
    m_packetSize.store(sync.PacketSize());
    m_firstPacketOffset.store(static_cast<std::int32_t>(
        std::clamp<std::int64_t>(sync.FirstPacketOffset(), 0, std::numeric_limits<std::int32_t>::max())));
    const std::uint32_t losses = sync.SyncLoss();
    if (losses != impl.publishedSyncLoss)
    {
        // Added, not stored: a caller may have written 0 to restart the count.
        m_syncLoss.fetch_add(static_cast<std::int32_t>(losses - impl.publishedSyncLoss));
        impl.publishedSyncLoss = losses;
    }
    m_state.m_bitRate.store(impl.analyzer.BitRate());
    m_state.m_pcrSeen.store(impl.analyzer.PcrSeen() ? 1 : 0);
    const std::int64_t firstTime = impl.analyzer.FirstTime();
    if (!impl.firstTimePublished && firstTime != 0)
    {
        m_state.m_fileTotTdtTime.store(firstTime);
        impl.firstTimePublished = true;
    }
    return 1;
}

int CDecodeStream::CopyStreamData(unsigned char*, long, unsigned char*)
{
    // InsertStreamData already keeps the unfinished packet (at most 203 bytes) in
    // the object, so a caller that skips this call loses nothing.
    std::unique_lock guard = LockWithTimeout(m_impl->lock);
    return guard.owns_lock() ? static_cast<int>(m_impl->holdLength) : 0;
}

int CDecodeStream::LocateLastPacketInData(unsigned char* data, long length, int packetSize)
{
    if (data == nullptr || length <= 0 || packetSize <= 0 || length < packetSize)
        return length > 0 ? static_cast<int>(std::min<long>(length, std::numeric_limits<int>::max())) : 0;
    // Walk the packets from the first start confirmed by the next two (as far as
    // the data reaches), resynchronising after a break; the last whole packet
    // ends the walk. Junk after it (zero bytes, a cut packet) needs no sync byte.
    const auto confirmed = [&](long at) {
        for (long k = 0; k < 3 && at + k * packetSize < length; ++k)
        {
            if (data[at + k * packetSize] != 0x47)
                return false;
        }
        return true;
    };
    long lastEnd = -1;
    long at = 0;
    while (at + packetSize <= length)
    {
        if (data[at] != 0x47 || (lastEnd != at && !confirmed(at)))
        {
            ++at;
            continue;
        }
        lastEnd = at + packetSize;
        at = lastEnd;
    }
    // No packet at all in the data: every byte of it is after the last packet.
    const long after = lastEnd < 0 ? length : length - lastEnd;
    return static_cast<int>(std::min<long>(after, std::numeric_limits<int>::max()));
}

void CDecodeStream::ResetPCRRestamp()
{
    std::unique_lock guard = LockWithTimeout(m_impl->lock);
    if (guard.owns_lock())
        m_impl->adapter.Rebase();
}

void CDecodeStream::ResetPTSDTSRestamp(std::int64_t)
{
    // The PTS/DTS shift is measured again at the first PCR after the jump; the
    // file offset is not needed for that (see docs/adaptations.md).
    std::unique_lock guard = LockWithTimeout(m_impl->lock);
    if (guard.owns_lock())
        m_impl->adapter.Rebase();
}

void CDecodeStream::ResetFirstPCR()
{
    // The first jump of a play starts its output timeline; later ones continue it.
    std::unique_lock guard = LockWithTimeout(m_impl->lock);
    if (!guard.owns_lock() || !m_impl->newPlay)
        return;
    m_impl->adapter.NewPlay(static_cast<std::int64_t>(std::time(nullptr)));
    m_impl->newPlay = false;
}

void CDecodeStream::SetLoop()
{
    std::unique_lock guard = LockWithTimeout(m_impl->lock);
    if (guard.owns_lock())
        m_impl->adapter.Rebase();
}

void CDecodeStream::AddOutputBytes(std::int64_t bytes)
{
    std::unique_lock guard = LockWithTimeout(m_impl->lock);
    if (guard.owns_lock())
        m_impl->adapter.AddOutputBytes(bytes, m_impl->analyzer.Sync().PacketSize());
}

std::int64_t CDecodeStream::OutputPosition()
{
    std::unique_lock guard = LockWithTimeout(m_impl->lock);
    return guard.owns_lock() ? m_impl->adapter.OutputPosition() : 0;
}

CAnalysisSnapshot CDecodeStream::TakeSnapshot()
{
    CAnalysisSnapshot snapshot;
    {
        std::unique_lock guard = LockWithTimeout(m_impl->lock);
        if (guard.owns_lock())
            m_impl->analyzer.FillSnapshot(snapshot);
    }
    snapshot.syncLoss = static_cast<std::uint32_t>(m_syncLoss.load());
    return snapshot;
}

void CDecodeStream::SetPidTimeout(double seconds)
{
    std::unique_lock guard = LockWithTimeout(m_impl->lock);
    if (guard.owns_lock())
        m_impl->analyzer.Tr101290().SetPidTimeout(seconds);
}

void CDecodeStream::UpdateDisplay(int pidTree, int progTree)
{
    ITreeSink* pidSink = pidTree != 0 ? m_impl->pidTree.load() : nullptr;
    ITreeSink* progSink = progTree != 0 ? m_impl->progTree.load() : nullptr;
    if (pidSink == nullptr && progSink == nullptr)
        return;
    const CAnalysisSnapshot snapshot = TakeSnapshot();
    std::string separator;
    {
        std::lock_guard guard(m_impl->separatorLock);
        if (m_impl->separator.empty())
            m_impl->separator = LocaleThousandsSeparator();
        separator = m_impl->separator;
    }
    const CAnalysisTreeBuilder builder(separator);
    if (progSink != nullptr)
        progSink->ShowTree(builder.BuildProgramTree(snapshot));
    if (pidSink != nullptr)
        pidSink->ShowTree(builder.BuildPidTree(snapshot));
}
