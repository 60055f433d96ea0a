// The tab control's locking: disabled tabs keep the selection (mouse and
// keyboard), activation events follow only real changes, repaints only of changed tabs.

#include "controls/CXTabCtrl.h"

#include "GuiTest.h"

class CXTabCtrlTest : public QObject
{
    Q_OBJECT

private:
    struct Fixture
    {
        CXTabCtrl tabs;
        TabProbe* first = new TabProbe("record", &tabs);
        TabProbe* second = new TabProbe("play", &tabs);
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
        QVERIFY(f.tabs.IsTabEnabled(0) && !f.tabs.IsTabEnabled(1));
        QCOMPARE(f.tabs.LastRepaintedTabs(), std::vector<int>{1});

        f.Click(1);
        QCOMPARE(f.tabs.GetCurSel(), 0);
        QVERIFY(f.first->isVisible() && !f.second->isVisible());
        QVERIFY(f.first->m_deactivated == 0 && f.second->m_activated == 0);

        // Same state again: nothing to repaint.
        f.tabs.EnableOnlyTab(0);
        QVERIFY(f.tabs.LastRepaintedTabs().empty());
        f.tabs.EnableAllTabs();
        QCOMPARE(f.tabs.LastRepaintedTabs(), std::vector<int>{1});
        f.Click(1);
        QVERIFY(f.tabs.GetCurSel() == 1 && f.second->m_activated == 1);
    }

    void theRunningTabLocksTheOthersOut()
    {
        Fixture f;
        f.Click(1);
        f.tabs.EnableOnlyTab(1); // the Play tab starts a job
        QCOMPARE(f.tabs.LastRepaintedTabs(), std::vector<int>{0});
        QVERIFY(!f.tabs.SelectFirstTab());
        f.Click(0);
        QVERIFY(f.tabs.GetCurSel() == 1 && f.second->isVisible());
        // Keyboard navigation cannot get there either.
        f.tabs.TabBar()->setCurrentIndex(0);
        QVERIFY(f.tabs.GetCurSel() == 1 && f.first->m_activated == 0);
    }
};

ORVANE_GUI_TEST(CXTabCtrlTest)
#include "CXTabCtrlTest.moc"
