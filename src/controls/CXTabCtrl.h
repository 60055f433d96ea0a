#pragma once
//! @file CXTabCtrl.h
//! The main window's tab control. Each tab hosts one dialog (owned by the
//! caller): the control shows the selected tab's dialog, hides the others, and
//! sends each a CTabActivateEvent when it becomes or stops being the visible one.
//! Tabs can be disabled: a disabled tab has grey text and a click on it keeps
//! the selection where it was. A running play or recording uses EnableOnlyTab
//! so that the user cannot switch away from it.

#include <QWidget>

#include <vector>

class QTabBar;

class CXTabCtrl : public QWidget
{
    Q_OBJECT

public:
    explicit CXTabCtrl(QWidget* parent = nullptr);

    //! Appends a tab hosting @p window (may be null) and returns its index. The window
    //! moves to DialogPosition(); it is shown when this is the first tab, hidden otherwise.
    int AddTab(const QString& caption, QWidget* window, int image);
    //! Hides and deactivates the selected tab's window and removes every tab.
    void DeleteAllTabs();
    //! Selects tab 0 unless it is disabled (false); activates its window.
    bool SelectFirstTab();
    //! Enables exactly tab @p index; repaints only the tabs whose state changed.
    void EnableOnlyTab(int index);
    //! Enables every tab; repaints only those that were disabled.
    void EnableAllTabs();

    bool IsTabEnabled(int index) const;
    int GetCurSel() const;
    int GetItemCount() const { return static_cast<int>(m_tabStates.size()); }
    QWidget* GetTabWindow(int index) const;
    int GetTabImage(int index) const;
    //! Where hosted dialogs sit inside the control: below the tabs.
    QPoint DialogPosition() const;
    //! The tabs redrawn by the last change of states, for the record.
    const std::vector<int>& LastRepaintedTabs() const { return m_lastRepainted; }
    QTabBar* TabBar() const { return m_tabBar; }
    //! The area the hosted windows fill: below the tabs, inside the frame.
    QRect PageRect() const;
    //! Large enough for the largest hosted window (their layouts' hints).
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void resizeEvent(QResizeEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void OnSelChange(int index);
    void SetTabState(int index, int state);
    void ApplyTextColor(int index);
    static void Activate(QWidget* window, bool active);
    QSize PageSize(QSize (QWidget::*hint)() const) const;
    QList<QWidget*> HostedWindows() const;

    QTabBar* m_tabBar;
    std::vector<int> m_tabStates; // 1 enabled, 0 disabled, in tab order
    std::vector<QWidget*> m_windows;
    std::vector<int> m_images;
    int m_previousSelection = 0;
    std::vector<int> m_lastRepainted;
};
