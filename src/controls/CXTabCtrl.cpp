#include "controls/CXTabCtrl.h"

#include "controls/CTabActivateEvent.h"

#include <QApplication>
#include <QPainter>
#include <QSignalBlocker>
#include <QStyleOptionTabWidgetFrame>
#include <QTabBar>

#include <algorithm>

CXTabCtrl::CXTabCtrl(QWidget* parent) : QWidget(parent), m_tabBar(new QTabBar(this))
{
    m_tabBar->setObjectName("tabBar");
    m_tabBar->setDrawBase(false);
    m_tabBar->setExpanding(false);
    connect(m_tabBar, &QTabBar::currentChanged, this, &CXTabCtrl::OnSelChange);
}

int CXTabCtrl::AddTab(const QString& caption, QWidget* window, int image)
{
    const bool first = m_tabStates.empty();
    m_windows.push_back(window);
    m_images.push_back(image);
    m_tabStates.push_back(1);
    {
        // Adding the first tab selects it; that is not a change of selection for the dialogs.
        const QSignalBlocker blocker(m_tabBar);
        m_tabBar->addTab(caption);
    }
    const int index = GetItemCount() - 1;
    ApplyTextColor(index);
    if (window != nullptr)
    {
        if (window->parentWidget() != this)
            window->setParent(this);
        window->setGeometry(PageRect());
        window->setVisible(first);
    }
    updateGeometry(); // the window's minimum size now counts
    return index;
}

void CXTabCtrl::DeleteAllTabs()
{
    if (QWidget* window = GetTabWindow(GetCurSel()))
    {
        window->hide();
        Activate(window, false);
    }
    m_tabStates.clear();
    m_windows.clear();
    m_images.clear();
    const QSignalBlocker blocker(m_tabBar);
    while (m_tabBar->count() > 0)
        m_tabBar->removeTab(m_tabBar->count() - 1);
    m_previousSelection = 0;
}

bool CXTabCtrl::SelectFirstTab()
{
    const int current = GetCurSel();
    if (current == 0)
        return true;
    if (!IsTabEnabled(0))
        return false;
    QWidget* window = GetTabWindow(current);
    if (window == nullptr)
        return true;
    window->hide();
    Activate(window, false);
    {
        const QSignalBlocker blocker(m_tabBar);
        m_tabBar->setCurrentIndex(0);
    }
    m_previousSelection = 0;
    if (QWidget* first = GetTabWindow(0))
    {
        first->show();
        Activate(first, true);
    }
    return true;
}

void CXTabCtrl::EnableOnlyTab(int index)
{
    m_lastRepainted.clear();
    for (int i = 0; i < GetItemCount(); ++i)
        SetTabState(i, i == index ? 1 : 0);
}

void CXTabCtrl::EnableAllTabs()
{
    m_lastRepainted.clear();
    for (int i = 0; i < GetItemCount(); ++i)
        SetTabState(i, 1);
}

bool CXTabCtrl::IsTabEnabled(int index) const
{
    return index >= 0 && index < GetItemCount() && m_tabStates[static_cast<std::size_t>(index)] == 1;
}

int CXTabCtrl::GetCurSel() const
{
    return m_tabBar->currentIndex();
}

QWidget* CXTabCtrl::GetTabWindow(int index) const
{
    return index >= 0 && index < GetItemCount() ? m_windows[static_cast<std::size_t>(index)] : nullptr;
}

int CXTabCtrl::GetTabImage(int index) const
{
    return index >= 0 && index < GetItemCount() ? m_images[static_cast<std::size_t>(index)] : -1;
}

QPoint CXTabCtrl::DialogPosition() const
{
    return {1, m_tabBar->sizeHint().height()};
}

void CXTabCtrl::OnSelChange(int index)
{
    if (index < 0 || index >= GetItemCount())
        return;
    if (!IsTabEnabled(index))
    {
        // A disabled tab cannot be selected: go back to where the selection was.
        const QSignalBlocker blocker(m_tabBar);
        m_tabBar->setCurrentIndex(m_previousSelection);
        return;
    }
    if (QWidget* previous = GetTabWindow(m_previousSelection); previous != nullptr && m_previousSelection != index)
    {
        previous->hide();
        Activate(previous, false);
    }
    if (QWidget* window = GetTabWindow(index))
    {
        window->show();
        Activate(window, true);
    }
    m_previousSelection = index;
}

void CXTabCtrl::SetTabState(int index, int state)
{
    auto& current = m_tabStates[static_cast<std::size_t>(index)];
    if (current == state)
        return;
    current = state;
    ApplyTextColor(index); // repaints this tab's rectangle only
    m_lastRepainted.push_back(index);
}

void CXTabCtrl::ApplyTextColor(int index)
{
    const auto colour = IsTabEnabled(index) ? palette().color(QPalette::Active, QPalette::ButtonText)
                                            : palette().color(QPalette::Disabled, QPalette::ButtonText);
    m_tabBar->setTabTextColor(index, colour);
}

void CXTabCtrl::Activate(QWidget* window, bool active)
{
    CTabActivateEvent event(active);
    QApplication::sendEvent(window, &event);
}

void CXTabCtrl::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    m_tabBar->setGeometry(0, 0, width(), m_tabBar->sizeHint().height());
    // The hosted windows fill the page, so that their layouts follow the main window.
    for (QWidget* window : HostedWindows())
        window->setGeometry(PageRect());
}

QRect CXTabCtrl::PageRect() const
{
    const QPoint at = DialogPosition();
    return {at, QSize(std::max(0, width() - 2 * at.x()), std::max(0, height() - at.y() - 1))};
}

QList<QWidget*> CXTabCtrl::HostedWindows() const
{
    // The children, not the tab list: a window deleted by its owner is gone from here at once.
    QList<QWidget*> windows = findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
    windows.removeAll(m_tabBar);
    return windows;
}

QSize CXTabCtrl::PageSize(QSize (QWidget::*hint)() const) const
{
    QSize size(0, 0);
    for (QWidget* window : HostedWindows())
        size = size.expandedTo((window->*hint)());
    const QPoint at = DialogPosition();
    return size + QSize(2 * at.x(), at.y() + 1);
}

QSize CXTabCtrl::sizeHint() const
{
    return PageSize(&QWidget::sizeHint);
}

QSize CXTabCtrl::minimumSizeHint() const
{
    return PageSize(&QWidget::minimumSizeHint);
}

void CXTabCtrl::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    QStyleOptionTabWidgetFrame frame;
    frame.initFrom(this);
    // Without tabs there is no tab bar to leave room for: a closed frame.
    const bool hasTabs = m_tabBar->count() > 0;
    frame.rect = rect().adjusted(0, hasTabs ? m_tabBar->sizeHint().height() - 1 : 0, 0, 0);
    frame.tabBarSize = hasTabs ? m_tabBar->sizeHint() : QSize();
    frame.shape = QTabBar::RoundedNorth;
    style()->drawPrimitive(QStyle::PE_FrameTabWidget, &frame, &painter, this);
}

void CXTabCtrl::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange)
        for (int i = 0; i < GetItemCount(); ++i)
            ApplyTextColor(i);
}
