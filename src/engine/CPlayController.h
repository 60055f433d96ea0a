#pragma once
//! @file CPlayController.h
//! One play of a transport-stream file to the network, without any window:
//! what the Play tab's buttons and its 100 ms status timer do, shared by the
//! tab and `orvane-cli play`.
//!
//! The controller analyses the file, checks the play settings against it,
//! sets up the network sender and the analysis object (adaptations), starts,
//! pauses, resumes, jumps and stops the file play engine, and turns what the
//! engine and the sender report into one progress snapshot: the position in
//! the file and the loop count of what has left the sender (not of what was
//! read: the FIFO holds up to a second ahead), the Ts time of that position,
//! the elapsed time without pauses, and the network status text.
//!
//! Ownership: the controller owns the file play engine; the sender, the
//! analysis object and the message sink are borrowed and outlive it.
//! Threads: every call on the owner's thread (the window thread or the CLI loop).

#include "analysis/CFileAnalysis.h"
#include "common/CSteadyClock.h"
#include "common/IMessageSink.h"
#include "engine/CFecEncoder.h"
#include "engine/CFilePlayEngine.h"
#include "engine/CImpairment.h"
#include "engine/CNetworkSender.h"

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

class CDecodeStream;
class ISendHealth;

class CPlayController
{
public:
    static constexpr std::uint32_t kPermille = 1'000;
    //! Ts time of a file whose bit rate is unknown (0).
    static constexpr std::int64_t kUnknownPlayTimeMs = 2'147'483'647;
    static constexpr std::uint32_t kDefaultPacketSize = 188;

    static constexpr const char* kStatusNoErrors = "No errors detected";
    static constexpr const char* kStatusSendError = "Network send error";
    static constexpr const char* kStatusUnderflow = "Network FIFO Underflow";
    static constexpr const char* kStatusBusy = "Network busy";
    static constexpr const char* kStatusTimer = "Network timer";

    enum class PlayState
    {
        Stopped,
        Playing, //!< from a successful Start until Stop or the end of play, paused or not
    };

    enum class StartResult
    {
        Started,
        AlreadyPlaying,       //!< nothing restarted; a pause was resumed
        NotTransportStream,   //!< the analysis found no 188- or 204-byte packets
        PacketSizeMismatch,   //!< the packet size given is not the file's
        PositionOutsideRange, //!< the start position lies outside the range
        Failed,               //!< the engine could not start; it has said why
    };

    //! The network status, most important first.
    enum class NetworkStatus
    {
        SendError, //!< the kernel refused datagrams: they never left
        Underflow,
        Busy,
        Timer,
        NoErrors,
    };

    enum class StatusColour
    {
        Green,
        Red,
    };

    struct Rgb
    {
        std::uint8_t red;
        std::uint8_t green;
        std::uint8_t blue;
        bool operator==(const Rgb&) const = default;
    };

    //! The stream adaptations applied in place while playing.
    struct Adaptations
    {
        bool pcrRestamp = false;
        bool ccRestamp = false;
        bool totTdt = false;
        std::int32_t totTdtType = 0;   //!< 0 file time, 1 current time, 2 specified time
        std::int64_t totTdtOffset = 0; //!< seconds, signed
    };

    struct PlaySettings
    {
        std::uint32_t address = 0; //!< IPv4 destination, host order
        std::uint16_t port = 0;
        //! Destination with its port (IPv4 or IPv6); when set it wins over address and port.
        CNetAddress destination;
        bool rtp = false;
        int ttl = 0;                        //!< multicast hop limit; 0: the system's (1)
        std::uint32_t interfaceAddress = 0; //!< multicast outgoing interface, host order; 0: the route's
        unsigned interfaceIndex = 0;        //!< IPv6 group: outgoing interface; 0: by interfaceAddress
        //! The destination the play sends to: destination, else address and port.
        CNetAddress Destination() const
        {
            return destination.IsSet() ? destination : CNetAddress::FromIpv4(address, port);
        }
        bool loop = false;
        std::uint32_t rangeStart = 0; //!< per mille of the file
        std::uint32_t rangeEnd = kPermille;
        std::optional<std::uint32_t> position; //!< per mille of the file; none: the range start
        std::uint32_t bitRate = 0;             //!< bit/s; 0: the file's
        std::uint32_t packetSize = 0;          //!< 188 or 204; 0: the file's
        bool smoothPacing = true;              //!< false: per-cycle bursts, whatever the pacing says
        //! How smooth pacing is timed (Burst: as smoothPacing false).
        CNetworkSender::PacingMode pacing = CNetworkSender::PacingMode::Auto;
        Adaptations adaptations;
        //! The analysis object sees the data also without adaptations (the tab's trees).
        bool analyse = false;
        std::optional<CFecEncoder::Settings> fec; //!< SMPTE 2022-1 FEC; needs rtp
        CImpairment::Settings impairment;         //!< applied to every output path
        std::uint64_t impairSeed = 1;
        //! More destinations (SMPTE 2022-7): the same RTP datagrams, each with its own FEC ports and impairment.
        std::vector<CSendPaths::Destination> extraDestinations;
        //! Another way out than UDP to address:port (SRT; borrowed, outlives the
        //! play); null: UDP. RTP does not apply to it.
        IDatagramOutput* output = nullptr;
    };

    struct PlayProgress
    {
        PlayState state = PlayState::Stopped;
        bool paused = false;
        //! The engine has ended and the FIFO is drained: the front end calls Stop.
        bool playedOut = false;
        std::uint32_t positionPermille = 0; //!< of the file; never backwards except at a loop
        std::int64_t loopCount = 0;         //!< completed passes over the range
        std::uint32_t tsSeconds = 0;        //!< stream time of the position
        std::int64_t elapsedMs = 0;         //!< since Start, pauses left out
        std::uint64_t fifoLevel = 0;        //!< bytes waiting in the sender
        NetworkStatus network = NetworkStatus::NoErrors;
        std::string statusText;   //!< one of the kStatus texts
        std::string statusDetail; //!< with a send error: reason and datagrams not sent
        StatusColour statusColour = StatusColour::Green;
        std::uint64_t datagramsNotSent = 0;
        int sendError = 0; //!< errno of the last refused send
        //! The pacing in use ("uring", "txtime", "thread", "burst"; CNetworkSender::PacingName).
        std::string pacing;
        //! Why the pacing asked for was not available (empty when it was).
        std::string pacingNote;
        CImpairment::Counters impairment; //!< summed over the output paths
        CFecEncoder::Counters fec;
        std::uint64_t delayCut = 0; //!< jittered datagrams sent before their time (delay queue full)
    };

    //! "Impairment: 123 datagrams lost on purpose" (and what else it did); empty when it did nothing.
    static std::string ImpairmentText(const CImpairment::Counters& c);

    //! @param messages where the engine's messages go (may be null); a start
    //! failure gets the system's reason on its second line.
    CPlayController(CNetworkSender& sender, CDecodeStream& decoder, IMessageSink* messages);
    ~CPlayController();
    CPlayController(const CPlayController&) = delete;
    CPlayController& operator=(const CPlayController&) = delete;

    //! Where the network status comes from; null: the sender. Tests give their own.
    void SetSendHealth(ISendHealth* health) { m_health = health; }
    //! The clock of the elapsed time; call while stopped.
    void SetClock(CSteadyClock::NowFn now) { m_now = std::move(now); }

    //! Analyses @p path through the analysis object. A good result becomes the
    //! file that Start checks against; a failed one keeps the previous figures.
    CFileAnalysisResult Analyse(const std::string& path);
    //! The figures of the last good analysis.
    const CFileAnalysisResult& File() const { return m_file; }

    //! Checks @p settings against the analysed file and starts the play. While a
    //! play runs (also while its tail drains) nothing restarts: a pause is resumed.
    StartResult Start(const std::string& path, const PlaySettings& settings);
    //! Holds the sender at once (also when the reader has finished) and the reader.
    //! @return false when nothing plays.
    bool Pause();
    void Resume();
    bool IsPaused() const;
    //! Plays from @p permille of the file (clamped to the range) and shows it
    //! there at once. While stopped it only moves the shown position.
    std::uint32_t Jump(std::uint32_t permille);
    //! Loop on or off, also during the play.
    void SetLoop(bool loop);
    //! The adaptations, also during the play; ApplyTotTdt writes the TOT/TDT ones only.
    void ApplyAdaptations(const Adaptations& adaptations);
    void ApplyTotTdt(const Adaptations& adaptations);
    //! Ends the play (the reader within 2,000 ms) and the sender; the position goes back to 0.
    //! @return false when the reader did not end in time.
    bool Stop();

    //! The state of the play now; a play that has played out is still Playing
    //! until Stop, so that its tail is never cut.
    PlayProgress Progress();
    PlayState GetState() const { return m_state; }

    //! Bit rate and packet size the play uses (or will use): the settings' or the file's.
    std::uint32_t BitRate() const;
    std::uint32_t PacketSize() const;
    //! The file's play time at the play's bit rate, ms (kUnknownPlayTimeMs without a rate).
    std::int64_t FilePlayTimeMs() const;
    //! Stream time at @p permille of the file (the stopped tab's slider).
    std::uint32_t TsSecondsAt(std::uint32_t permille) const;

    static Rgb ColourRgb(StatusColour colour);
    //! "%d:%02d:%02d" of @p seconds (hours not limited).
    static std::string FormatDuration(std::int64_t seconds);
    //! What a refused start means, for a message.
    static const char* RefusalText(StartResult result);

    CFilePlayEngine& Engine() { return m_engine; }

private:
    //! Passes the engine's messages on, with the system's reason for a failed start.
    class CStartMessages : public IMessageSink
    {
    public:
        explicit CStartMessages(CPlayController& owner) : m_owner(owner) {}
        void ShowMessage(const std::string& text) override;

    private:
        CPlayController& m_owner;
    };

    StartResult Check(const std::string& path, const PlaySettings& settings) const;
    //! File size, range start and range length in bytes: the engine's while
    //! playing, the analysed file's while stopped.
    std::int64_t FileSize() const;
    std::int64_t RangeStartOffset() const;
    std::int64_t RangeLength() const;
    //! Moves the shown position to @p within bytes of the range (a jump or a start).
    void ShowAt(std::int64_t within);
    void FollowPosition(const PlayProgress& progress, bool readerDone);
    void ReadNetworkStatus(PlayProgress& progress);
    std::int64_t NowMs() const { return m_now() / 1'000'000; }
    std::int64_t ElapsedMs() const;

    CNetworkSender& m_sender;
    CDecodeStream& m_decoder;
    IMessageSink* m_messages;
    ISendHealth* m_health = nullptr;
    CSteadyClock::NowFn m_now = CSteadyClock::Default();
    CStartMessages m_startMessages{*this};
    CFilePlayEngine m_engine; // after the sink it reports to

    CFileAnalysisResult m_file;
    std::string m_filePath; // the file m_file belongs to; empty after a failed analysis
    PlaySettings m_settings;
    PlayState m_state = PlayState::Stopped;
    std::atomic<bool> m_starting{false}; // the engine's messages now belong to a start

    std::int64_t m_startMs = 0;
    std::int64_t m_pauseStartMs = 0;
    std::int64_t m_pausedMs = 0;
    std::int64_t m_stopMs = 0;
    std::int64_t m_loopCount = 0;
    // The shown position, as bytes from the range start and per mille of the range.
    std::int64_t m_shownWithin = 0;
    std::int64_t m_shownRangePermille = 0;
};
