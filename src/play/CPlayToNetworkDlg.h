#pragma once
//! @file CPlayToNetworkDlg.h
//! The "Play" tab: the user chooses a transport stream file and sees what it
//! holds (File, Program and PID information), chooses where it goes (address,
//! port, UDP or RTP, multicast hop limit and interface, pacing) and which adaptations
//! apply, then plays, pauses, loops, jumps within and stops it while the tab
//! shows elapsed time, Ts time, loop count and the network status.
//!
//! Ownership: the tab owns its play controller (given the main window's one
//! network sender), which owns the file play engine, and its analysis object;
//! the engine's reader thread borrows the analysis object while it plays.
//! Everything here runs on the window thread: the tab turns its controls into
//! play settings for the controller and shows the controller's progress, polled
//! by two timers (status every 100 ms, trees every 500 ms).
//!
//! The class is split by concern: CPlayToNetworkDlg.cpp (controls, settings,
//! activation, device choice), CPlayToNetworkDlg_Analysis.cpp (Open and file
//! analysis), CPlayToNetworkDlg_Play.cpp (play control and status),
//! CPlayToNetworkDlg_Graph.cpp (the bit-rate graph while playing),
//! CPlayToNetworkDlg_Protection.cpp (FEC and impairment of the output),
//! CPlayToNetworkDlg_Link.cpp (SRT and RIST: their fields, the output the tab
//! owns for a play, the link's status) and
//! CPlayToNetworkDlg_Desktop.cpp (keys, tooltips, dropped and recent files,
//! the run state for the status bar and the event log).

#include "analysis/CDecodeStream.h"
#include "common/IMessageSink.h"
#include "controls/CQtTreeSink.h"
#include "controls/CRunState.h"
#include "engine/CLinkFields.h"
#include "engine/CNetworkSender.h"
#include "engine/CPlayController.h"

#include <QColor>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace Ui
{
class CPlayToNetworkDlg;
}
class CButtonStyle;
class CEventLog;
class CDVBSlider;
class CFilePlayEngine;
class CIndicatorPanel;
class CIpAddressCtrl;
class CLabel;
class CLinkFieldsCtrl;
class CXTabCtrl;
class QCheckBox;
class QComboBox;
class QDragEnterEvent;
class QDropEvent;
class QMimeData;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QSpinBox;
class QTreeWidget;

class CPlayToNetworkDlg : public QWidget
{
    Q_OBJECT

public:
    static constexpr int kStatusTimerMs = 100;
    static constexpr int kTreeTimerMs = 500;
    static constexpr int kSliderMin = 0;
    static constexpr int kSliderMax = 1000;                    // per mille of the file
    static constexpr std::int64_t kSmallFileBytes = 1'048'576; // smaller files may not loop
    static constexpr int kDefaultPort = 1234;
    static constexpr int kDefaultMode = 1; // RTP
    //! The Mode box: UDP, RTP, SRT, RIST (setting "NetworkType").
    static constexpr int kModeSrt = 2;
    static constexpr int kModeRist = 3;
    static constexpr int kDefaultMulticastTtl = 16;
    static constexpr int kDefaultFecColumns = 10;
    static constexpr int kDefaultFecRows = 10;

    static constexpr const char* kSection = "Play";
    static constexpr const char* kMsgSmallFileLoop = "File looping not allowed at files smaller than 1 MB";
    static constexpr const char* kMsgPortRange = "Please enter an integer between 0 and 65535.";
    static constexpr const char* kFileFilter = "Transport Stream (*.ts *.m2ts *.mts *.trp *.mpg);;All Files (*)";
    static constexpr int kMaxRecentFiles = 8;
    static constexpr const char* kMsgBitRate = "Please enter a bit rate in bit/s between 1 and 4294967295, or "
                                               "leave the field empty to play at the rate measured from the PCRs.";
    static constexpr const char* kMsgIpv6 = "Please enter an IPv6 address such as 2001:db8::1 or ff15::1, or "
                                            "empty the field for an IPv4 address.";

    //! Lets the user pick a device; gives its IPv4 address (host order), or
    //! nothing when the user cancelled.
    using DevicePicker = std::function<std::optional<std::uint32_t>(QWidget* parent)>;

    //! @p sender (not null) and @p tabCtrl are the main window's and outlive the tab;
    //! @p pickDevice may be empty (no device picker).
    CPlayToNetworkDlg(CNetworkSender* sender, DevicePicker pickDevice, CXTabCtrl* tabCtrl, QWidget* parent = nullptr);
    ~CPlayToNetworkDlg() override;

    //! Zeroes the analysis results, sets up the controls and loads the settings.
    bool OnInitDialog();

    //! Puts the bit-rate graph into the form's bitrateGraphHost, if it has one.
    void AttachBitrateGraph();

    // Commands.
    void OnOpen();
    void OnPlay();
    void OnPause();
    void OnStop();
    void OnLoop();
    void OnBrowse();
    //! Shows the IPv6 field with @p text (true) or the IPv4 one (false).
    void ShowIpv6(bool ipv6, const QString& text = {});
    void OnTotTdt();
    void OnAdaptAll();
    void OnSliderReleased();
    //! One tick of each timer.
    void OnStatusTimer();
    void OnTreeTimer();
    //! The tab is shown (true) or hidden (false).
    void OnActivate(bool active);

    //! Analyses the stored file and fills the three trees.
    void AnalyseFile();
    //! Opens @p path as if chosen with Open (a dropped or recent file); refused
    //! while a play runs. @return false when refused.
    bool OpenFile(const QString& path);
    //! The files opened last, newest first (saved as Play/RecentFiles).
    QStringList RecentFiles() const { return m_recentFiles; }
    //! The recent files as a menu (the Open button's context menu, the File menu).
    QMenu* RecentFilesMenu() const { return m_recentMenu; }
    //! "Playing", "Paused", "Finished" (played to its end) or "Stopped".
    QString RunStateText() const;
    //! Errors of this tab go to @p log too (not owned; null = nowhere).
    void SetEventLog(CEventLog* log) { m_eventLog = log; }
    //! Moves the controls into the members (@p save) or back. Returns false
    //! when the port or the bit rate is out of range (after the message, unless @p quiet).
    bool UpdateData(bool save, bool quiet = false);
    void LoadSettings();
    void SaveSettings(bool quiet = false);

    //! The play settings of the controls (as moved into the members), playing from @p position.
    CPlayController::PlaySettings PlaySettingsAt(std::uint32_t position) const;
    //! What FEC and impairment did in a play, for the status: "Impaired: 12 lost, 3 re-ordered;
    //! FEC sent: 40 column, 40 row". Only the features @p settings use; empty when none.
    static QString ProtectionStatusText(const CPlayController::PlaySettings& settings,
                                        const CPlayController::PlayProgress& progress);

    // State, for the record and the tests.
    CPlayController::PlayState PlayState() const { return m_controller->GetState(); }
    QString FilePath() const { return m_filePath; }
    void SetFilePath(const QString& path) { m_filePath = path; }
    bool LoopFlag() const { return m_loop; }
    int Port() const { return m_port; }
    std::uint32_t ChosenBitRate() const { return m_bitRate; }
    //! The Pacing box's choice (saved as Play/Pacing, the CLI's --pacing word).
    CNetworkSender::PacingMode ChosenPacing() const { return m_pacing; }
    std::int64_t FileSize() const { return m_controller->File().fileSize; }
    std::int64_t PacketCount() const { return m_controller->File().packetCount; }
    int PacketSize() const { return m_controller->File().packetSize; }
    double BitRate() const { return m_controller->File().bitRate; }
    std::int64_t FilePlayTimeMs() const { return m_controller->FilePlayTimeMs(); }
    int TimeType() const { return m_timeType; }
    std::int64_t TimeOffset() const { return m_timeOffset; }
    CPlayController& Controller() { return *m_controller; }
    CFilePlayEngine& Engine() { return m_controller->Engine(); }
    CDecodeStream& Decoder() { return m_decoder; }
    QString StatusText() const { return m_statusText; }
    const QTimer& StatusTimer() const { return m_statusTimer; }
    const QTimer& TreeTimer() const { return m_treeTimer; }

    // Controls.
    CLabel* FileNameLabel() const;
    QTreeWidget* FileInfoTree() const;
    QTreeWidget* ProgramInfoTree() const;
    QTreeWidget* PidInfoTree() const;
    //! The TR 101 290 indicators of the file's analysis (in the form's tr101290Host).
    CIndicatorPanel* IndicatorPanel() const { return m_indicators; }
    CIpAddressCtrl* IpAddress() const;
    //! The IPv6 destination field: shown instead of the IPv4 one once the user
    //! types an IPv6 address there (a colon or a hex letter); emptied, it gives way again.
    QLineEdit* Ipv6Edit() const { return m_ipv6Edit; }
    QLineEdit* PortEdit() const;
    //! Empty: the rate measured from the PCRs.
    QLineEdit* BitRateEdit() const;
    QComboBox* ModeCombo() const;
    //! SRT's and RIST's fields (on the Output box's link page, shown for them only).
    CLinkFieldsCtrl* LinkFields() const;
    //! The line of the link's state and figures while an SRT or RIST play runs.
    QLabel* LinkStatusLabel() const;
    //! The SRT or RIST output of the play in progress (or the last one); null over UDP and RTP.
    IDatagramOutput* Output() const { return m_output.get(); }
    QSpinBox* TtlSpin() const;
    QComboBox* InterfaceCombo() const;
    //! Auto, io_uring, Departure times, Thread, Burst (PacingMode order).
    QComboBox* PacingCombo() const;
    QCheckBox* PcrCheck() const;
    QCheckBox* TotTdtCheck() const;
    QCheckBox* ContinuityCheck() const;
    QPushButton* BrowseButton() const;
    QPushButton* AdaptAllButton() const;
    CButtonStyle* OpenButton() const;
    CButtonStyle* PlayButton() const;
    CButtonStyle* PauseButton() const;
    CButtonStyle* StopButton() const;
    CButtonStyle* LoopButton() const;
    CDVBSlider* PositionSlider() const;
    CLabel* StatusLabel() const;
    CLabel* LoopCountLabel() const;
    CLabel* TsTimeLabel() const;
    CLabel* ElapsedTimeLabel() const;

signals:
    //! The run state changed (RunStateText).
    void RunStateChanged(const QString& text);

protected:
    bool event(QEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    //! Shows the engine's messages on the window thread.
    class CMessageSink : public IMessageSink
    {
    public:
        explicit CMessageSink(CPlayToNetworkDlg* owner) : m_owner(owner) {}
        void ShowMessage(const std::string& text) override;

    private:
        CPlayToNetworkDlg* m_owner;
    };

    void InitControls();
    //! Keys, tooltips, drops and the recent-files menu.
    void InitDesktop();
    void AddRecentFile(const QString& path);
    void FillRecentMenu();
    void ReportRunState();
    void LogError(const QString& text);
    //! A warning box over the tab with @p text; ShowError puts it in the event log first.
    void ShowWarning(const QString& text);
    void ShowError(const QString& text);
    //! Unless @p quiet: @p message, then @p field focused and its text selected. @return false.
    bool RefuseField(QLineEdit* field, const char* message, bool quiet);
    //! The first local file of a drag, or empty.
    static QString DroppedFile(const QMimeData* data);
    void FillInterfaces();
    void UpdateControls();
    void Jump();
    void EndPlay();
    void SetPressed(CButtonStyle* button, bool pressed);
    //! The adaptation check boxes and the TOT/TDT choice, for the controller.
    CPlayController::Adaptations ChosenAdaptations() const;
    void ShowNetworkStatus(const CPlayController::PlayProgress& progress);
    void FillPacing();
    // FEC and impairment (CPlayToNetworkDlg_Protection.cpp).
    void InitProtection();
    void WriteProtection();
    //! Checks the FEC and impairment fields; false (after the message unless @p quiet) when unusable.
    bool ReadProtection(bool quiet);
    void LoadProtection(const QString& section);
    void SaveProtection(const QString& section);
    void UpdateProtectionControls(bool stopped);
    // SRT and RIST (CPlayToNetworkDlg_Link.cpp).
    void InitLink();
    //! The link page and the fields that do not go with a link, for the Mode box's choice.
    void UpdateLinkControls(bool stopped);
    //! The link fields with the address and port fields; false (after the message,
    //! the field focused, unless @p quiet) when they make no link.
    bool ReadLink(bool quiet);
    //! The destination host of the address fields: the IPv6 text or the IPv4 address; empty for 0.0.0.0.
    std::string LinkHost() const;
    //! Makes the output of the play about to start (the sender has closed the last one).
    bool MakeOutput();
    //! The link line while playing; a refusal retrying cannot cure ends the play with its reason.
    void ShowLinkStatus();
    //! The protection status line: counters of the play in progress (or the last one).
    void ShowProtectionStatus(const CPlayController::PlayProgress* progress);
    //! The pacing in use and why it is not the one chosen, in the Pacing box's
    //! tip; null: the box's own tip (nothing plays).
    void ShowPacing(const CPlayController::PlayProgress* progress);
    void ShowFileInformation(const CTreeNode& root);
    int TabIndex() const;
    static QString FormatDuration(std::int64_t seconds);

    QColor m_valueColor{0, 0, 255};
    QString m_filePath;
    bool m_loop = false;
    DevicePicker m_pickDevice;
    CXTabCtrl* m_tabCtrl;
    std::unique_ptr<Ui::CPlayToNetworkDlg> m_ui;
    CMessageSink m_messages{this};
    CQtTreeSink m_pidSink;
    CQtTreeSink m_progSink;
    CDecodeStream m_decoder;                       // after the sinks it draws into
    CIndicatorPanel* m_indicators = nullptr;       // a child of the form
    std::unique_ptr<CPlayController> m_controller; // after the decoder it borrows

    // Status: what the labels show, so that they change only when it does.
    std::int64_t m_lastShownElapsed = 0; // tenths of a second
    bool m_statusResetPending = false;
    CPlayController::StatusColour m_statusColour = CPlayController::StatusColour::Green;
    std::string m_statusDetail;

    // TOT/TDT.
    int m_timeType = 0;
    std::int64_t m_timeOffset = 0;
    QString m_statusText;

    // Output settings.
    int m_port = kDefaultPort;
    std::uint32_t m_ipAddress = 0;
    QString m_ipv6Address; // the IPv6 destination; empty: m_ipAddress
    QLineEdit* m_ipv6Edit = nullptr;
    int m_mode = kDefaultMode; // index of the Mode box: 0 UDP, 1 RTP
    bool m_pcr = false;
    bool m_totTdt = false;
    bool m_continuity = false;
    int m_multicastTtl = kDefaultMulticastTtl;
    std::uint32_t m_multicastInterface = 0;
    std::uint32_t m_bitRate = 0; // bit/s; 0: measured from the PCRs
    CNetworkSender::PacingMode m_pacing = CNetworkSender::PacingMode::Auto;
    QString m_pacingShown; // the Pacing box's tip while it plays
    int m_fecMode = 0;     // index of the FEC box: 0 off, 1 column, 2 row+column
    int m_fecColumns = kDefaultFecColumns;
    int m_fecRows = kDefaultFecRows;
    bool m_impair = false;
    CImpairment::Settings m_impairment; // the fields, also while Impair is off
    std::uint64_t m_impairSeed = 1;
    CPlayController::PlaySettings m_playing; // the settings of the play in progress (or the last one)
    CLinkFields m_link;                      // SRT or RIST: the link fields as read last
    // The output of the play in progress (or the last one): the sender closes it
    // when the play stops; replaced only while nothing plays.
    std::unique_ptr<IDatagramOutput> m_output;

    QTimer m_statusTimer;
    QTimer m_treeTimer;

    // Desktop.
    QStringList m_recentFiles;
    QMenu* m_recentMenu = nullptr; // owned by the tab
    CRunState m_runState;
    bool m_playedOut = false; // the last play ended by itself
    CEventLog* m_eventLog = nullptr;

public:
    //! Playing or paused: the main window asks before it quits.
    bool IsRunActive() const;
};
