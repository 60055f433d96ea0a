// The tab control's locking: disabled tabs keep the selection (mouse and
// keyboard), activation events follow only real changes, repaints only of changed tabs.

#include "controls/CXTabCtrl.h"

#include "GuiTest.h"
#include "controls/CTabActivateEvent.h"

#include <QTabBar>

namespace
{
//! A tab dialog that counts its activation events.
class TabProbe : public QWidget
{
public:
    using QWidget::QWidget;
    int m_activated = 0;
    int m_deactivated = 0;

protected:
    bool event(QEvent* e) override
    {
        if (e->type() == CTabActivateEvent::Type())
        {
            (static_cast<CTabActivateEvent*>(e)->IsActive() ? m_activated : m_deactivated)++;
            return true;
        }
        return QWidget::event(e);
    }
};
} // namespace

class CXTabCtrlTest : public QObject
{
    Q_OBJECT

private:
    struct Fixture
    {
        CXTabCtrl tabs;
        TabProbe* first = new TabProbe(&tabs);
        TabProbe* second = new TabProbe(&tabs);
        Fixture()
        {
            tabs.resize(600, 300);
            tabs.AddTab("Record", first, 0);
            tabs.AddTab("Play", second, 1);
            tabs.show();
            QVERIFY(QTest::qWaitForWindowExposed(&tabs));
        }
        void Click(int index) const
        {
            QTest::mouseClick(tabs.TabBar(), Qt::LeftButton, {}, tabs.TabBar()->tabRect(index).center());
        }
    };

private slots:
    void aDisabledTabKeepsTheSelection()
    {
        Fixture f;
        f.tabs.EnableOnlyTab(0);
        QVERIFY(f.tabs.IsTabEnabled(0));
        QVERIFY(!f.tabs.IsTabEnabled(1));
        QCOMPARE(f.tabs.LastRepaintedTabs(), std::vector<int>{1});

        f.Click(1);
        QCOMPARE(f.tabs.GetCurSel(), 0);
        QVERIFY(f.first->isVisible());
        QVERIFY(!f.second->isVisible());
        QCOMPARE(f.first->m_deactivated, 0);
        QCOMPARE(f.second->m_activated, 0);

        // Same state again: nothing to repaint.
        f.tabs.EnableOnlyTab(0);
        QVERIFY(f.tabs.LastRepaintedTabs().empty());
        f.tabs.EnableAllTabs();
        QCOMPARE(f.tabs.LastRepaintedTabs(), std::vector<int>{1});
        f.Click(1);
        QCOMPARE(f.tabs.GetCurSel(), 1);
        QCOMPARE(f.second->m_activated, 1);
    }

    void theRunningTabLocksTheOthersOut()
    {
        Fixture f;
        f.Click(1);
        f.tabs.EnableOnlyTab(1); // the Play tab starts a job
        QCOMPARE(f.tabs.LastRepaintedTabs(), std::vector<int>{0});
        QVERIFY(!f.tabs.SelectFirstTab());
        f.Click(0);
        QCOMPARE(f.tabs.GetCurSel(), 1);
        QVERIFY(f.second->isVisible());
        // Keyboard navigation cannot get there either.
        f.tabs.TabBar()->setCurrentIndex(0);
        QCOMPARE(f.tabs.GetCurSel(), 1);
        QCOMPARE(f.first->m_activated, 0);
    }
};

ORVANE_GUI_TEST(CXTabCtrlTest)
#include "CXTabCtrlTest.moc"
