#pragma once
//! @file COrvaneDlg.h
//! The main window: the banner, the tab control hosting the Record and Play
//! tabs, the Device menu and the About entry. It owns for its whole life the
//! discovery and reset objects (the discovery dialog and the Play tab borrow
//! them), the banner picture and the program's one network sender, and it sends
//! a discovery request on a fixed schedule: six at 2-second intervals, then one
//! every 5 seconds.
//!
//! The window can be resized: the tabs' trees grow with it, and its size is
//! kept in the settings (section "Window") when it closes.
//!
//! Escape and the close box end the program at once when nothing runs; during
//! a play, a recording or monitoring they first ask, and No (the default) keeps
//! the run going.
//!
//! The status bar shows the run state of the tabs ("Playing", "Recording
//! rec-3.ts"...); the event log (View -> Event Log) keeps it with time stamps,
//! with the tabs' errors, ring switches and RTP sequence jumps and the devices
//! found and lost, in memory and in $XDG_STATE_HOME/orvane/events.log.
//!
//! Everything here runs on the window thread; the discovery object collects
//! the answers on its own thread and is only read through snapshots.

#include "common/CEventLog.h"
#include "controls/CPicture.h"
#include "devices/CUDPDiscover.h"
#include "devices/CUDPReset.h"
#include "engine/CNetworkSender.h"

#include <QIcon>
#include <QMainWindow>
#include <QTimer>

#include <memory>
#include <vector>

namespace Ui
{
class COrvaneDlg;
}
class CEventLogDlg;
class CXTabCtrl;
class QLabel;
class QMenu;

class COrvaneDlg : public QMainWindow
{
    Q_OBJECT

public:
    static constexpr int kFastDiscoverMs = 2'000;
    static constexpr int kSlowDiscoverMs = 5'000;
    static constexpr int kFastDiscoverRounds = 5;
    static constexpr std::uint16_t kBannerResource = 135;
    static constexpr const char* kCaption = "Orvane";
    static constexpr const char* kQuitQuestion = "Stop playing/recording and quit?";
    //! Where the user guide lies below a data directory (share/).
    static constexpr const char* kGuidePath = "doc/orvane/guide/index.md";
    static constexpr const char* kGuideMissing = "The user guide is not installed: %1 was not found in %2.";
    static constexpr const char* kGuideNotOpened =
        "No program could open the user guide %1. Open it with a text editor or a Markdown viewer.";
    //! Settings section of the window's size.
    static constexpr const char* kWindowSection = "Window";

    explicit COrvaneDlg(QWidget* parent = nullptr);
    ~COrvaneDlg() override;

    //! Builds the window: About entry, icon, discovery timer, banner, tabs. Call once before show().
    bool OnInitDialog();

    //! One tick of the discovery timer.
    void OnDiscoverTimer();
    //! Device -> Discover IP Devices: the discovery dialog in management mode, modally.
    void OnDiscoverDevices();
    //! Help -> About Orvane.
    void OnAbout();
    //! Whether a tab plays, records or monitors (the tabs answer).
    virtual bool IsRunActive() const;
    //! Help -> User Guide (F1): the installed guide in the desktop's viewer.
    void OnUserGuide();
    //! View -> Event Log (Ctrl+L).
    void OnEventLog();
    //! A tab's run state changed: the status bar shows it and the log keeps it.
    void OnRunStateChanged(const QString& text);
    //! The installed guide's index, or empty: beside the executable
    //! (../share/doc/orvane/guide), then in the XDG data directories.
    static QString FindUserGuide();

    CEventLog& EventLog() { return m_eventLog; }
    QLabel* RunStateLabel() const { return m_runStateLabel; }
    //! Null until the log was first opened.
    CEventLogDlg* EventLogDialog() const { return m_eventLogDlg; }
    QMenu* FileMenu() const { return m_fileMenu; }

    CUDPDiscover& Discover() { return m_discover; }
    CUDPReset& Reset() { return m_reset; }
    CNetworkSender& Sender() { return m_sender; }
    CXTabCtrl* TabCtrl() const;
    const CPicture& Picture() const { return m_picture; }
    const QTimer& DiscoverTimer() const { return m_discoverTimer; }
    int FastDiscoverCount() const { return m_fastDiscoverCount; }
    //! The banner area's widget (the client area below the menu bar).
    QWidget* ClientArea() const;

protected:
    //! Creates the Play and Record tab dialogs as children of @p tabCtrl (tests
    //! put stand-ins in their place).
    virtual void CreateTabDialogs(CXTabCtrl* tabCtrl, QWidget*& playDlg, QWidget*& recordDlg);
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void ApplyDiscoverTargets();
    //! Menus (File, View, Help -> User Guide) and the status bar.
    void InitDesktop();
    //! The tabs report their run state and errors here.
    void ConnectTabs();
    //! Devices found and lost since the last tick go to the event log.
    void LogDeviceChanges();
    void FillTabs();
    void PaintBanner(QWidget* client);
    void RestoreWindowSize();
    void SaveWindowSize();

    CEventLog m_eventLog; // outlives the tabs, which log into it
    int m_fastDiscoverCount = kFastDiscoverRounds;
    CUDPDiscover m_discover;
    CUDPReset m_reset;
    QWidget* m_playDlg = nullptr;   // owned; deleted first
    QWidget* m_recordDlg = nullptr; // owned; deleted second
    CPicture m_picture;
    CNetworkSender m_sender;
    QIcon m_icon;
    std::unique_ptr<Ui::COrvaneDlg> m_ui;
    QTimer m_discoverTimer;
    QLabel* m_runStateLabel = nullptr;
    QMenu* m_fileMenu = nullptr;
    CEventLogDlg* m_eventLogDlg = nullptr;
    std::vector<std::uint32_t> m_knownDevices;
};
