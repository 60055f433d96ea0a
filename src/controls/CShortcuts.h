#pragma once
//! @file CShortcuts.h
//! The keyboard shortcuts of the windows, in one place so that the tooltips,
//! the user guide and the keys agree. A tab binds its keys to its own buttons:
//! a key clicks the button exactly as the mouse does (nothing happens while the
//! button is disabled), and only the visible tab's keys are live, so Ctrl+O
//! opens a file on the Play tab and chooses the output file on the Record tab.

#include <QKeySequence>
#include <QString>

class QAbstractButton;
class QShortcut;
class QWidget;

class CShortcuts
{
public:
    static constexpr const char* kOpen = "Ctrl+O";
    static constexpr const char* kPlay = "Ctrl+P";
    static constexpr const char* kPause = "Ctrl+Shift+P";
    static constexpr const char* kStop = "Ctrl+.";
    static constexpr const char* kRecord = "Ctrl+R";
    static constexpr const char* kMonitor = "Ctrl+M";
    static constexpr const char* kEventLog = "Ctrl+L";
    static constexpr const char* kUserGuide = "F1";

    //! "What it does (Ctrl+P)".
    static QString ToolTip(const QString& what, const char* key);
    //! Makes @p key click @p button while @p scope is visible, and gives the
    //! button the tooltip @p what with the key. The shortcut belongs to @p scope.
    static QShortcut* Bind(QWidget* scope, QAbstractButton* button, const char* key, const QString& what);
};
