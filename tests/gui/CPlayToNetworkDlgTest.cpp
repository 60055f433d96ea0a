// The Play tab: one real play over loopback checked byte for byte, pause and
// a refused send shown in the tab, the bit-rate and pacing fields reaching the
// play, the settings kept across a restart (and nonsense ones loaded quietly),
// messages that match the situation, the file's TR 101 290 indicators, the
// TOT/TDT dialog's offsets, the FEC and impairment fields and IPv6 typing.
// Pacing, pause and loss themselves: tests/engine (CNetworkSender*, CPlayController).

#include "GuiTest.h"
#include "controls/CDVBSlider.h"
#include "engine/CTxTimeProbe.h"
#include "engine/FakeSendHealth.h"
#include "play/CTotTdtDlg.h"

#include <cerrno>
#include <cstring>

namespace
{
//! The main window with the real Play tab and a stand-in Record tab.
class PlayWindow : public COrvaneDlg
{
public:
    CPlayToNetworkDlg* m_play = nullptr;

protected:
    void CreateTabDialogs(CXTabCtrl* tabCtrl, QWidget*& playDlg, QWidget*& recordDlg) override
    {
        COrvaneDlg::CreateTabDialogs(tabCtrl, playDlg, recordDlg);
        m_play = static_cast<CPlayToNetworkDlg*>(playDlg);
        recordDlg = new QWidget(tabCtrl);
        recordDlg->setObjectName("record");
    }
};

//! A fake UI, a folder for stream files and a loopback receiver to play to.
struct PlayRig
{
    CFakeUiServices ui;
    QTemporaryDir dir;
    LoopbackReceiver receiver;

    //! Writes a @p bitRate stream of @p seconds and opens it in @p window, set to play to the receiver.
    CPlayToNetworkDlg& Open(PlayWindow& window, const QString& name, std::uint64_t bitRate, double seconds,
                            std::vector<std::uint8_t>* bytes = nullptr)
    {
        window.OnInitDialog();
        CPlayToNetworkDlg& dlg = *window.m_play;
        dlg.ModeCombo()->setCurrentIndex(0);
        dlg.IpAddress()->SetAddress(0x7F000001u);
        dlg.PortEdit()->setText(QString::number(receiver.Port()));
        ui.m_fileName = WriteStream(dir.filePath(name), seconds, bitRate, bytes);
        dlg.OnOpen();
        window.TabCtrl()->TabBar()->setCurrentIndex(1); // shown: the timers run
        return dlg;
    }
};
} // namespace

class CPlayToNetworkDlgTest : public QObject
{
    Q_OBJECT

private slots:
    void init() { QSettings().remove("Play"); }

    void fileIndicatorsShowAfterItsAnalysis()
    {
        PlayRig rig;
        PlayWindow window;
        CPlayToNetworkDlg& dlg = rig.Open(window, "checked.ts", 8'000'000, 1.0);
        const CIndicatorPanel* panel = dlg.IndicatorPanel();
        const CTr101290Counters counters = dlg.Decoder().TakeSnapshot().tr101290;
        for (const auto& info : CTr101290Counters::kInfo)
        {
            // A file's counts, with no "now": green or amber, never red or grey.
            QCOMPARE(panel->CountText(info.indicator), QString::number(counters[info.indicator]));
            QCOMPARE(panel->LightAt(info.indicator),
                     counters[info.indicator] != 0 ? CIndicatorPanel::Light::Seen : CIndicatorPanel::Light::Clear);
        }
        // A file that cannot be read has no indicators.
        rig.ui.m_fileName = rig.dir.filePath("missing.ts");
        dlg.OnOpen();
        for (const auto& info : CTr101290Counters::kInfo)
            QCOMPARE(panel->LightAt(info.indicator), CIndicatorPanel::Light::NoData);
    }

    void playsOverLoopbackToTheEnd()
    {
        PlayRig rig;
        std::vector<std::uint8_t> stream;
        PlayWindow window;
        CPlayToNetworkDlg& dlg = rig.Open(window, "play.ts", 20'000'000, 1.5, &stream);

        dlg.PlayButton()->click();
        QCOMPARE(dlg.PlayState(), CPlayController::PlayState::Playing);
        QVERIFY(!dlg.PortEdit()->isEnabled() && !dlg.OpenButton()->isEnabled() && !window.TabCtrl()->IsTabEnabled(0));
        QVERIFY(WaitFor([&] { return dlg.PlayState() == CPlayController::PlayState::Stopped; }, 20'000));
        QVERIFY(window.TabCtrl()->IsTabEnabled(0));
        QCOMPARE(window.RunStateLabel()->text(), QString("Finished")); // played out, not stopped
        QVERIFY(WaitFor([&] { return rig.receiver.Bytes() >= stream.size(); }, 5'000));
        QVERIFY(WithoutNullPackets(AsBytes(rig.receiver.Payload())) == WithoutNullPackets(AsBytes(stream)));
        QVERIFY(rig.ui.m_messages.empty());
    }

    void pauseGraphAndARefusedSendShowInTheTab()
    {
        PlayRig rig;
        PlayWindow window;
        // About 8 MB, looped: the play outlasts the test.
        CPlayToNetworkDlg& dlg = rig.Open(window, "pause.ts", 40'000'000, 1.6);
        // The bit-rate graph in the form's host samples what is played, on a clock the
        // test moves (set before the play: its own timer samples too).
        auto* sampler = dlg.findChild<CBitrateSampler*>();
        QCOMPARE(sampler->Graph()->parentWidget()->objectName(), QString(CBitrateSampler::kHostName));
        std::int64_t now = 0;
        sampler->SetClock([&] { return now; });
        QTest::mouseClick(dlg.LoopButton(), Qt::LeftButton);
        dlg.PlayButton()->click();
        QVERIFY(WaitFor([&] { return rig.receiver.Bytes() > 0; }));
        sampler->Sample();
        const std::size_t sampledFrom = rig.receiver.Bytes();
        QVERIFY(WaitFor([&] { return rig.receiver.Bytes() > sampledFrom + 1'000'000; }));
        now += 1'000;
        sampler->Sample();
        QVERIFY(sampler->History().Samples().size() == 1 && sampler->History().PeakTotal() > 1'000'000 * 8.0);

        // Paused: position and elapsed time hold; a second click resumes.
        QTest::mouseClick(dlg.PauseButton(), Qt::LeftButton);
        QVERIFY(dlg.Engine().IsPaused());
        QTest::qWait(150);
        const int heldPosition = dlg.PositionSlider()->value();
        const QString heldElapsed = dlg.ElapsedTimeLabel()->GetText();
        QTest::qWait(1'000);
        QVERIFY(dlg.PositionSlider()->value() == heldPosition && dlg.ElapsedTimeLabel()->GetText() == heldElapsed);
        QTest::mouseClick(dlg.PauseButton(), Qt::LeftButton);
        QVERIFY(!dlg.Engine().IsPaused());

        // Datagrams the system refused: the status says so above every other
        // text, red, with the reason and the count in its tip.
        FakeSendHealth health;
        health.flags = CNetworkSender::kStatusBusy;
        health.notSent = 42;
        health.error = EPERM;
        dlg.Controller().SetSendHealth(&health);
        QVERIFY(WaitFor([&] { return dlg.StatusLabel()->GetText() == "Network send error"; }));
        QVERIFY(ShowsStatus(*dlg.StatusLabel(), "Network send error", Qt::red,
                            QString::fromLatin1(std::strerror(EPERM)) + ", 42 datagrams not sent"));

        // Stop from a pause stops.
        QTest::mouseClick(dlg.PauseButton(), Qt::LeftButton);
        dlg.StopButton()->click();
        QCOMPARE(dlg.PlayState(), CPlayController::PlayState::Stopped);
        QVERIFY(!dlg.Engine().IsRunning() && !dlg.Engine().IsPaused() && !dlg.PauseButton()->IsPressed());
        QVERIFY(window.TabCtrl()->IsTabEnabled(0) && rig.ui.m_messages.empty());
        dlg.Controller().SetSendHealth(nullptr);
        now += 1'000;
        sampler->Sample(); // stopped: the graph keeps the play's minutes
        QVERIFY(!sampler->History().IsEmpty());
    }

    void bitRateAndPacingReachThePlayLockWhileItRunsAndAreKept()
    {
        using PacingMode = CNetworkSender::PacingMode;
        PlayRig rig;
        CSettings::WriteProfileString("Play", "Pacing", "warp"); // a hand-edited file
        {
            PlayWindow window;
            CPlayToNetworkDlg& dlg = rig.Open(window, "pace.ts", 20'000'000, 2.0);
            // Empty: measured from the PCRs.
            QVERIFY(dlg.BitRateEdit()->text().isEmpty() && dlg.PacingCombo()->currentText() == "Auto");
            QTest::mouseClick(dlg.PlayButton(), Qt::LeftButton);
            QVERIFY(qAbs(std::int64_t{dlg.Controller().BitRate()} - 20'000'000) < 1'000); // as measured
            dlg.StopButton()->click();
            const QString idleTip = dlg.PacingCombo()->toolTip();

            dlg.BitRateEdit()->setFocus();
            QTest::keyClicks(dlg.BitRateEdit(), "x5000000"); // digits only
            QCOMPARE(dlg.BitRateEdit()->text(), QString("5000000"));
            dlg.PacingCombo()->setCurrentIndex(dlg.PacingCombo()->findData("burst"));
            dlg.PlayButton()->click();
            QCOMPARE(dlg.Controller().BitRate(), 5'000'000u);
            QVERIFY(window.Sender().GetPacing() == PacingMode::Burst && !window.Sender().GetSmoothPacing());
            QVERIFY(!dlg.BitRateEdit()->isEnabled() && !dlg.PacingCombo()->isEnabled()); // fixed while it plays
            QCOMPARE(dlg.PacingCombo()->toolTip(), QString("Pacing in use: Burst"));
            dlg.StopButton()->click();
            QVERIFY(dlg.BitRateEdit()->isEnabled() && dlg.PacingCombo()->isEnabled());
            QCOMPARE(dlg.PacingCombo()->toolTip(), idleTip);

            // Departure times where the qdisc does not honour them: smooth pacing
            // by another engine, and the reason in the tip and the event log.
            window.Sender().SetTxTimeProbe([](int) {
                CTxTimeProbe::Result result;
                result.reason = "qdisc noqueue on lo";
                return result;
            });
            dlg.PacingCombo()->setCurrentIndex(dlg.PacingCombo()->findData("txtime"));
            dlg.PlayButton()->click();
            QVERIFY(window.Sender().GetPacing() == PacingMode::TxTime && window.Sender().GetSmoothPacing());
            const QString tip = dlg.PacingCombo()->toolTip();
            QVERIFY2(tip.startsWith("Pacing in use: ") && !tip.startsWith("Pacing in use: Departure times") &&
                         tip.contains("\nno departure-time pacing: qdisc noqueue on lo"),
                     qPrintable(tip));
            const std::vector<CEventLog::Entry> events = window.EventLog().Entries();
            QVERIFY(std::any_of(events.begin(), events.end(), [](const CEventLog::Entry& entry) {
                return entry.text.find("Play: no departure-time pacing") == 0;
            }));
            dlg.StopButton()->click();
            window.Sender().SetTxTimeProbe({});
        }
        PlayWindow again;
        again.OnInitDialog();
        QCOMPARE(again.m_play->PacingCombo()->currentText(), QString("Departure times"));
        QVERIFY(again.m_play->ChosenBitRate() == 5'000'000u && again.m_play->ChosenPacing() == PacingMode::TxTime);
        QVERIFY(rig.ui.m_messages.empty());
    }

    void settingsSurviveARestartWithANegativeTimeOffset()
    {
        CFakeUiServices ui;
        // One hour behind: stored as a signed 32-bit number, it must not come back as 4294963696.
        CSettings::WriteProfileInt("Play", "TotTdtEnable", 1);
        CSettings::WriteProfileInt("Play", "TotTdtTimeType", 2);
        CSettings::WriteProfileInt("Play", "TotTdtOffset", -3'600);
        CNetworkSender sender; // the tab's controller borrows it
        {
            CPlayToNetworkDlg dlg(&sender, {}, nullptr);
            dlg.OnInitDialog();
            QCOMPARE(dlg.TimeOffset(), -3'600);
            SetFields(&dlg, "portEdit=5004 modeCombo=0 pcrCheck=1 ttlSpin=5");
            dlg.IpAddress()->SetAddress(0xEF010203u); // 239.1.2.3: above INT_MAX as a signed number
            dlg.SetFilePath("/nowhere/file.ts");
            dlg.SaveSettings();
        }
        CPlayToNetworkDlg dlg(&sender, {}, nullptr);
        dlg.OnInitDialog();
        QCOMPARE(QString("%1 %2 %3 %4 %5 %6")
                     .arg(dlg.PortEdit()->text(), QString::number(dlg.IpAddress()->GetAddress(), 16))
                     .arg(dlg.ModeCombo()->currentIndex())
                     .arg(dlg.TtlSpin()->value())
                     .arg(dlg.TimeType())
                     .arg(dlg.FilePath()),
                 QString("5004 ef010203 0 5 2 /nowhere/file.ts"));
        QVERIFY(dlg.PcrCheck()->isChecked() && dlg.TotTdtCheck()->isChecked() && !dlg.ContinuityCheck()->isChecked());
        QCOMPARE(dlg.TimeOffset(), -3'600);
        QVERIFY(ui.m_messages.empty());
    }

    void nonsenseSettingsLoadQuietlyAndAStaleLoopSaysWhy()
    {
        CFakeUiServices ui;
        QSettings settings;
        settings.setValue("Play/NetworkPort", 70000);
        settings.setValue("Play/TotTdtTimeType", 9);
        settings.setValue("Play/BitRate", "fast");
        settings.setValue("Play/MulticastTtl", 999);
        settings.setValue("Window/Width", "wide");
        settings.setValue("Play/FileLoopEnable", 1); // but no file chosen yet
        settings.sync();
        {
            PlayWindow window;
            window.OnInitDialog();
            window.TabCtrl()->TabBar()->setCurrentIndex(1);
            CPlayToNetworkDlg* play = window.m_play;
            QVERIFY(play->PortEdit()->text() == "1234" && play->TimeType() == 0 &&
                    play->BitRateEdit()->text().isEmpty());
            // No error in the File Information tree, no loop message.
            QVERIFY(play->FileInfoTree()->topLevelItemCount() == 0 && ui.m_messages.empty());
        }
        QSettings().remove("Window");
        // The stored file is gone: the loop message says so.
        QTemporaryDir dir;
        CSettings::WriteProfileString("Play", "File", dir.filePath("gone.ts"));
        CSettings::WriteProfileInt("Play", "FileLoopEnable", 1);
        PlayWindow window;
        window.OnInitDialog();
        window.TabCtrl()->TabBar()->setCurrentIndex(1);
        QCOMPARE(ui.Texts(),
                 QStringList{QString("File looping is off: the file %1 is missing.").arg(dir.filePath("gone.ts"))});
        QVERIFY(!window.m_play->LoopFlag());
    }

    void protectionFieldsMakeThePlaySettingsAndAreKept()
    {
        CFakeUiServices ui;
        CNetworkSender sender;
        CImpairment::Settings impairment;
        std::string error;
        QVERIFY(CImpairment::Parse("loss=1.5,burst=3/1000,reorder=2/6", impairment, error));
        {
            CPlayToNetworkDlg dlg(&sender, {}, nullptr);
            dlg.OnInitDialog();
            auto* fecMode = dlg.findChild<QComboBox*>("fecModeCombo");
            auto* columns = dlg.findChild<QSpinBox*>("fecColumnsSpin");
            auto* impair = dlg.findChild<QCheckBox*>("impairCheck");
            auto* fields = dlg.findChild<QWidget*>("impairGroup");
            // Off by default: no FEC, no impairment, and the Output page in front.
            QCOMPARE(fecMode->currentText(), QString("Off"));
            QVERIFY(!impair->isChecked() && !fields->isEnabled());
            QCOMPARE(dlg.findChild<QTabWidget*>("outputTabs")->currentIndex(), 0);
            // FEC only with RTP.
            dlg.ModeCombo()->setCurrentIndex(0);
            QVERIFY(!fecMode->isEnabled());
            dlg.ModeCombo()->setCurrentIndex(1);
            fecMode->setCurrentIndex(2);
            QVERIFY(fecMode->isEnabled() && columns->isEnabled());
            columns->setValue(12);
            QVERIFY(!dlg.UpdateData(true));
            impair->setChecked(true);
            QVERIFY(fields->isEnabled());
            QCOMPARE(dlg.findChild<QTabWidget*>("outputTabs")->tabText(1), QString("Impair: on"));
            SetFields(&dlg, "fecColumnsSpin=5 impairLossSpin=1.5 impairBurstSpin=3 impairBurstPeriodSpin=3");
            QVERIFY(!dlg.UpdateData(true));
            SetFields(&dlg,
                      "impairBurstPeriodSpin=1000 impairReorderSpin=2 impairReorderDepthSpin=6 impairSeedSpin=77");
            QVERIFY(dlg.UpdateData(true));
            QCOMPARE(ui.Texts(), QStringList({"FEC: L x D must be at most 100, not 120.",
                                              "Impair: burst: N (3) must be smaller than M (3)."}));
            const CPlayController::PlaySettings settings = dlg.PlaySettingsAt(0);
            QVERIFY(settings.fec.has_value() && settings.fec->mode == CFecEncoder::Mode::RowColumn);
            QVERIFY(settings.fec->columns == 5u && settings.fec->rows == 10u && settings.impairment == impairment);
            QCOMPARE(settings.impairSeed, std::uint64_t{77});

            // The status line names only what is on, and FEC's unprotected datagrams too.
            CPlayController::PlayProgress progress;
            progress.impairment = {.lost = 10, .burstLost = 6, .reordered = 4};
            progress.fec = {.column = 20, .row = 40, .abandoned = 3};
            QCOMPARE(CPlayToNetworkDlg::ProtectionStatusText(settings, progress),
                     QString("Impaired: 16 lost, 4 re-ordered; FEC sent: 20 column, 40 row, 3 unprotected"));
            dlg.SaveSettings();
        }
        QCOMPARE(CSettings::GetProfileString("Play", "Impairment", {}), QString("loss=1.5,burst=3/1000,reorder=2/6"));
        CPlayToNetworkDlg dlg(&sender, {}, nullptr);
        dlg.OnInitDialog();
        const CPlayController::PlaySettings settings = dlg.PlaySettingsAt(0);
        QVERIFY(settings.fec.has_value() && settings.fec->columns == 5u && settings.impairment == impairment &&
                settings.impairSeed == 77);
        // UDP plays without FEC; impairment unticked plays without loss, its fields kept.
        dlg.ModeCombo()->setCurrentIndex(0);
        dlg.findChild<QCheckBox*>("impairCheck")->setChecked(false);
        QVERIFY(dlg.UpdateData(true));
        QVERIFY(!dlg.PlaySettingsAt(0).fec.has_value() && !dlg.PlaySettingsAt(0).impairment.IsActive());
        QVERIFY(CPlayToNetworkDlg::ProtectionStatusText(dlg.PlaySettingsAt(0), {}).isEmpty());
        QVERIFY(dlg.findChild<QDoubleSpinBox*>("impairLossSpin")->value() == 1.5 && ui.m_messages.size() == 2);
    }

    void anIpv6AddressTypedInTheIpv4BoxesMovesToItsOwnFieldAndIsKept()
    {
        CFakeUiServices ui;
        CNetworkSender sender;
        {
            CPlayToNetworkDlg dlg(&sender, {}, nullptr);
            dlg.OnInitDialog();
            QVERIFY(dlg.Ipv6Edit()->isHidden() && !dlg.IpAddress()->isHidden());
            // "200" moves on to the second box, the colon shows that it is IPv6.
            dlg.IpAddress()->Field(0)->setFocus();
            dlg.IpAddress()->Field(0)->selectAll();
            QTest::keyClicks(dlg.IpAddress()->Field(0), "200");
            QTest::keyClicks(dlg.IpAddress()->Field(1), "1:");
            QVERIFY(!dlg.Ipv6Edit()->isHidden() && dlg.IpAddress()->isHidden());
            QCOMPARE(dlg.Ipv6Edit()->text(), QString("2001:"));
            QTest::keyClicks(dlg.Ipv6Edit(), "db8::zz");
            QVERIFY(!dlg.UpdateData(true));
            QCOMPARE(ui.Texts(), QStringList{CPlayToNetworkDlg::kMsgIpv6});

            // Emptied, the field gives way to the IPv4 boxes again.
            dlg.Ipv6Edit()->selectAll();
            QTest::keyClick(dlg.Ipv6Edit(), Qt::Key_Backspace);
            QVERIFY(dlg.Ipv6Edit()->isHidden() && !dlg.IpAddress()->isHidden());
            dlg.PortEdit()->setText("5004");
            QVERIFY(dlg.UpdateData(true));
            dlg.SaveSettings();
        }
        QCOMPARE(CSettings::GetProfileString("Play", "NetworkAddr6", {}), QString());
        // Kept in the settings, the IPv6 destination is the one played to.
        CSettings::WriteProfileString("Play", "NetworkAddr6", "::1");
        CPlayToNetworkDlg dlg(&sender, {}, nullptr);
        dlg.OnInitDialog();
        QVERIFY(!dlg.Ipv6Edit()->isHidden() && dlg.Ipv6Edit()->text() == "::1");
        QTemporaryDir dir;
        ui.m_fileName = WriteStream(dir.filePath("v6.ts"), 0.5, 2'000'000);
        dlg.OnOpen();
        QTest::mouseClick(dlg.PlayButton(), Qt::LeftButton);
        QCOMPARE(sender.GetDestination().ToString(), std::string("[::1]:5004"));
        QVERIFY(!dlg.Ipv6Edit()->isEnabled()); // fixed while it plays
        dlg.StopButton()->click();
        QCOMPARE(ui.m_messages.size(), std::size_t{1});
    }

    void refusedPortOrBitRatePlaysNothing()
    {
        PlayRig rig;
        PlayWindow window;
        CPlayToNetworkDlg& dlg = rig.Open(window, "play.ts", 20'000'000, 0.5);
        rig.ui.m_messages.clear();

        // The last good port is not played to when the typed one is refused.
        QTest::mouseClick(dlg.PlayButton(), Qt::LeftButton); // to the good port, then stopped
        QVERIFY(WaitFor([&] { return dlg.PlayState() == CPlayController::PlayState::Stopped; }, 10'000));
        QVERIFY(WaitFor([&] { return rig.receiver.Bytes() > 0; }, 5'000));
        const std::size_t received = rig.receiver.Bytes();
        dlg.PortEdit()->setText("70000");
        QTest::mouseClick(dlg.PlayButton(), Qt::LeftButton);
        QVERIFY(dlg.PlayState() == CPlayController::PlayState::Stopped && !dlg.PlayButton()->IsPressed());
        QCOMPARE(rig.ui.Texts(), QStringList{CPlayToNetworkDlg::kMsgPortRange});
        QTest::qWait(200);
        QCOMPARE(rig.receiver.Bytes(), received);

        // A bit rate of 0 (the field's "empty" is the measured rate) is refused the same way.
        dlg.PortEdit()->setText(QString::number(rig.receiver.Port()));
        dlg.BitRateEdit()->setText("0");
        QTest::mouseClick(dlg.PlayButton(), Qt::LeftButton);
        QVERIFY(dlg.PlayState() == CPlayController::PlayState::Stopped && dlg.BitRateEdit()->hasSelectedText());
        QCOMPARE(rig.ui.Texts(), QStringList({CPlayToNetworkDlg::kMsgPortRange, CPlayToNetworkDlg::kMsgBitRate}));
    }

    void totTdtDialogOffsets()
    {
        const std::int64_t opening = 1'750'000'000;
        const auto clock = [opening] { return opening; };
        CTotTdtDlg dlg(0, 0, nullptr, clock);
        dlg.show();
        dlg.TypeButton(2)->click();
        QVERIFY(dlg.DatePicker()->isEnabled() && dlg.TimePicker()->isEnabled());
        const QDateTime later = QDateTime::fromSecsSinceEpoch(opening + 3'600).toLocalTime();
        dlg.DatePicker()->setDate(later.date());
        dlg.TimePicker()->setTime(later.time());
        dlg.accept();
        QVERIFY(dlg.TimeType() == 2 && dlg.TimeOffset() == 3'600);

        // A date before the opening time.
        CTotTdtDlg before(2, 0, nullptr, clock);
        before.show();
        before.DatePicker()->setDate(QDateTime::fromSecsSinceEpoch(opening).toLocalTime().date().addDays(-1));
        before.accept();
        QCOMPARE(before.TimeOffset(), -86'400);
    }
};

ORVANE_GUI_TEST(CPlayToNetworkDlgTest)
#include "CPlayToNetworkDlgTest.moc"
