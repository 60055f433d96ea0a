#include "engine/CPlayController.h"

#include "analysis/CDecodeStream.h"
#include "common/FormatThousands.h"
#include "engine/CNetworkSender.h"
#include "engine/ISendHealth.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <limits>

namespace
{
// The slider's quarter: a pass that ends shows as a jump from the last quarter
// of the range to the first one.
constexpr std::int64_t kQuarter = CPlayController::kPermille / 4;
} // namespace

CPlayController::CPlayController(CNetworkSender& sender, CDecodeStream& decoder, IMessageSink* messages)
    : m_sender(sender), m_decoder(decoder), m_messages(messages), m_engine(&sender, &m_startMessages)
{
}

CPlayController::~CPlayController()
{
    m_engine.Stop();
}

CFileAnalysisResult CPlayController::Analyse(const std::string& path)
{
    CFileAnalysisResult result = CFileAnalysis::Analyse(path, m_decoder);
    if (result.ok)
    {
        m_file = result;
        m_filePath = path;
    }
    else
    {
        m_filePath.clear(); // the figures kept are not this file's: Start does not check against them
    }
    return result;
}

std::uint32_t CPlayController::BitRate() const
{
    if (m_settings.bitRate != 0)
        return m_settings.bitRate;
    // The sender paces at whole bits per second.
    return static_cast<std::uint32_t>(
        std::clamp(m_file.bitRate, 0.0, static_cast<double>(std::numeric_limits<std::uint32_t>::max())));
}

std::uint32_t CPlayController::PacketSize() const
{
    if (m_settings.packetSize != 0)
        return m_settings.packetSize;
    return m_file.packetSize > 0 ? static_cast<std::uint32_t>(m_file.packetSize) : kDefaultPacketSize;
}

std::int64_t CPlayController::FilePlayTimeMs() const
{
    const std::int64_t bitRate = BitRate();
    if (bitRate <= 0)
        return kUnknownPlayTimeMs;
    const std::int64_t packetSize = m_file.packetSize > 0 ? PacketSize() : 0;
    return m_file.packetCount * packetSize * 8'000 / bitRate;
}

std::uint32_t CPlayController::TsSecondsAt(std::uint32_t permille) const
{
    const double fraction = static_cast<double>(std::min(permille, kPermille)) / kPermille;
    return static_cast<std::uint32_t>(fraction * static_cast<double>(FilePlayTimeMs()) / 1'000.0);
}

CPlayController::StartResult CPlayController::Check(const std::string& path, const PlaySettings& settings) const
{
    // Only the figures of this very file say what it holds.
    if (!path.empty() && path == m_filePath && m_file.fileSize > 0)
    {
        if (m_file.packetSize == 0 && settings.packetSize == 0)
            return StartResult::NotTransportStream;
        if (settings.packetSize != 0 && m_file.packetSize != 0 &&
            settings.packetSize != static_cast<std::uint32_t>(m_file.packetSize))
            return StartResult::PacketSizeMismatch;
    }
    if (settings.position && (*settings.position < settings.rangeStart || *settings.position > settings.rangeEnd))
        return StartResult::PositionOutsideRange;
    return StartResult::Started;
}

CPlayController::StartResult CPlayController::Start(const std::string& path, const PlaySettings& settings)
{
    if (m_state == PlayState::Playing)
    {
        // Also while the tail drains: a restart would drop it.
        Resume();
        return StartResult::AlreadyPlaying;
    }
    const StartResult refused = Check(path, settings);
    if (refused != StartResult::Started)
        return refused;

    m_settings = settings;
    const std::uint32_t bitRate = BitRate();
    const std::uint32_t packetSize = PacketSize();
    m_sender.SetRate(bitRate, packetSize);
    m_sender.SetDestination(settings.Destination(), settings.rtp);
    m_sender.SetOutput(settings.output);
    m_sender.SetMulticast(settings.ttl, settings.interfaceAddress);
    m_sender.SetMulticastInterfaceIndex(settings.interfaceIndex);
    m_sender.SetPacing(settings.smoothPacing ? settings.pacing : CNetworkSender::PacingMode::Burst);
    m_sender.SetOutputStage({settings.extraDestinations, settings.fec, settings.impairment, settings.impairSeed});

    const Adaptations& a = settings.adaptations;
    const bool decoderOn = a.pcrRestamp || a.ccRestamp || a.totTdt || settings.analyse;
    if (decoderOn)
    {
        m_decoder.ResetListData(0, 1);
        m_decoder.m_playBitRate.store(static_cast<double>(bitRate)); // restamping at the rate the sender paces
        ApplyAdaptations(a);
    }
    m_engine.SetDecoder(&m_decoder, decoderOn);
    m_engine.SetPacketSize(packetSize);
    m_engine.SetLoop(settings.loop);
    m_engine.SetRange(settings.rangeStart, settings.rangeEnd);
    const std::uint32_t position =
        std::clamp(settings.position.value_or(settings.rangeStart), m_engine.GetRangeStart(), m_engine.GetRangeEnd());
    m_engine.SetPosition(position);
    m_engine.RequestJump();

    m_starting.store(true, std::memory_order_release);
    const bool started = m_engine.StartPlay(path);
    m_starting.store(false, std::memory_order_release);
    if (!started)
        return StartResult::Failed;

    m_state = PlayState::Playing;
    m_startMs = NowMs();
    m_pausedMs = 0;
    m_loopCount = 0;
    ShowAt(m_engine.GetFileSize() * position / kPermille - RangeStartOffset());
    return StartResult::Started;
}

bool CPlayController::Pause()
{
    if (m_state != PlayState::Playing)
        return false;
    if (!m_engine.IsPaused())
    {
        // The engine holds the sender whether its reader still reads or has
        // finished and only the FIFO drains.
        m_engine.Pause(true);
        m_pauseStartMs = NowMs();
    }
    return true;
}

void CPlayController::Resume()
{
    if (!m_engine.IsPaused())
        return;
    m_pausedMs += NowMs() - m_pauseStartMs;
    m_engine.Pause(false);
}

bool CPlayController::IsPaused() const
{
    return m_engine.IsPaused();
}

std::uint32_t CPlayController::Jump(std::uint32_t permille)
{
    const std::uint32_t position = std::clamp(permille, m_engine.GetRangeStart(), m_engine.GetRangeEnd());
    if (m_state == PlayState::Playing)
    {
        m_engine.SetPosition(position); // before the request: the reader reads it when it sees the request
        m_engine.RequestJump();
    }
    ShowAt(FileSize() * position / kPermille - RangeStartOffset());
    return position;
}

void CPlayController::SetLoop(bool loop)
{
    m_settings.loop = loop;
    m_engine.SetLoop(loop);
}

void CPlayController::ApplyAdaptations(const Adaptations& adaptations)
{
    m_settings.adaptations = adaptations;
    CAnalysisState& state = m_decoder.State();
    state.m_pcrRestamp.store(adaptations.pcrRestamp ? 1 : 0);
    state.m_pcrRestamp2.store(adaptations.pcrRestamp ? 1 : 0);
    state.m_ccRestamp.store(adaptations.ccRestamp ? 1 : 0);
    ApplyTotTdt(adaptations);
}

void CPlayController::ApplyTotTdt(const Adaptations& adaptations)
{
    m_settings.adaptations.totTdt = adaptations.totTdt;
    m_settings.adaptations.totTdtType = adaptations.totTdtType;
    m_settings.adaptations.totTdtOffset = adaptations.totTdtOffset;
    CAnalysisState& state = m_decoder.State();
    state.m_totTdtTimeType.store(adaptations.totTdtType);
    state.m_totTdtOffset.store(adaptations.totTdtOffset);
    state.m_totTdtEnable.store(adaptations.totTdt ? 1 : 0);
}

bool CPlayController::Stop()
{
    const bool paused = m_engine.IsPaused();
    const bool stopped = m_engine.Stop();
    if (m_state == PlayState::Playing)
    {
        // The elapsed time of the play stays readable, without a pause it ended in.
        m_stopMs = NowMs();
        if (paused)
            m_pausedMs += m_stopMs - m_pauseStartMs;
    }
    m_state = PlayState::Stopped;
    ShowAt(0);
    m_loopCount = 0;
    return stopped;
}

std::int64_t CPlayController::FileSize() const
{
    return m_state == PlayState::Playing ? m_engine.GetFileSize() : m_file.fileSize;
}

std::int64_t CPlayController::RangeStartOffset() const
{
    // As the engine places the range.
    return FileSize() * m_engine.GetRangeStart() / kPermille;
}

std::int64_t CPlayController::RangeLength() const
{
    return FileSize() * m_engine.GetRangeEnd() / kPermille - RangeStartOffset();
}

void CPlayController::ShowAt(std::int64_t within)
{
    const std::int64_t range = RangeLength();
    m_shownWithin = std::clamp<std::int64_t>(within, 0, std::max<std::int64_t>(range, 0));
    m_shownRangePermille = range > 0 ? m_shownWithin * kPermille / range : 0;
}

std::int64_t CPlayController::ElapsedMs() const
{
    std::int64_t end = m_state == PlayState::Playing ? NowMs() : m_stopMs;
    if (m_engine.IsPaused())
        end = m_pauseStartMs; // the elapsed time holds through a pause
    return std::max<std::int64_t>(end - m_startMs - m_pausedMs, 0);
}

void CPlayController::FollowPosition(const PlayProgress& progress, bool readerDone)
{
    const std::int64_t range = RangeLength();
    // A jump not yet taken by the reader leaves the counters of the old position.
    if (range <= 0 || m_engine.IsJumpRequested())
        return;
    std::uint32_t packetSize = m_engine.GetPacketSize();
    if (packetSize == 0 || packetSize > CNetworkSender::kMaxPacketSize)
        packetSize = kDefaultPacketSize;
    const std::int64_t stuffing = std::int64_t{CFilePlayEngine::kStuffingPackets} * packetSize;

    // What has left the sender, as bytes of the range: the engine counts what
    // it handed over, the stuffing of the start (or jump) included, and what
    // still waits in the FIFO has not left. Once the reader has finished, its
    // closing stuffing is no file data either.
    const std::int64_t played = m_engine.GetPlayedBytes();
    std::int64_t left = played - static_cast<std::int64_t>(progress.fifoLevel);
    if (readerDone)
        left = std::min(left, played - stuffing);
    const std::int64_t done = std::max<std::int64_t>(left - stuffing, 0);

    m_loopCount = done / range;
    std::int64_t within = done % range;
    if (readerDone && !m_engine.GetLoop() && done > 0 && within == 0)
    {
        // The last pass has left completely: its end shows, and ending is no loop.
        within = range;
        --m_loopCount;
    }

    // Never backwards, except at the end of a pass; a jump backwards over the
    // end of the range is not shown.
    const std::int64_t next = within * kPermille / range;
    const std::int64_t shown = m_shownRangePermille;
    if (shown > static_cast<std::int64_t>(kPermille) - kQuarter && next < kQuarter)
        ShowAt(within);
    else if (shown < kQuarter && next > static_cast<std::int64_t>(kPermille) - kQuarter)
        return;
    else if (next >= shown)
        ShowAt(within);
}

void CPlayController::ReadNetworkStatus(PlayProgress& progress)
{
    std::uint32_t flags = 0;
    if (m_health != nullptr)
    {
        flags = m_health->StatusFlags();
        progress.datagramsNotSent = m_health->DatagramsNotSent();
        progress.sendError = m_health->LastSendError();
    }
    else
    {
        flags = m_sender.GetStatusFlags();
        progress.datagramsNotSent = m_sender.GetDatagramsNotSent();
        progress.sendError = m_sender.GetLastSendError();
    }

    progress.statusColour = StatusColour::Red;
    if (progress.datagramsNotSent > 0)
    {
        // Lost for good: it stays for the rest of the play, above every other text.
        progress.network = NetworkStatus::SendError;
        progress.statusText = kStatusSendError;
        progress.statusDetail =
            (progress.sendError != 0 ? CNetworkSender::ErrorText(progress.sendError, m_settings.Destination())
                                     : std::string("reason unknown")) +
            ", " + FormatThousands(static_cast<std::int64_t>(progress.datagramsNotSent)) +
            (progress.datagramsNotSent == 1 ? " datagram" : " datagrams") + " not sent";
    }
    else if (flags & CNetworkSender::kStatusUnderflow)
    {
        progress.network = NetworkStatus::Underflow;
        progress.statusText = kStatusUnderflow;
    }
    else if (flags & CNetworkSender::kStatusBusy)
    {
        progress.network = NetworkStatus::Busy;
        progress.statusText = kStatusBusy;
    }
    else if (flags & CNetworkSender::kStatusTimer)
    {
        progress.network = NetworkStatus::Timer;
        progress.statusText = kStatusTimer;
    }
    else
    {
        progress.network = NetworkStatus::NoErrors;
        progress.statusText = kStatusNoErrors;
        progress.statusColour = StatusColour::Green;
    }
    // Deliberate loss is no send error, but it is never hidden behind "No errors detected".
    const CSendPaths::Counters stage = m_sender.GetOutputCounters();
    progress.impairment = stage.impairment;
    progress.fec = stage.fec;
    progress.delayCut = stage.delayCut;
    if (progress.statusDetail.empty())
        progress.statusDetail = ImpairmentText(stage.impairment);
}

std::string CPlayController::ImpairmentText(const CImpairment::Counters& c)
{
    if (c.in == 0)
        return {};
    const auto n = [](std::uint64_t v) { return FormatThousands(static_cast<std::int64_t>(v)); };
    const std::uint64_t lost = c.lost + c.burstLost;
    std::string text = "Impairment: " + n(lost) + (lost == 1 ? " datagram" : " datagrams") + " lost on purpose";
    if (lost > 0)
        text += " (" + n(c.lost) + " at random, " + n(c.burstLost) + " in bursts)";
    text += ", " + n(c.reordered) + " re-ordered, " + n(c.duplicated) + " duplicated, " + n(c.delayed) + " delayed";
    if (c.delayed > 0)
    {
        char max[32];
        std::snprintf(max, sizeof max, " (up to %.1f ms)", static_cast<double>(c.maxDelayNs) / 1e6);
        text += max;
    }
    return text;
}

CPlayController::PlayProgress CPlayController::Progress()
{
    PlayProgress progress;
    progress.state = m_state;
    progress.fifoLevel = m_sender.GetFifoLevel();
    const bool readerDone = !m_engine.IsRunning();
    if (readerDone && m_engine.IsFinished())
        m_engine.ClearFinished();
    if (m_state == PlayState::Playing)
    {
        progress.paused = m_engine.IsPaused();
        // Everything read has left the sender, the last partial datagram too.
        progress.playedOut = readerDone && m_engine.IsPlayedOut();
        FollowPosition(progress, readerDone);
    }
    progress.elapsedMs = ElapsedMs();
    progress.loopCount = m_loopCount;

    const std::int64_t fileSize = FileSize();
    if (fileSize > 0)
    {
        // Position and Ts time are the file's, not the range's.
        const std::int64_t inFile = std::min(RangeStartOffset() + m_shownWithin, fileSize);
        progress.positionPermille = static_cast<std::uint32_t>(inFile * kPermille / fileSize);
        const double fraction = static_cast<double>(inFile) / static_cast<double>(fileSize);
        progress.tsSeconds = static_cast<std::uint32_t>(fraction * static_cast<double>(FilePlayTimeMs()) / 1'000.0);
    }
    ReadNetworkStatus(progress);
    progress.pacing = CNetworkSender::PacingName(m_sender.GetPacingInUse());
    progress.pacingNote = m_sender.GetPacingNote();
    return progress;
}

CPlayController::Rgb CPlayController::ColourRgb(StatusColour colour)
{
    return colour == StatusColour::Red ? Rgb{255, 0, 0} : Rgb{0, 255, 0};
}

std::string CPlayController::FormatDuration(std::int64_t seconds)
{
    char text[32];
    std::snprintf(text, sizeof text, "%d:%02d:%02d", static_cast<int>(seconds / 3'600),
                  static_cast<int>(seconds / 60 % 60), static_cast<int>(seconds % 60));
    return text;
}

const char* CPlayController::RefusalText(StartResult result)
{
    switch (result)
    {
    case StartResult::NotTransportStream:
        return "The file is not a transport stream: no 188- or 204-byte packets were found.";
    case StartResult::PacketSizeMismatch:
        return "The packet size does not match the file.";
    case StartResult::PositionOutsideRange:
        return "The start position lies outside the play range.";
    default:
        return "";
    }
}

void CPlayController::CStartMessages::ShowMessage(const std::string& text)
{
    // The engine puts the system's reason for a failed start on the second line itself.
    if (m_owner.m_messages != nullptr)
        m_owner.m_messages->ShowMessage(text);
}
