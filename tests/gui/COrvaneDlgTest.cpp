// The main window: caption, menus, banner painting, tab order and activation,
// the discovery schedule (driven tick by tick, counted by a loopback listener)
// and the shutdown order.

#include "app/COrvaneDlg.h"

#include "GuiTest.h"
#include "app/CAboutDlg.h"
#include "app/CDiscoverDlg.h"
#include "app/CSettings.h"
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

    void windowHasItsCaptionMenusAndControlIds()
    {
        CFakeUiServices ui;
        COrvaneDlg dlg;
        QVERIFY(dlg.OnInitDialog());
        QCOMPARE(dlg.windowTitle(), QString("Orvane"));
        const auto menus = dlg.menuBar()->actions();
        QCOMPARE(menus.size(), 2);
        QCOMPARE(menus[0]->text(), QString("Device"));
        const auto deviceItems = menus[0]->menu()->actions();
        QCOMPARE(deviceItems.size(), 1);
        QCOMPARE(deviceItems[0]->text(), QString("Discover IP Devices"));
        QCOMPARE(deviceItems[0]->property("controlId").toInt(), 32771);
        const auto helpItems = menus[1]->menu()->actions();
        QCOMPARE(helpItems[0]->text(), QString("&About Orvane..."));
        QCOMPARE(helpItems[0]->property("controlId").toInt(), 16);
        QCOMPARE(dlg.TabCtrl()->property("controlId").toInt(), 1002);
        QVERIFY(!(dlg.windowFlags() & Qt::WindowMaximizeButtonHint));
        QCOMPARE(dlg.minimumSize(), dlg.maximumSize());
        QVERIFY(ui.m_messages.empty()); // the banner loaded
    }

    void bannerIsPaintedInAWhiteBandWithItsMiddleShown()
    {
        COrvaneDlg dlg;
        dlg.OnInitDialog();
        QCOMPARE(dlg.Picture().GetWidth(), 4096);
        const QImage client = dlg.ClientArea()->grab().toImage();
        const int right = client.width();
        QVERIFY(right < 4096);
        const QColor grey(0x80, 0x80, 0x80);
        QCOMPARE(client.pixelColor(0, 64), grey); // along the bottom of the band
        QCOMPARE(client.pixelColor(right - 2, 64), grey);
        QCOMPARE(client.pixelColor(right - 1, 64), grey);
        QCOMPARE(client.pixelColor(right / 2, 65), client.pixelColor(right / 2, 70)); // nothing below the line
        // The word mark sits in the middle of the banner: a narrow window shows it.
        const QColor ink(29, 43, 58);
        int inkPixels = 0;
        for (int x = 0; x < right; ++x)
            inkPixels += client.pixelColor(x, 20) == ink ? 1 : 0;
        QVERIFY2(inkPixels > 20, "the centre of the banner is not shown");
    }

    void recordIsTheFirstTabAndIsActivatedOnce()
    {
        g_destroyed.clear();
        {
            WindowWithTabs dlg;
            dlg.OnInitDialog();
            CXTabCtrl* tabs = dlg.TabCtrl();
            QCOMPARE(tabs->GetItemCount(), 2);
            QCOMPARE(tabs->TabBar()->tabText(0), QString("Record"));
            QCOMPARE(tabs->TabBar()->tabText(1), QString("Play"));
            QCOMPARE(tabs->GetCurSel(), 0);
            QCOMPARE(tabs->GetTabWindow(0), dlg.m_record);
            QCOMPARE(dlg.m_record->property("tabIndex").toInt(), 0);
            QCOMPARE(dlg.m_play->property("tabIndex").toInt(), 1);
            QCOMPARE(tabs->GetTabImage(1), 1);
            QCOMPARE(dlg.m_record->m_activated, 1);
            QCOMPARE(dlg.m_play->m_activated, 0);
            QVERIFY(dlg.m_record->isVisibleTo(tabs));
            QVERIFY(!dlg.m_play->isVisibleTo(tabs));
        }
        // The Play tab dialog goes first, then the Record tab dialog.
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

    void theTimerItselfSendsTheFirstRequestAfterTwoSeconds()
    {
        LoopbackPeer listener(0x7F000001u);
        SetDiscoverTarget(listener.Port());
        COrvaneDlg dlg;
        // Measured from before the set-up: creating the tabs takes part of the two seconds.
        QElapsedTimer clock;
        clock.start();
        dlg.OnInitDialog();
        std::vector<std::uint8_t> request;
        QVERIFY(WaitFor(
            [&] {
                request = listener.Receive(0);
                return !request.empty();
            },
            8'000));
        QVERIFY2(clock.elapsed() >= 1'900, "the first request goes out two seconds after start");
        QCOMPARE(request, (std::vector<std::uint8_t>{'O', 'R', 'V', 'D', 1, 1, 0, 0}));
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

    void deviceMenuOpensTheDiscoveryDialogAndAboutTheAboutBox()
    {
        COrvaneDlg dlg;
        dlg.OnInitDialog();
        dlg.show();
        QString seen;
        // The modal dialog is closed from inside its own loop.
        QTimer::singleShot(100, [&] {
            if (auto* modal = qobject_cast<QDialog*>(QApplication::activeModalWidget()))
            {
                seen = modal->windowTitle();
                modal->reject();
            }
        });
        dlg.OnDiscoverDevices();
        QCOMPARE(seen, QString("Detected devices"));

        QTimer::singleShot(100, [&] {
            if (auto* modal = qobject_cast<QDialog*>(QApplication::activeModalWidget()))
            {
                seen = modal->windowTitle() + '|' + modal->findChild<QLabel*>("versionLabel")->text();
                modal->accept();
            }
        });
        dlg.OnAbout();
        QCOMPARE(seen, QString("About Orvane|Orvane, Version " ORVANE_VERSION));
        // The schedule is the window's alone: the dialog does not change it.
        QCOMPARE(dlg.DiscoverTimer().interval(), 2000);
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
