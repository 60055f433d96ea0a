#pragma once
//! @file CRecFromNetworkDlg.h
//! The Record tab: opens a UDP port (plain UDP or RTP, optionally joining a
//! multicast group), chooses an output file, and then monitors the incoming
//! transport stream (receive and analyse only) or records it, limited per file
//! in seconds or MiB, optionally over a ring of numbered files. It owns the
//! network receiver, the analysis object and the record thread; the size limit,
//! the ring and the status texts follow CRecordController. Settings live in
//! section "Record".
//!
//! Sources: CRecFromNetworkDlg.cpp (set-up, commands, UpdateControls),
//! CRecFromNetworkDlg_Settings.cpp (fields and settings),
//! CRecFromNetworkDlg_Status.cpp (the two timers),
//! CRecFromNetworkDlg_Graph.cpp (the bit-rate graph),
//! CRecFromNetworkDlg_Link.cpp (SRT and RIST: their fields, the input the tab
//! owns for a run, the link's status) and
//! CRecFromNetworkDlg_Desktop.cpp (keys, tooltips, the run state and the event log).
//!
//! Two timers run while the tab is visible: the status timer (100 ms: time,
//! megabytes, progress, limit, receive status, signal figures) and the analysis
//! timer (500 ms: trees and the no-PCR notice). The status timer also refreshes
//! the TR 101 290 panel, once a second (it takes a snapshot of the analysis).
//!
//! The receiver takes its port, mode and group when a run starts; the network
//! fields are locked while a run is in progress, so a run never changes under
//! its receiver.
//!
//! Threads: everything here on the window thread; the record worker and the
//! receiver's threads only share the flags of CRecordThread and CDvbIpRecvThread.

#include "analysis/CDecodeStream.h"
#include "common/CEventLog.h"
#include "common/CNetAddress.h"
#include "common/IMessageSink.h"
#include "controls/CQtTreeSink.h"
#include "controls/CRunState.h"
#include "engine/CDvbIpRecvThread.h"
#include "engine/CLinkFields.h"
#include "engine/CRecordController.h"
#include "engine/CRecordThread.h"
#include "engine/CSeamlessMerge.h"

#include <QString>
#include <QTimer>
#include <QWidget>

#include <memory>
#include <optional>

namespace Ui
{
class CRecFromNetworkDlg;
}
class CIndicatorPanel;
class CXTabCtrl;

class CRecFromNetworkDlg : public QWidget
{
    Q_OBJECT

public:
    //! The Mode combo box (setting "NetworkType": 0 or 1).
    enum class ReceiveMode : std::int32_t
    {
        kUdp = 0,
        kRtp = 1,
        kSrt = 2,
        kRist = 3,
    };

    static constexpr int kStatusTimerMs = 100;
    static constexpr int kAnalysisTimerMs = 500;
    //! Status ticks between two refreshes of the TR 101 290 panel (1 s).
    static constexpr std::uint32_t kIndicatorTicks = 10;
    //! Analysis ticks without PCR before the notice shows (2 s), on every run.
    static constexpr std::uint32_t kNoPcrTicks = 4;
    static constexpr const char* kSection = "Record";
    //! The largest recording size the field takes (seconds or megabytes).
    static constexpr int kMaxRecordingSize = 0x7FFFFFFF / 1000;
    //! The second path's port until the user chooses one (clear of 1234's FEC ports).
    static constexpr int kDefaultSecondPort = 1240;

    explicit CRecFromNetworkDlg(QWidget* parent = nullptr);
    ~CRecFromNetworkDlg() override;

    //! Sets up the controls and loads the settings; the constructor calls it.
    bool OnInitDialog();
    //! Every enabled and pressed state, and the lock of the other tabs, from the
    //! network state and the run state.
    void UpdateControls();
    void UpdateButtonLook();
    void SetAnalyzerEnabled(bool enable);
    void LoadSettings();
    void SaveSettings();

    //! Puts the bit-rate graph into the form's bitrateGraphHost, if it has one.
    void AttachBitrateGraph();

    // The commands.
    void OnNetworkOpen();
    void ChooseFile();
    void OnMonitor();
    void OnRecord();
    void OnStop();
    void OnLoop();
    void OnLoopCountStep(int delta);
    void OnSizeUnit();
    void OnSyncLossReset();
    //! The Disable Analyzer box: applies at once and is saved.
    void OnDisableAnalyzer(bool disable);

    // The timers' work, callable directly.
    void OnStatusTimer();
    void OnAnalysisTimer();

    //! Signal Info's DF:MLR line (RFC 4445): the delay factor in ms and the
    //! media packets lost per second over the last second; "-" unless @p valid.
    //! The status timer shows "-" while no run is in progress.
    void ShowMdi(double dfMs, double mlr, bool valid);

    CRecordThread* RecordThread() const { return m_recorder.get(); }
    CDvbIpRecvThread& Receiver() { return m_receiver; }
    //! The SRT or RIST input of the run in progress (or the last one); null over UDP and RTP.
    IDatagramInput* Input() const { return m_input.get(); }
    CDecodeStream& Analysis() { return m_analysis; }
    const CRecordController& Controller() const { return *m_controller; }
    bool IsNetworkClosed() const { return m_networkClosed; }
    int LoopCount() const { return m_loopCount; }
    QString OutputFile() const { return m_outputFile; }
    QString StatusText() const { return m_statusText; }
    std::uint32_t NoPcrCountdown() const { return m_noPcrCountdown; }
    const QTimer& StatusTimer() const { return m_statusTimer; }
    const QTimer& AnalysisTimer() const { return m_analysisTimer; }
    Ui::CRecFromNetworkDlg* Form() const { return m_ui.get(); }
    //! The TR 101 290 panel (in the form's tr101290Host).
    CIndicatorPanel* IndicatorPanel() const { return m_indicators; }

    //! "Recording rec-3.ts" (the file being written), "Monitoring", "Finished"
    //! (the size limit ended the recording) or "Stopped".
    QString RunStateText() const;
    //! Errors, ring switches and RTP sequence jumps go to @p log (not owned;
    //! null = nowhere; the jumps then go to standard output).
    void SetEventLog(CEventLog* log);

signals:
    //! The run state changed (RunStateText).
    void RunStateChanged(const QString& text);

protected:
    bool event(QEvent* e) override;

private:
    //! Passes the record thread's messages to a message box on the window thread.
    class CMessageSink : public IMessageSink
    {
    public:
        explicit CMessageSink(CRecFromNetworkDlg* dlg) : m_dlg(dlg) {}
        void ShowMessage(const std::string& text) override;

    private:
        CRecFromNetworkDlg* m_dlg;
    };

    void OnActivate(bool active);
    //! Moves the fields into the members; false when a field is unusable (with a
    //! message and the field focused, unless @p quiet), the members unchanged then.
    bool ReadFields(bool quiet = false);
    void WriteFields();
    void ApplyControllerSettings();
    //! Port, mode and group to the receiver; only while no run uses it.
    void ConfigureReceiver();
    //! What every run starts with: the receiver set up and a clean status.
    //! False (after the message) when the link's input cannot be made.
    bool PrepareRun();
    //! After a failed start: says why, unless a message since @p messagesBefore
    //! (the count of messages shown then) has said it already.
    void ReportStartFailure(int messagesBefore);
    void EndMonitoring();
    bool IsRunning() const { return m_recorder->GetState() != CRecordThread::kStopped; }

    // The status timer's steps.
    void ShowRecordingProgress();
    void ShowReceiveStatus();
    void ShowSignalFigures();
    //! Signal Info's FEC and per-path rows: shown when the settings use them.
    void ShowProtectionRows();
    void ShowProtectionFigures(const CDvbIpRecvThread::Counters& counters);
    //! The interface boxes: empty (the system's choice), then the interfaces that can multicast.
    void FillInterfaces();
    //! The TR 101 290 panel: live once a second during a run; when the run
    //! ends its counts stay, with nothing "now" any more.
    void ShowIndicators();
    void ShowIndicatorCounts(bool live);
    //! The status label's text with its colour: red for a warning, else green.
    void ShowStatus(const QString& text);

    // SRT and RIST (CRecFromNetworkDlg_Link.cpp).
    bool IsLink() const { return m_mode == ReceiveMode::kSrt || m_mode == ReceiveMode::kRist; }
    void InitLink();
    //! The link fields and the Group field's use (a multicast group, or the link's address) for the Mode box.
    void UpdateLinkControls(bool editable);
    //! The link fields with the port and address fields; false (after the message,
    //! the field focused, unless @p quiet) when they make no link.
    bool ReadLink(bool quiet);
    //! Makes the input of the run about to start (the receiver has closed the last one).
    bool MakeInput();
    //! The link line while running; a refusal retrying cannot cure ends the run with its reason.
    void ShowLinkStatus();
    //! The status text with the transport's losses of the run counted in.
    QString WithTransportLoss(const QString& text) const;

    void ShowMessage(const QString& text);
    //! Keys and tooltips.
    void InitDesktop();
    void ReportRunState();
    void LogEvent(CEventLog::Kind kind, const QString& text);
    CXTabCtrl* HostTabs() const;
    int TabIndex() const;

    std::unique_ptr<Ui::CRecFromNetworkDlg> m_ui;
    CMessageSink m_sink{this};
    bool m_statusRefresh = true;
    CDecodeStream m_analysis;
    // The input of the run in progress (or the last one): the receiver closes it
    // when the run ends; replaced only while nothing runs. Before the receiver,
    // which may close it as it goes.
    std::unique_ptr<IDatagramInput> m_input;
    CDvbIpRecvThread m_receiver;
    std::unique_ptr<CRecordThread> m_recorder;
    std::unique_ptr<CRecordController> m_controller;
    std::unique_ptr<CQtTreeSink> m_pidSink;
    std::unique_ptr<CQtTreeSink> m_progSink;
    CIndicatorPanel* m_indicators = nullptr; // a child of the form
    std::uint32_t m_indicatorTicks = 0;
    bool m_indicatorsLive = false; // the panel shows a run in progress
    std::int32_t m_recordingSize = 100;
    CRecordController::SizeUnit m_sizeUnit = CRecordController::kSeconds;
    std::uint32_t m_noPcrCountdown = kNoPcrTicks;
    std::uint32_t m_lastReceiverStatus = 0;
    std::uint32_t m_lastShownTenths = 0;
    bool m_networkClosed = true;
    std::uint32_t m_networkAddress = 0; // multicast group, host order; 0 = none
    std::uint32_t m_sourceAddress = 0;  // source-specific join when not 0
    CNetAddress m_group6;               // an IPv6 group (ff00::/8) instead of m_networkAddress when set
    CNetAddress m_source6;              // its source-specific join when set
    std::int32_t m_port = 1234;
    ReceiveMode m_mode = ReceiveMode::kUdp;
    bool m_fec = false;  // SMPTE 2022-1 FEC (RTP only)
    QString m_interface; // of the multicast join; empty: the system's choice
    // SMPTE 2022-7: a second input of the same RTP stream (RTP only).
    bool m_secondPath = false;
    std::int32_t m_secondPort = kDefaultSecondPort;
    std::uint32_t m_secondGroup = 0; // host order; 0 = none
    std::uint32_t m_secondSource = 0;
    QString m_secondInterface;
    std::int32_t m_mergeWindowMs = static_cast<std::int32_t>(CSeamlessMerge::kDefaultWindowMs);
    std::int16_t m_loopCount = 3;
    QString m_outputFile;
    bool m_disableAnalyzer = false;
    bool m_loopEnabled = false;
    QString m_statusText = QString::fromLatin1(CRecordController::kNoErrorsText);
    bool m_writeFailed = false;
    bool m_linkFailed = false; // the last run ended on a refusal of the link; its status stays
    CLinkFields m_link;        // SRT or RIST: the link fields as read last
    QString m_linkAddress;     // the Group field's text while a link is chosen (setting "LinkAddress")
    QString m_groupText;       // the Group field's text while UDP or RTP is chosen
    int m_shownMode = 0;       // the Mode box's choice the Group field's text belongs to
    int m_messagesShown = 0;
    bool m_closing = false;
    //! Whether UpdateControls last locked the other tabs (none yet: unknown).
    std::optional<bool> m_tabsLocked;
    QTimer m_statusTimer;
    QTimer m_analysisTimer;
    CRunState m_runState;
    bool m_limitReached = false; // the last recording ended at its limit
    CEventLog* m_eventLog = nullptr;

public:
    //! Recording or monitoring: the main window asks before it quits.
    bool IsRunActive() const;
};
