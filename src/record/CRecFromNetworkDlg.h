#pragma once
//! @file CRecFromNetworkDlg.h
//! The Record tab: opens a UDP port (plain UDP or RTP, optionally joining a
//! multicast group), chooses an output file, and then monitors the incoming
//! transport stream (receive and analyse only) or records it, limited per file
//! in seconds or MiB, optionally over a ring of numbered files. It owns the
//! network receiver, the analysis object and the record thread; the size limit
//! and the ring follow CRecordController. Settings live in section "Record".
//!
//! Two timers run while the tab is visible: the status timer (100 ms: time,
//! megabytes, progress, limit, receive status, signal figures) and the analysis
//! timer (500 ms: trees and the no-PCR notice).
//!
//! Threads: everything here on the window thread; the record worker and the
//! receiver's threads only share the flags of CRecordThread and CDvbIpRecvThread.

#include "analysis/CDecodeStream.h"
#include "common/IMessageSink.h"
#include "controls/CQtTreeSink.h"
#include "engine/CDvbIpRecvThread.h"
#include "engine/CRecordController.h"
#include "engine/CRecordThread.h"

#include <QString>
#include <QTimer>
#include <QWidget>

#include <memory>

namespace Ui
{
class CRecFromNetworkDlg;
}
class CXTabCtrl;

class CRecFromNetworkDlg : public QWidget
{
    Q_OBJECT

public:
    static constexpr int kStatusTimerMs = 100;
    static constexpr int kAnalysisTimerMs = 500;
    static constexpr std::uint32_t kInitialNoPcrCountdown = 2000;
    static constexpr std::uint32_t kNoPcrTicks = 4;
    static constexpr const char* kSection = "Record";
    static constexpr const char* kNoPcrText = "No PCR found in the Transport stream !";

    explicit CRecFromNetworkDlg(QWidget* parent = nullptr);
    ~CRecFromNetworkDlg() override;

    //! Sets up the controls and loads the settings; the constructor calls it.
    bool OnInitDialog();
    void UpdateControls();
    void UpdateButtonLook();
    void SetAnalyzerEnabled(bool enable);
    void LoadSettings();
    void SaveSettings();

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

    // The timers' work, callable directly.
    void OnStatusTimer();
    void OnAnalysisTimer();

    CRecordThread* RecordThread() const { return m_recorder.get(); }
    CDvbIpRecvThread& Receiver() { return m_receiver; }
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
    //! Moves the fields into the members; false (with a message) when a field is unusable.
    bool ReadFields();
    void WriteFields();
    void ApplyControllerSettings();
    void EndMonitoring();
    void ShowStatus(const QString& text, const QColor& colour);
    void ShowMessage(const QString& text);
    CXTabCtrl* HostTabs() const;
    int TabIndex() const;

    std::unique_ptr<Ui::CRecFromNetworkDlg> m_ui;
    CMessageSink m_sink{this};
    bool m_statusRefresh = true;
    CDecodeStream m_analysis;
    CDvbIpRecvThread m_receiver;
    std::unique_ptr<CRecordThread> m_recorder;
    std::unique_ptr<CRecordController> m_controller;
    std::unique_ptr<CQtTreeSink> m_pidSink;
    std::unique_ptr<CQtTreeSink> m_progSink;
    std::int32_t m_recordingSize = 100;
    std::int32_t m_sizeUnit = CRecordController::kSeconds;
    bool m_postStopPending = false;
    std::uint32_t m_noPcrCountdown = kInitialNoPcrCountdown;
    std::uint32_t m_lastReceiverStatus = 0;
    std::uint32_t m_lastShownTenths = 0;
    bool m_networkClosed = true;
    std::uint32_t m_networkAddress = 0; // multicast group, host order; 0 = none
    std::uint32_t m_sourceAddress = 0;  // source-specific join when not 0
    std::int32_t m_port = 1234;
    std::int32_t m_modeIndex = 0;
    std::int16_t m_loopCount = 3;
    QString m_outputFile;
    int m_disableAnalyzer = 0;
    bool m_loopEnabled = false;
    QString m_statusText = QStringLiteral("No errors detected");
    int m_shownState = -1;
    bool m_writeFailed = false;
    QTimer m_statusTimer;
    QTimer m_analysisTimer;

public:
    //! Recording or monitoring: the main window asks before it quits.
    bool IsRunActive() const;
};
