#pragma once
//! @file CDiscoverDlg.h
//! "Detected devices": the devices the main window's discovery has found, one
//! row each (address, serial number), refreshed every second. Management mode
//! opens a device's web page, starts the update tool on it or resets it (after
//! a question that names the device and defaults to No); selection mode lets
//! the Play tab pick a destination address.
//!
//! The dialog never sends discovery requests; it reads snapshots of the
//! discovery object's list on the window thread.

#include <QDialog>
#include <QString>
#include <QTimer>

#include <cstdint>
#include <memory>

namespace Ui
{
class CDiscoverDlg;
}
class CUDPDiscover;
class CUDPReset;
class QPushButton;
class QTreeWidget;

class CDiscoverDlg : public QDialog
{
    Q_OBJECT

public:
    enum class Mode
    {
        kManage,
        kSelect,
    };
    static constexpr int kRefreshMs = 1'000;
    static constexpr const char* kCaption = "Orvane";
    //! %1 address, %2 serial number, %3 model.
    static constexpr const char* kResetQuestion =
        "Reset the device %1 (serial number %2, model %3) to its factory defaults?";
    static constexpr const char* kResetSent = "The factory reset request was sent to %1 (serial number %2, model %3).";
    static constexpr const char* kResetFailed = "The factory reset request could not be sent to %1: %2.";
    static constexpr const char* kUpdateToolName = "pimlow";
    static constexpr const char* kUpdateToolMissing = "The firmware update tool is not installed: nothing found at %1.";
    static constexpr const char* kUpdateToolFailed = "The firmware update tool %1 could not be started.";
    static constexpr const char* kNoBrowser = "No web browser could open %1. Open it in a browser by hand.";
    enum Column
    {
        kAddressColumn,
        kSerialColumn,
        kModelColumn,
        kFirmwareColumn,
        kMacColumn,
        kColumnCount,
    };

    //! @p discover and @p reset are borrowed from the main window; @p discover may be null.
    CDiscoverDlg(CUDPDiscover* discover, CUDPReset* reset, Mode mode, QWidget* parent = nullptr);
    ~CDiscoverDlg() override;

    //! The selected row's address, first dotted number most significant; 0 without a selection.
    std::uint32_t GetSelectedAddress() const { return m_selectedAddress; }
    QString GetSelectedAddressText() const { return m_selectedAddressText; }

    //! One refresh of the list from the discovery object (the timer's work).
    void RefreshList();
    void OnFind();
    void OnSettings();
    void OnUpdate();
    void OnResetToFactoryDefaults();

    //! The update tool started by Update: "pimlow" beside the executable unless changed.
    void SetUpdateToolPath(const QString& path) { m_updateToolPath = path; }
    QString UpdateToolPath() const { return m_updateToolPath; }

    QTreeWidget* List() const;
    QPushButton* OkButton() const;
    QPushButton* UpdateButton() const;
    QPushButton* SettingsButton() const;
    QPushButton* ResetButton() const;
    QPushButton* CancelButton() const;
    const QTimer& RefreshTimer() const { return m_refreshTimer; }

private:
    void OnItemChanged();
    void AddDeviceColumns();
    QStringList SelectedAddressTexts() const;

    Mode m_mode;
    CUDPDiscover* m_discover;
    CUDPReset* m_reset;
    QString m_selectedAddressText;
    std::uint32_t m_selectedAddress = 0;
    std::unique_ptr<Ui::CDiscoverDlg> m_ui;
    QTimer m_refreshTimer;
    QString m_updateToolPath;
};
