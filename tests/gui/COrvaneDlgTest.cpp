// The main window: the tab order with one activation of the Record tab, the
// discovery schedule (driven tick by tick, counted by a loopback listener),
// discovery targets from the settings, the shutdown order, and quitting by
// keyboard: no run ends on Escape alone; the window's layout at its smallest, a
// large size and the tree widths kept; the menus' mnemonics.

#include "GuiTest.h"

namespace
{
std::vector<QString> g_destroyed;

//! The main window with stand-ins for the Play and Record tab dialogs.
class WindowWithTabs : public COrvaneDlg
{
public:
    TabProbe* m_play = nullptr;
    TabProbe* m_record = nullptr;

protected:
    void CreateTabDialogs(CXTabCtrl* tabCtrl, QWidget*& playDlg, QWidget*& recordDlg) override
    {
        playDlg = m_play = new TabProbe("play", tabCtrl, &g_destroyed);
        recordDlg = m_record = new TabProbe("record", tabCtrl, &g_destroyed);
    }
};
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
            QVERIFY(tabs->TabBar()->tabText(0) == "Record" && tabs->TabBar()->tabText(1) == "Play");
            QVERIFY(tabs->GetCurSel() == 0 && tabs->GetTabWindow(0) == dlg.m_record);
            // A second activation would open the Record tab's network twice.
            QVERIFY(dlg.m_record->m_activated == 1 && dlg.m_play->m_activated == 0);
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
        QVERIFY(dlg.DiscoverTimer().isActive() && dlg.DiscoverTimer().interval() == 2000);
        QCOMPARE(dlg.Reset().GetPort(), listener.Port()); // a factory reset goes to the same port

        std::vector<int> intervals;
        for (int tick = 0; tick < 8; ++tick)
        {
            dlg.OnDiscoverTimer();
            intervals.push_back(dlg.DiscoverTimer().interval());
        }
        // Requests at 2, 4, 6, 8, 10 and 12 s, then every 5 s.
        QCOMPARE(intervals, (std::vector<int>{2000, 2000, 2000, 2000, 2000, 5000, 5000, 5000}));
        int received = 0;
        while (!listener.Receive(500).empty())
            ++received;
        QVERIFY(dlg.FastDiscoverCount() == 0 && received == 8 && dlg.Discover().GetCounters().requestsSent == 8u);
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

    void quitAsksWhileARunIsActiveAndNoKeepsIt()
    {
        CFakeUiServices ui;
        COrvaneDlg dlg;
        dlg.OnInitDialog();
        ShowActive(dlg);
        auto* record = dlg.findChild<CRecFromNetworkDlg*>();

        // Nothing runs: Escape quits at once. (The Play tab's keys: DesktopTest and ControlsTest.)
        QVERIFY(!dlg.IsRunActive());
        QTest::keyClick(&dlg, Qt::Key_Escape);
        QVERIFY(!dlg.isVisible() && ui.m_questions.empty());
        ShowActive(dlg);

        // Monitoring, started from the keyboard.
        record->findChild<QLineEdit*>("portEdit")->setText(QString::number(FreePort()));
        QTest::mouseClick(record->findChild<CButtonStyle*>("networkOpenButton"), Qt::LeftButton);
        auto* monitor = record->findChild<CButtonStyle*>("monitorButton");
        monitor->setFocus();
        QTest::keyClick(monitor, Qt::Key_Space);
        QVERIFY(record->RecordThread()->GetState() == CRecordThread::kMonitoring && dlg.IsRunActive());

        // Escape and the close box ask; No keeps window and run.
        ui.m_answer = false;
        QTest::keyClick(&dlg, Qt::Key_Escape);
        QCOMPARE(ui.m_questions.size(), std::size_t{1});
        QCOMPARE(ui.m_questions[0].caption + ": " + ui.m_questions[0].text,
                 QString("Orvane: Stop playing/recording and quit?"));
        QVERIFY(dlg.isVisible() && !dlg.close() && ui.m_questions.size() == 2);
        QCOMPARE(record->RecordThread()->GetState(), CRecordThread::kMonitoring);
        // Yes quits.
        ui.m_answer = true;
        QVERIFY(dlg.close() && !dlg.isVisible());
    }

    void windowGrowsItsTreesAndRemembersItsSize()
    {
        CFakeUiServices ui;
        QSettings().remove("Window");
        // The widest Record tab: Signal Info with its FEC and per-path figures.
        for (const char* key : {"Record/NetworkType", "Record/NetworkFec", "Record/SecondEnable"})
            QSettings().setValue(key, 1);
        const QSize large(1800, 1000);
        QList<int> treeWidths;
        {
            COrvaneDlg dlg;
            dlg.OnInitDialog();
            ShowActive(dlg);
            // Fits a 1024x600 screen with a desktop panel and a title bar.
            const QSize smallest = dlg.minimumSizeHint();
            QVERIFY2(smallest.width() <= 1024 && smallest.height() <= 600 - 40 - 30,
                     qPrintable(QString("%1x%2").arg(smallest.width()).arg(smallest.height())));
            auto* record = dlg.findChild<CRecFromNetworkDlg*>();
            auto* play = dlg.findChild<CPlayToNetworkDlg*>();
            dlg.resize(smallest);
            QVERIFY(WaitFor([&] { return dlg.size() == smallest; }));
            QApplication::processEvents();
            for (QWidget* tab : {static_cast<QWidget*>(record), static_cast<QWidget*>(play)})
            {
                tab->show(); // laid out even when not the selected tab
                QApplication::processEvents();
                QVERIFY(tab->rect().size() == dlg.TabCtrl()->PageRect().size());
                for (QWidget* control : tab->findChildren<QWidget*>())
                {
                    const QString where = control->objectName();
                    // A hidden popup (an editable combo box's list) is no part of the page.
                    if (!control->isVisibleTo(tab) || control->parentWidget() == nullptr || where.startsWith("qt_"))
                        continue;
                    if (control->parentWidget()->objectName() == "qt_scrollarea_viewport")
                        continue; // a scroll area's content scrolls (the TR 101 290 rows)
                    QVERIFY2(control->parentWidget()->rect().contains(control->geometry()), qPrintable(where));
                    if (auto* button = qobject_cast<CButtonStyle*>(control)) // icons whole
                        QVERIFY2(button->width() >= button->sizeHint().width() &&
                                     button->height() >= button->sizeHint().height(),
                                 qPrintable(where));
                }
            }
            play->hide();
            dlg.resize(large);
            auto* splitter = record->findChild<QSplitter*>("treesSplitter");
            splitter->setSizes({200, splitter->width() - 200 - splitter->handleWidth()});
            treeWidths = splitter->sizes();
            QVERIFY(dlg.close());
        }
        COrvaneDlg again;
        again.OnInitDialog();
        ShowActive(again);
        QCOMPARE(again.size(), large);
        auto* splitter = again.findChild<CRecFromNetworkDlg*>()->findChild<QSplitter*>("treesSplitter");
        QVERIFY(WaitFor([&] { return splitter->sizes() == treeWidths; }) && ui.m_messages.empty());
        QSettings().remove("Record");
    }

    void menusOpenWithTheirMnemonics()
    {
        WindowWithTabs dlg;
        dlg.OnInitDialog();
        ShowActive(dlg);
        const std::pair<Qt::Key, const char*> menus[] = {
            {Qt::Key_F, "menuFile"}, {Qt::Key_D, "menuDevice"}, {Qt::Key_V, "menuView"}, {Qt::Key_H, "menuHelp"}};
        for (const auto& [key, name] : menus)
        {
            auto* menu = dlg.findChild<QMenu*>(name);
            QTest::keyClick(&dlg, key, Qt::AltModifier);
            QVERIFY2(WaitFor([&] { return menu->isVisible(); }), name);
            QTest::keyClick(menu, Qt::Key_Escape);
            QVERIFY(WaitFor([&] { return !menu->isVisible(); }));
        }
    }
};

ORVANE_GUI_TEST(COrvaneDlgTest)
#include "COrvaneDlgTest.moc"
