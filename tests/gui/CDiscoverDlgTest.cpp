// The discovery dialog against hand-made answers from loopback addresses and
// against two orvane-devsim processes: refresh rules, both modes, Settings,
// Update and Reset.

#include "app/CDiscoverDlg.h"

#include "GuiTest.h"
#include "devices/CUDPDiscover.h"
#include "devices/CUDPReset.h"

#include <QFile>
#include <QHeaderView>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTreeWidget>

#include <atomic>

namespace
{
constexpr std::uint32_t kLoopback = 0x7F000001u;

QStringList Rows(const CDiscoverDlg& dlg, int column)
{
    QStringList rows;
    for (int i = 0; i < dlg.List()->topLevelItemCount(); ++i)
        rows.push_back(dlg.List()->topLevelItem(i)->text(column));
    return rows;
}

void Select(CDiscoverDlg& dlg, const QString& address)
{
    for (int i = 0; i < dlg.List()->topLevelItemCount(); ++i)
        if (dlg.List()->topLevelItem(i)->text(0) == address)
            dlg.List()->setCurrentItem(dlg.List()->topLevelItem(i));
}

//! Discovery bound to loopback, with a clock the test moves.
struct Discovery
{
    std::atomic<std::int64_t> nowNs{1'000'000'000};
    CUDPDiscover discover{kLoopback, [this] { return nowNs.load(); }};
    CUDPReset reset;

    void Answer(const LoopbackPeer& peer, std::uint32_t address, std::uint64_t serial)
    {
        const auto before = discover.GetCounters().announcements;
        peer.Announce(discover.GetLocalPort(), TestRecord(address, serial));
        QVERIFY(WaitFor([&] { return discover.GetCounters().announcements > before; }));
    }
};
} // namespace

class CDiscoverDlgTest : public QObject
{
    Q_OBJECT

private slots:
    void managementModeStartsWithTheListEmptyAndActionsDisabled()
    {
        Discovery d;
        CDiscoverDlg dlg(&d.discover, &d.reset, CDiscoverDlg::kModeManage);
        dlg.show();
        QCOMPARE(dlg.windowTitle(), QString("Detected devices"));
        QCOMPARE(dlg.List()->headerItem()->text(0), QString("IP address"));
        QCOMPARE(dlg.List()->headerItem()->text(1), QString("Serial number"));
        QCOMPARE(dlg.List()->columnWidth(0), 300);
        QCOMPARE(dlg.List()->property("controlId").toInt(), 1000);
        QVERIFY(dlg.RefreshTimer().isActive());
        QCOMPARE(dlg.RefreshTimer().interval(), 1000);
        QCOMPARE(dlg.OkButton()->text(), QString("Close"));
        QVERIFY(dlg.OkButton()->isEnabled());
        for (QPushButton* b : {dlg.UpdateButton(), dlg.SettingsButton(), dlg.ResetButton()})
        {
            QVERIFY(b->isVisible());
            QVERIFY(!b->isEnabled());
        }
        QCOMPARE(dlg.ResetButton()->text(), QString("Reset To Factory Defaults"));
        QVERIFY(!dlg.CancelButton()->isVisible());
        QVERIFY(!dlg.findChild<QPushButton*>("findButton")->isVisible());
        QCOMPARE(dlg.List()->topLevelItemCount(), 0);
    }

    void withoutDiscoveryNothingRefreshes()
    {
        CDiscoverDlg dlg(nullptr, nullptr, CDiscoverDlg::kModeManage);
        QVERIFY(!dlg.RefreshTimer().isActive());
        dlg.RefreshList();
        dlg.OnFind();
        QVERIFY(!dlg.RefreshTimer().isActive());
        QCOMPARE(dlg.List()->topLevelItemCount(), 0);
    }

    void refreshKeepsRowsAddsOnTopAndDropsVanishedDevices()
    {
        Discovery d;
        LoopbackPeer a(0x7F000002u), b(0x7F000003u), c(0x7F000004u);
        CDiscoverDlg dlg(&d.discover, &d.reset, CDiscoverDlg::kModeManage);
        d.Answer(a, 0x7F000002u, 2);
        dlg.RefreshList();
        QCOMPARE(Rows(dlg, 0), QStringList({"127.0.0.2"}));
        QCOMPARE(Rows(dlg, 1), QStringList({"2"}));
        QCOMPARE(dlg.List()->topLevelItem(0)->data(0, Qt::UserRole).toUInt(), 0x7F000002u);

        // Two new devices in one pass: the later one in the list ends on top;
        // the known device keeps its place and its serial text.
        d.Answer(b, 0x7F000003u, 3);
        d.Answer(c, 0x7F000004u, 4);
        d.Answer(a, 0x7F000002u, 22);
        dlg.RefreshList();
        QCOMPARE(Rows(dlg, 0), QStringList({"127.0.0.4", "127.0.0.3", "127.0.0.2"}));
        QCOMPARE(Rows(dlg, 1), QStringList({"4", "3", "2"}));
        dlg.RefreshList();
        QCOMPARE(Rows(dlg, 0), QStringList({"127.0.0.4", "127.0.0.3", "127.0.0.2"}));

        // Only b answers again; 15 s of silence removes the others' rows.
        d.nowNs += 10'000'000'000;
        d.Answer(b, 0x7F000003u, 3);
        d.nowNs += 6'000'000'000;
        dlg.RefreshList();
        QCOMPARE(Rows(dlg, 0), QStringList({"127.0.0.3"}));
    }

    void selectionModeReturnsTheAddressMostSignificantFirst()
    {
        Discovery d;
        LoopbackPeer a(0x7F000002u), b(0x7F0A0B0Cu);
        d.Answer(a, 0x7F000002u, 2);
        d.Answer(b, 0x7F0A0B0Cu, 12);
        CDiscoverDlg dlg(&d.discover, &d.reset, CDiscoverDlg::kModeSelect);
        dlg.show();
        QCOMPARE(dlg.OkButton()->text(), QString("Use selected"));
        QVERIFY2(dlg.OkButton()->width() >= dlg.OkButton()->sizeHint().width(), "the caption is not cut off");
        QVERIFY(dlg.CancelButton()->geometry().right() < dlg.OkButton()->x());
        QVERIFY(dlg.OkButton()->geometry().right() < dlg.width());
        QVERIFY(!dlg.OkButton()->isEnabled());
        QVERIFY(dlg.CancelButton()->isVisible());
        for (QPushButton* b2 : {dlg.UpdateButton(), dlg.SettingsButton(), dlg.ResetButton()})
            QVERIFY(!b2->isVisible());
        dlg.RefreshList();
        QCOMPARE(dlg.GetSelectedAddress(), 0u);

        Select(dlg, "127.10.11.12");
        QVERIFY(dlg.OkButton()->isEnabled());
        QCOMPARE(dlg.GetSelectedAddress(), 0x7F0A0B0Cu);
        QCOMPARE(dlg.GetSelectedAddressText(), QString("127.10.11.12"));
        dlg.List()->clearSelection();
        QVERIFY(!dlg.OkButton()->isEnabled());
        QCOMPARE(dlg.GetSelectedAddress(), 0u);
        QVERIFY(dlg.GetSelectedAddressText().isEmpty());

        Select(dlg, "127.0.0.2");
        QTest::mouseClick(dlg.OkButton(), Qt::LeftButton);
        QCOMPARE(dlg.result(), int(QDialog::Accepted));
        QCOMPARE(dlg.GetSelectedAddress(), 0x7F000002u);
    }

    void settingsAndDoubleClickOpenTheDevicePage()
    {
        CFakeUiServices ui;
        Discovery d;
        LoopbackPeer a(0x7F000005u);
        d.Answer(a, 0x7F000005u, 5);
        CDiscoverDlg dlg(&d.discover, &d.reset, CDiscoverDlg::kModeManage);
        dlg.show();
        dlg.RefreshList();
        dlg.OnSettings(); // nothing selected: nothing opened
        QVERIFY(ui.m_urls.isEmpty());
        Select(dlg, "127.0.0.5");
        for (QPushButton* b : {dlg.UpdateButton(), dlg.SettingsButton(), dlg.ResetButton()})
            QVERIFY(b->isEnabled());
        QTest::mouseClick(dlg.SettingsButton(), Qt::LeftButton);
        QCOMPARE(ui.m_urls, QStringList({"http://127.0.0.5"}));
        dlg.List()->clearSelection();
        QVERIFY(!dlg.SettingsButton()->isEnabled());
        QVERIFY(dlg.OkButton()->isEnabled()); // Close always works

        CDiscoverDlg select(&d.discover, &d.reset, CDiscoverDlg::kModeSelect);
        select.show();
        select.RefreshList();
        QTreeWidgetItem* item = select.List()->topLevelItem(0);
        const QPoint at = select.List()->visualItemRect(item).center();
        QTest::mouseClick(select.List()->viewport(), Qt::LeftButton, {}, at);
        QTest::mouseDClick(select.List()->viewport(), Qt::LeftButton, {}, at);
        QCOMPARE(ui.m_urls, QStringList({"http://127.0.0.5", "http://127.0.0.5"}));
    }

    void updateStartsTheToolBesideTheProgramWithoutAShell()
    {
        CFakeUiServices ui;
        Discovery d;
        LoopbackPeer a(0x7F000005u);
        d.Answer(a, 0x7F000005u, 5);
        CDiscoverDlg dlg(&d.discover, &d.reset, CDiscoverDlg::kModeManage);
        QVERIFY(dlg.UpdateToolPath().endsWith("/pimlow"));
        dlg.RefreshList();
        Select(dlg, "127.0.0.5");

        QTemporaryDir dir;
        const QString tool = dir.path() + "/pimlow";
        dlg.SetUpdateToolPath(tool);
        dlg.OnUpdate(); // not there: nothing happens
        QVERIFY(ui.m_processes.empty());
        QVERIFY(ui.m_messages.empty());

        QFile file(tool);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        dlg.OnUpdate();
        QCOMPARE(ui.m_processes.size(), std::size_t{1});
        QCOMPARE(ui.m_processes[0].program, tool);
        QCOMPARE(ui.m_processes[0].arguments, QStringList({"-v", "--device", "127.0.0.5"}));
    }

    void resetIsSentOnlyAfterYes()
    {
        CFakeUiServices ui;
        Discovery d;
        LoopbackPeer device(0x7F000006u);
        d.Answer(device, 0x7F000006u, 6);
        d.reset.SetPort(device.Port());
        CDiscoverDlg dlg(&d.discover, &d.reset, CDiscoverDlg::kModeManage);
        dlg.RefreshList();
        dlg.OnResetToFactoryDefaults(); // nothing selected: not even a question
        QVERIFY(ui.m_questions.empty());

        Select(dlg, "127.0.0.6");
        ui.m_answer = false;
        dlg.OnResetToFactoryDefaults();
        QCOMPARE(ui.m_questions.size(), std::size_t{1});
        QCOMPARE(ui.m_questions[0].text, QString("Are you sure you want to reset\n\rto the factory defaults?"));
        QCOMPARE(ui.m_questions[0].caption, QCoreApplication::applicationName());
        QVERIFY(device.Receive(300).empty());

        ui.m_answer = true;
        dlg.OnResetToFactoryDefaults();
        QCOMPARE(device.Receive(), (std::vector<std::uint8_t>{'O', 'R', 'V', 'D', 1, 3, 0, 0}));
        QCOMPARE(dlg.List()->topLevelItemCount(), 1); // the row stays until discovery drops it
    }

    void twoSimulatedDevicesAreListed()
    {
        const QString devsim = qEnvironmentVariable("ORVANE_DEVSIM");
        QVERIFY(QFile::exists(devsim));
        // A port free on loopback for both simulated devices.
        std::uint16_t port = 0;
        {
            LoopbackPeer probe(0x7F000002u);
            port = probe.Port();
        }
        QProcess first, second;
        first.start(devsim, {"--address", "127.0.0.2", "--port", QString::number(port), "--serial", "4711001",
                             "--seconds", "30"});
        second.start(devsim, {"--address", "127.0.0.3", "--port", QString::number(port), "--serial", "4711002",
                              "--seconds", "30"});
        QVERIFY(first.waitForReadyRead(5'000));
        QVERIFY(second.waitForReadyRead(5'000));

        CFakeUiServices ui;
        Discovery d;
        d.discover.SetTargets({0x7F000002u, 0x7F000003u}, port);
        d.reset.SetPort(port);
        QVERIFY(d.discover.SendDiscoverPacket());
        QVERIFY(WaitFor([&] { return d.discover.GetDevices().size() == 2; }));
        CDiscoverDlg dlg(&d.discover, &d.reset, CDiscoverDlg::kModeManage);
        dlg.show();
        QVERIFY(WaitFor([&] { return dlg.List()->topLevelItemCount() == 2; })); // the dialog's own timer
        QStringList rows = Rows(dlg, 0);
        rows.sort();
        QCOMPARE(rows, QStringList({"127.0.0.2", "127.0.0.3"}));
        QStringList serials = Rows(dlg, 1);
        serials.sort();
        QCOMPARE(serials, QStringList({"4711001", "4711002"}));

        Select(dlg, "127.0.0.3");
        ui.m_answer = true;
        dlg.OnResetToFactoryDefaults();
        QVERIFY(WaitFor([&] {
            second.waitForReadyRead(50);
            return second.peek(4096).contains("factory reset requested by 127.0.0.1");
        }));
        first.kill();
        second.kill();
        first.waitForFinished(5'000);
        second.waitForFinished(5'000);
    }
};

ORVANE_GUI_TEST(CDiscoverDlgTest)
#include "CDiscoverDlgTest.moc"
