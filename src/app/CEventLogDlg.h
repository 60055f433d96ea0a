#pragma once
//! @file CEventLogDlg.h
//! "Event Log": the session's events with their time stamps, newest at the
//! bottom, and where the log file is. A window of its own (not modal), so it
//! can stay open beside the main window during a run; it follows the log
//! twice a second while it is shown.

#include <QDialog>
#include <QTimer>

#include <cstdint>

class CEventLog;
class QLabel;
class QPlainTextEdit;

class CEventLogDlg : public QDialog
{
    Q_OBJECT

public:
    static constexpr int kRefreshMs = 500;

    //! @p log is borrowed and outlives the dialog.
    explicit CEventLogDlg(const CEventLog& log, QWidget* parent = nullptr);

    //! Shows what the log holds now (the timer's work).
    void Refresh();
    QPlainTextEdit* Text() const { return m_text; }
    QLabel* FileLabel() const { return m_fileLabel; }

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    const CEventLog& m_log;
    QPlainTextEdit* m_text;
    QLabel* m_fileLabel;
    QTimer m_refreshTimer;
    std::uint64_t m_shownCount = ~std::uint64_t{0};
};
