// The discovery dialog against hand-made answers from loopback addresses:
// refresh rules with repeated answers, the selection mode, Update and Settings
// that say why nothing happened, and Reset only after Yes. Hostile answers:
// tests/devices; the main window's reset port: COrvaneDlgTest.

#include "app/CDiscoverDlg.h"

#include "GuiTest.h"
#include "devices/CUDPDiscover.h"
#include "devices/CUDPReset.h"

#include <atomic>

namespace
{
constexpr std::uint32_t kLoopback = 0x7F000001u;

//! The texts of @p column, row by row.
QStringList Rows(const CDiscoverDlg& dlg, int column = 0)
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
    void cleanup() { SetDiscoverTarget(9); }

    void refreshKeepsRowsAddsOnTopAndDropsVanishedDevices()
    {
        Discovery d;
        LoopbackPeer a(0x7F000002u), b(0x7F000003u), c(0x7F000004u);
        CDiscoverDlg dlg(&d.discover, &d.reset, CDiscoverDlg::Mode::kManage);
        d.Answer(a, 0x7F000002u, 2);
        dlg.RefreshList();
        // What the device announced: address, serial, model, firmware, MAC.
        QCOMPARE(Rows(dlg) + Rows(dlg, 1) + Rows(dlg, CDiscoverDlg::kModelColumn) +
                     Rows(dlg, CDiscoverDlg::kFirmwareColumn) + Rows(dlg, CDiscoverDlg::kMacColumn),
                 QStringList({"127.0.0.2", "2", "TEST", "1.0.0.0", "02:00:00:00:00:01"}));
        QCOMPARE(dlg.List()->headerItem()->text(CDiscoverDlg::kMacColumn), QString("MAC address"));
        QCOMPARE(dlg.List()->topLevelItem(0)->data(0, Qt::UserRole).toUInt(), 0x7F000002u);

        // Two new devices in one pass: the later one in the list ends on top;
        // the known device keeps its place and its serial text.
        d.Answer(b, 0x7F000003u, 3);
        d.Answer(c, 0x7F000004u, 4);
        d.Answer(a, 0x7F000002u, 22);
        dlg.RefreshList();
        QCOMPARE(Rows(dlg, 1), QStringList({"4", "3", "2"}));
        dlg.RefreshList();
        QCOMPARE(Rows(dlg), QStringList({"127.0.0.4", "127.0.0.3", "127.0.0.2"}));

        // Only b answers again; 15 s of silence removes the others' rows.
        d.nowNs += 10'000'000'000;
        d.Answer(b, 0x7F000003u, 3);
        d.nowNs += 6'000'000'000;
        dlg.RefreshList();
        QCOMPARE(Rows(dlg), QStringList({"127.0.0.3"}));
    }

    void selectionModeReturnsTheAddressMostSignificantFirst()
    {
        Discovery d;
        LoopbackPeer a(0x7F000002u), b(0x7F0A0B0Cu);
        d.Answer(a, 0x7F000002u, 2);
        d.Answer(b, 0x7F0A0B0Cu, 12);
        CDiscoverDlg dlg(&d.discover, &d.reset, CDiscoverDlg::Mode::kSelect);
        dlg.show();
        dlg.RefreshList();
        QVERIFY(!dlg.OkButton()->isEnabled() && dlg.GetSelectedAddress() == 0u);

        Select(dlg, "127.10.11.12");
        QVERIFY(dlg.OkButton()->isEnabled() && dlg.GetSelectedAddress() == 0x7F0A0B0Cu);
        QCOMPARE(dlg.GetSelectedAddressText(), QString("127.10.11.12"));
        dlg.List()->clearSelection();
        QVERIFY(!dlg.OkButton()->isEnabled() && dlg.GetSelectedAddress() == 0u &&
                dlg.GetSelectedAddressText().isEmpty());

        Select(dlg, "127.0.0.2");
        QTest::mouseClick(dlg.OkButton(), Qt::LeftButton);
        QVERIFY(dlg.result() == QDialog::Accepted && dlg.GetSelectedAddress() == 0x7F000002u);
    }

    void updateAndSettingsSayWhyNothingHappened()
    {
        CFakeUiServices ui;
        Discovery d;
        LoopbackPeer device(0x7F000005u);
        d.Answer(device, 0x7F000005u, 5);
        CDiscoverDlg dlg(&d.discover, &d.reset, CDiscoverDlg::Mode::kManage);
        dlg.SetUpdateToolPath(QStringLiteral("/nonexistent/pimlow"));
        dlg.show();
        dlg.RefreshList();
        Select(dlg, "127.0.0.5");

        QTest::mouseClick(dlg.UpdateButton(), Qt::LeftButton);
        QVERIFY(ui.m_processes.empty());
        QCOMPARE(ui.Texts(),
                 QStringList{"The firmware update tool is not installed: nothing found at /nonexistent/pimlow."});

        // A tool that exists but does not start.
        dlg.SetUpdateToolPath(QCoreApplication::applicationFilePath());
        ui.m_startResult = false;
        QTest::mouseClick(dlg.UpdateButton(), Qt::LeftButton);
        QVERIFY(ui.m_processes.size() == 1 && ui.m_messages.size() == 2 &&
                ui.m_messages[1].text.startsWith("The firmware update tool "));

        ui.m_openUrlResult = false;
        QTest::mouseClick(dlg.SettingsButton(), Qt::LeftButton);
        QCOMPARE(ui.m_urls, QStringList({"http://127.0.0.5"}));
        QCOMPARE(ui.Texts().mid(2),
                 QStringList{"No web browser could open http://127.0.0.5. Open it in a browser by hand."});
    }

    void resetIsSentOnlyAfterYesAndSaysSo()
    {
        CFakeUiServices ui;
        Discovery d;
        LoopbackPeer device(0x7F000006u);
        d.Answer(device, 0x7F000006u, 6);
        d.reset.SetPort(device.Port());
        CDiscoverDlg dlg(&d.discover, &d.reset, CDiscoverDlg::Mode::kManage);
        dlg.RefreshList();
        dlg.OnResetToFactoryDefaults(); // nothing selected: not even a question
        QVERIFY(ui.m_questions.empty());

        Select(dlg, "127.0.0.6");
        ui.m_answer = false;
        QTest::mouseClick(dlg.ResetButton(), Qt::LeftButton);
        QVERIFY(ui.m_questions.size() == 1 && ui.m_questions[0].caption == "Orvane");
        QCOMPARE(ui.m_questions[0].text,
                 QString("Reset the device 127.0.0.6 (serial number 6, model TEST) to its factory defaults?"));
        QVERIFY(device.Receive(300).empty() && ui.m_messages.empty());

        ui.m_answer = true;
        QTest::mouseClick(dlg.ResetButton(), Qt::LeftButton);
        QCOMPARE(device.Receive(), (std::vector<std::uint8_t>{'O', 'R', 'V', 'D', 1, 3, 0, 0}));
        QCOMPARE(ui.Texts(),
                 QStringList{"The factory reset request was sent to 127.0.0.6 (serial number 6, model TEST)."});
        QCOMPARE(dlg.List()->topLevelItemCount(), 1); // the row stays until discovery drops it

        // A refused send says so and why.
        d.reset.SetPort(0);
        QTest::mouseClick(dlg.ResetButton(), Qt::LeftButton);
        QCOMPARE(ui.m_messages.size(), std::size_t{2});
        QVERIFY2(ui.m_messages[1].text.startsWith("The factory reset request could not be sent to 127.0.0.6: "),
                 qPrintable(ui.m_messages[1].text));
    }
};

ORVANE_GUI_TEST(CDiscoverDlgTest)
#include "CDiscoverDlgTest.moc"
