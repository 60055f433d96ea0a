// The main window: the tab order with one activation of the Record tab, the
// discovery schedule (driven tick by tick, counted by a loopback listener),
// discovery targets from the settings, the shutdown order.

#include "app/COrvaneDlg.h"

#include "GuiTest.h"
#include "app/CAboutDlg.h"
#include "app/CDiscoverDlg.h"
#include "controls/CSettings.h"
#include "controls/CTabActivateEvent.h"
#include "controls/CXTabCtrl.h"

#include <QAction>
#include <QElapsedTimer>
#include <QLabel>
#include <QMenuBar>
#include <QSettings>
#include <QTabBar>
#include <QTimer>

namespace
{
std::vector<QString> g_destroyed;

class TabProbe : public QWidget
{
public:
    TabProbe(const QString& name, QWidget* parent) : QWidget(parent) { setObjectName(name); }
    ~TabProbe() override { g_destroyed.push_back(objectName()); }
    int m_activated = 0;

protected:
    bool event(QEvent* e) override
    {
        if (e->type() == CTabActivateEvent::Type() && static_cast<CTabActivateEvent*>(e)->IsActive())
            ++m_activated;
        return QWidget::event(e);
    }
};

//! The main window with stand-ins for the Play and Record tab dialogs.
class WindowWithTabs : public COrvaneDlg
{
public:
    TabProbe* m_play = nullptr;
    TabProbe* m_record = nullptr;

protected:
    void CreateTabDialogs(CXTabCtrl* tabCtrl, QWidget*& playDlg, QWidget*& recordDlg) override
    {
        playDlg = m_play = new TabProbe("play", tabCtrl);
        recordDlg = m_record = new TabProbe("record", tabCtrl);
    }
};

void SetDiscoverTarget(std::uint16_t port)
{
    CSettings::WriteProfileString("Discovery", "Targets", "127.0.0.1");
    CSettings::WriteProfileInt("Discovery", "Port", port);
}
} // namespace

class COrvaneDlgTest : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { SetDiscoverTarget(9); }

    void recordTabComesFirstIsActivatedOnceAndOutlivesThePlayTab()
    {
        g_destroyed.clear();
        {
            WindowWithTabs dlg;
            dlg.OnInitDialog();
            CXTabCtrl* tabs = dlg.TabCtrl();
            QCOMPARE(tabs->TabBar()->tabText(0), QString("Record"));
            QCOMPARE(tabs->TabBar()->tabText(1), QString("Play"));
            QCOMPARE(tabs->GetCurSel(), 0);
            QCOMPARE(tabs->GetTabWindow(0), dlg.m_record);
            // A second activation would open the Record tab's network twice.
            QCOMPARE(dlg.m_record->m_activated, 1);
            QCOMPARE(dlg.m_play->m_activated, 0);
        }
        // The Play tab stops its play-out before the Record tab goes.
        QCOMPARE(g_destroyed, (std::vector<QString>{"play", "record"}));
    }

    void discoveryRequestsFollowTheSchedule()
    {
        LoopbackPeer listener(0x7F000001u);
        QVERIFY(listener.Valid());
        SetDiscoverTarget(listener.Port());
        COrvaneDlg dlg;
        dlg.OnInitDialog();
        QVERIFY(dlg.DiscoverTimer().isActive());
        QCOMPARE(dlg.DiscoverTimer().interval(), 2000);

        std::vector<int> intervals;
        for (int tick = 0; tick < 8; ++tick)
        {
            dlg.OnDiscoverTimer();
            intervals.push_back(dlg.DiscoverTimer().interval());
        }
        // Requests at 2, 4, 6, 8, 10 and 12 s, then every 5 s.
        QCOMPARE(intervals, (std::vector<int>{2000, 2000, 2000, 2000, 2000, 5000, 5000, 5000}));
        QCOMPARE(dlg.FastDiscoverCount(), 0);
        int received = 0;
        while (!listener.Receive(500).empty())
            ++received;
        QCOMPARE(received, 8);
        QCOMPARE(dlg.Discover().GetCounters().requestsSent, 8u);
    }

    void discoveryTargetsComeFromTheSettings()
    {
        // Written by hand without quotes, the INI value reads back as a list; it is still one setting.
        {
            QSettings settings(CSettings::kOrganization, QCoreApplication::applicationName());
            settings.setValue("Discovery/Targets", QStringList{"127.0.0.2", " bogus ", "127.0.0.3"});
        }
        QCOMPARE(CSettings::GetProfileString("Discovery", "Targets", {}), QString("127.0.0.2, bogus ,127.0.0.3"));
        CSettings::WriteProfileString("Discovery", "Port", "not a number");
        QCOMPARE(CSettings::GetProfileInt("Discovery", "Port", 8947), 8947);
        COrvaneDlg dlg;
        dlg.OnInitDialog();
        QCOMPARE(dlg.Discover().GetTargets(), (std::vector<std::uint32_t>{0x7F000002u, 0x7F000003u}));
    }

    void startAndCloseManyTimes()
    {
        // Start-up and shutdown of the whole window, under the sanitizers without leaks.
        for (int i = 0; i < 3; ++i)
        {
            auto* dlg = new WindowWithTabs;
            dlg->OnInitDialog();
            dlg->show();
            QVERIFY(QTest::qWaitForWindowExposed(dlg));
            dlg->close();
            delete dlg;
        }
    }
};

ORVANE_GUI_TEST(COrvaneDlgTest)
#include "COrvaneDlgTest.moc"
