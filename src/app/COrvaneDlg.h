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
//! Everything here runs on the window thread; the discovery object collects
//! the answers on its own thread and is only read through snapshots.

#include "controls/CPicture.h"
#include "devices/CUDPDiscover.h"
#include "devices/CUDPReset.h"
#include "engine/CNetworkSender.h"

#include <QIcon>
#include <QMainWindow>
#include <QTimer>

#include <memory>

namespace Ui
{
class COrvaneDlg;
}
class CXTabCtrl;

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
    void FillTabs();
    void PaintBanner(QWidget* client);
    void RestoreWindowSize();
    void SaveWindowSize();

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
};
