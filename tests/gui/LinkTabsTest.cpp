// SRT and RIST in the Play and Record tabs: the fields each mode shows and
// leaves out, a refusal with its field focused, the settings kept, and a file
// played by the Play tab and recorded by the Record tab over SRT on loopback,
// byte for byte; a wrong passphrase ends the play with its reason.

#include "GuiTest.h"
#include "controls/CLinkFieldsCtrl.h"

namespace
{
//! The Record tab listening for SRT and the Play tab calling it with a file, on one free port.
struct SrtRig
{
    CFakeUiServices ui;
    QTemporaryDir dir;
    CNetworkSender sender;
    CPlayToNetworkDlg play{&sender, {}, nullptr};
    CRecFromNetworkDlg record;
    std::uint16_t port = FreePort();
    std::vector<std::uint8_t> stream;

    SrtRig()
    {
        play.OnInitDialog();
        play.ModeCombo()->setCurrentIndex(CPlayToNetworkDlg::kModeSrt);
        play.IpAddress()->SetAddress(0x7F000001u);
        play.PortEdit()->setText(QString::number(port));
        ui.m_fileName = WriteStream(dir.filePath("source.ts"), 1.5, 4'000'000, &stream);
        play.OnOpen();
        CTabActivateEvent event(true);
        QApplication::sendEvent(&play, &event);
        auto* r = record.Form();
        r->modeCombo->setCurrentIndex(CPlayToNetworkDlg::kModeSrt);
        r->portEdit->setText(QString::number(port));
        r->linkFields->SrtModeCombo()->setCurrentIndex(1);
    }
};
} // namespace

class LinkTabsTest : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        QSettings().remove("Play");
        QSettings().remove("Record");
    }

    void playFieldsFollowTheModeRefuseAndAreKept()
    {
        CFakeUiServices ui;
        CNetworkSender sender;
        {
            CPlayToNetworkDlg dlg(&sender, {}, nullptr);
            dlg.OnInitDialog();
            ShowActive(dlg);
            auto* tabs = dlg.findChild<QTabWidget*>("outputTabs");
            const int page = tabs->indexOf(dlg.findChild<QWidget*>("linkPage"));
            const int impair = tabs->indexOf(dlg.findChild<QWidget*>("impairPage"));
            CLinkFieldsCtrl* f = dlg.LinkFields();
            dlg.ModeCombo()->setCurrentIndex(1);
            QVERIFY(!tabs->isTabVisible(page) && dlg.TtlSpin()->isEnabled() && tabs->isTabEnabled(impair));
            dlg.ModeCombo()->setCurrentIndex(CPlayToNetworkDlg::kModeSrt);
            QVERIFY(tabs->isTabVisible(page) && tabs->tabText(page) == "SRT" && !tabs->isTabEnabled(impair));
            QVERIFY(!f->PassphraseEdit()->isHidden() && f->SecretEdit()->isHidden());
            QVERIFY(!dlg.TtlSpin()->isEnabled() && !dlg.InterfaceCombo()->isEnabled() &&
                    !dlg.findChild<QComboBox*>("fecModeCombo")->isEnabled());
            QVERIFY(f->PassphraseEdit()->echoMode() == QLineEdit::Password && f->LatencySpin()->value() == 120);
            dlg.IpAddress()->SetAddress(0x7F000001u);
            dlg.PortEdit()->setText("9000");
            f->PassphraseEdit()->setText("short");
            QVERIFY(!dlg.UpdateData(true));
            QCOMPARE(ui.m_messages.back().text, QString("The SRT passphrase needs 10 to 79 characters (this one has "
                                                        "5), or none for no encryption."));
            QVERIFY(f->PassphraseEdit()->hasFocus() && tabs->currentIndex() == page);
            SetFields(f, "passphraseEdit=0123456789ab srtModeCombo=1 latencySpin=300 streamIdEdit=cam1");
            QVERIFY(dlg.UpdateData(true));
            QVERIFY(!dlg.PlaySettingsAt(0).rtp);
            // RIST: its own fields; a secret needs the main profile.
            dlg.ModeCombo()->setCurrentIndex(CPlayToNetworkDlg::kModeRist);
            QVERIFY(tabs->tabText(page) == "RIST" && f->PassphraseEdit()->isHidden() && !f->SecretEdit()->isHidden());
            QVERIFY(f->ProfileCombo()->currentIndex() == 1 && f->BufferSpin()->value() == 1'000);
            f->ProfileCombo()->setCurrentIndex(0);
            f->SecretEdit()->setText("a-secret");
            QVERIFY(!dlg.UpdateData(true) && f->SecretEdit()->hasFocus());
            f->SecretEdit()->clear();
            f->BufferSpin()->setValue(500);
            QVERIFY(dlg.UpdateData(true));
            dlg.SaveSettings();
        }
        QCOMPARE(CSettings::GetProfileInt("Play", "NetworkType", 0), 3);
        QCOMPARE(CSettings::GetProfileString("Play", "SrtPassphrase", {}), QString("0123456789ab"));
        CPlayToNetworkDlg dlg(&sender, {}, nullptr);
        dlg.OnInitDialog();
        CLinkFieldsCtrl* f = dlg.LinkFields();
        QCOMPARE(QList<int>({dlg.ModeCombo()->currentIndex(), f->ProfileCombo()->currentIndex(),
                             f->BufferSpin()->value(), f->SrtModeCombo()->currentIndex(), f->LatencySpin()->value()}),
                 QList<int>({3, 0, 500, 1, 300}));
        QCOMPARE(f->StreamIdEdit()->text(), QString("cam1"));
        QCOMPARE(ui.m_messages.size(), std::size_t{2});
    }

    void recordFieldsFollowTheModeRefuseAndAreKept()
    {
        CFakeUiServices ui;
        {
            CRecFromNetworkDlg dlg;
            ShowActive(dlg);
            auto* r = dlg.Form();
            r->groupEdit->setText("239.1.1.1");
            r->modeCombo->setCurrentIndex(2);
            // The Group field is the link's address now, and keeps the group for UDP.
            QVERIFY(r->groupCaption->text() == "Address" && r->groupEdit->text().isEmpty());
            QVERIFY(!r->linkFields->isHidden() && !r->linkFields->StreamIdEdit()->isHidden());
            QVERIFY(!r->sourceEdit->isEnabled() && !r->fecCheck->isEnabled() && r->secondPathCheck->isHidden());
            // A caller needs its peer.
            QTest::mouseClick(r->networkOpenButton, Qt::LeftButton);
            QVERIFY(dlg.IsNetworkClosed() && r->groupEdit->hasFocus());
            QCOMPARE(ui.m_messages.back().text, QString("An SRT caller needs the peer's address."));
            r->groupEdit->setText("127.0.0.1");
            r->modeCombo->setCurrentIndex(0);
            QVERIFY(r->groupEdit->text() == "239.1.1.1" && r->linkFields->isHidden() && r->sourceEdit->isEnabled());
            r->modeCombo->setCurrentIndex(3);
            QVERIFY(r->groupEdit->text() == "127.0.0.1" && !r->linkFields->SecretEdit()->isHidden());
            r->linkFields->RistModeCombo()->setCurrentIndex(1);
            r->linkFields->SecretEdit()->setText("a-secret-1");
            QTest::mouseClick(r->networkOpenButton, Qt::LeftButton);
            QVERIFY(!dlg.IsNetworkClosed());
        }
        QCOMPARE(CSettings::GetProfileString("Record", "LinkAddress", {}), QString("127.0.0.1"));
        QCOMPARE(CSettings::GetProfileString("Record", "RistSecret", {}), QString("a-secret-1"));
        CRecFromNetworkDlg dlg;
        auto* r = dlg.Form();
        QVERIFY(r->modeCombo->currentIndex() == 3 && r->groupEdit->text() == "127.0.0.1" &&
                r->linkFields->RistModeCombo()->currentIndex() == 1);
        r->modeCombo->setCurrentIndex(1);
        QCOMPARE(r->groupEdit->text(), QString("239.1.1.1"));
    }

    // RIST byte for byte: CRistLink's tests and tests/interop/rist-*.sh; its fields: above.
    void playsToTheRecordTabOverSrtAndAWrongPassphraseEndsThePlay()
    {
        SrtRig rig;
        for (CLinkFieldsCtrl* f : {rig.play.LinkFields(), rig.record.Form()->linkFields})
            f->PassphraseEdit()->setText("the-right-passphrase");
        auto* r = rig.record.Form();
        rig.ui.m_fileName = rig.dir.filePath("recording.ts");
        for (QAbstractButton* button : {r->networkOpenButton, r->fileOpenButton, r->recordButton})
            QTest::mouseClick(button, Qt::LeftButton);
        QCOMPARE(rig.record.RecordThread()->GetState(), CRecordThread::kRecording);
        rig.play.PlayButton()->click();
        bool linkShown = false;
        QVERIFY(WaitFor(
            [&] {
                rig.record.OnStatusTimer();
                linkShown |= rig.play.LinkStatusLabel()->text().contains("  rtt "); // the connected form
                return rig.play.PlayState() == CPlayController::PlayState::Stopped &&
                       rig.record.Receiver().GetCounters().payloadBytes >= rig.stream.size();
            },
            20'000));
        QTest::qWait(300);
        rig.record.OnStatusTimer();
        QVERIFY(linkShown);
        QCOMPARE(r->statusLabel->GetText(), QString("No errors detected"));
        if (!r->linkStatusLabel->text().startsWith("lost here 0  "))
            qWarning("link line \"%s\"", qPrintable(r->linkStatusLabel->text()));
        QTest::mouseClick(r->stopButton, Qt::LeftButton);
        QVERIFY(WithoutNullPackets(ReadAll(rig.ui.m_fileName)) == WithoutNullPackets(AsBytes(rig.stream)));
        QVERIFY(rig.ui.m_messages.empty());

        // A refusal retrying cannot cure ends the play with its reason, in the box and the link line.
        QTest::mouseClick(r->monitorButton, Qt::LeftButton);
        rig.play.LinkFields()->PassphraseEdit()->setText("a-wrong-passphrase");
        rig.play.PlayButton()->click();
        QVERIFY(WaitFor([&] { return rig.play.PlayState() == CPlayController::PlayState::Stopped; }, 15'000) &&
                !rig.ui.m_messages.empty());
        const QString refusal = rig.ui.m_messages.back().text;
        QVERIFY2(refusal.startsWith("SRT refused: ") && refusal.contains("passphrase"), qPrintable(refusal));
        QCOMPARE(rig.play.LinkStatusLabel()->text(), refusal);
    }
};

ORVANE_GUI_TEST(LinkTabsTest)

namespace
{
// Pictures of both tabs with SRT chosen at the smallest window, for docs/srt.md (RegisterShots).
bool TakeLinkShots(COrvaneDlg& main, CFakeUiServices&, const std::function<bool(const QString&)>& save)
{
    SetFields(main.findChild<CRecFromNetworkDlg*>(), "modeCombo=2 groupEdit=contribution.example portEdit=9000 "
                                                     "passphraseEdit=contribution-2026 streamIdEdit=cam1");
    auto* play = main.findChild<CPlayToNetworkDlg*>();
    play->ModeCombo()->setCurrentIndex(CPlayToNetworkDlg::kModeSrt);
    SetFields(play->LinkFields(), "srtModeCombo=1 passphraseEdit=contribution-2026");
    QTest::qWait(300);
    main.resize(main.minimumSizeHint());
    const bool saved = save(QStringLiteral("record-tab-srt"));
    main.TabCtrl()->TabBar()->setCurrentIndex(1);
    play->findChild<QTabWidget*>("outputTabs")->setCurrentWidget(play->findChild<QWidget*>("linkPage"));
    return save(QStringLiteral("play-tab-srt")) && saved;
}

const bool kLinkShots = RegisterShots("LinkShots", TakeLinkShots);
} // namespace

#include "LinkTabsTest.moc"
