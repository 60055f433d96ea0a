// The Record tab against a loopback sender: what is enabled in each run state,
// refused input with its message, the receiver's settings during a run, one
// recording checked byte for byte, the ring's current file shown and logged,
// failures, the status colours, the bit-rate graph's wiring, Disable Analyzer,
// the no-PCR notice, the TR 101 290 panel and DF:MLR, settings that make no
// sense, and a second path with FEC set up from the fields (SMPTE 2022-7 and
// 2022-1). Ring rotation, merge and FEC themselves: tests/engine.

#include "GuiTest.h"

#include <sys/resource.h>

#include <csignal>

namespace
{
//! The tab hosted in a tab control beside a second tab, as in the main window, with a fake desktop.
struct HostedTab
{
    CFakeUiServices fake;
    QTemporaryDir dir;
    CXTabCtrl tabs;
    QWidget* other = new QWidget(&tabs);
    CRecFromNetworkDlg* dlg = new CRecFromNetworkDlg(&tabs);
    Ui::CRecFromNetworkDlg* ui = dlg->Form();
    std::uint16_t port = FreePort();

    HostedTab()
    {
        tabs.resize(1000, 520);
        tabs.AddTab("Record", dlg, 0);
        dlg->setProperty("tabIndex", 0);
        tabs.AddTab("Play", other, 1);
        tabs.SelectFirstTab();
        CTabActivateEvent event(true);
        QApplication::sendEvent(dlg, &event);
        ui->portEdit->setText(QString::number(port));
    }
    ~HostedTab() { delete dlg; }
    CRecordThread::State State() const { return dlg->RecordThread()->GetState(); }
    void Click(QAbstractButton* button) const { QTest::mouseClick(button, Qt::LeftButton); }
    //! The run state, then what is enabled and pressed, in one line.
    QString Controls() const
    {
        const char* pressed = ui->recordButton->IsPressed()    ? "record"
                              : ui->monitorButton->IsPressed() ? "monitor"
                              : ui->stopButton->IsPressed()    ? "stop"
                                                               : "none";
        const bool fields = ui->portEdit->isEnabled();
        const bool fieldsAlike = ui->modeCombo->isEnabled() == fields && ui->groupEdit->isEnabled() == fields &&
                                 ui->sourceEdit->isEnabled() == fields && ui->fecCheck->isEnabled() == fields;
        return QString("%1: record %2 monitor %3 stop %4 fields %5 file %6 tab %7 pressed %8")
            .arg(QStringList({"stopped", "monitoring", "recording"}).value(State()))
            .arg(ui->recordButton->isEnabled())
            .arg(ui->monitorButton->isEnabled())
            .arg(ui->stopButton->isEnabled())
            .arg(fieldsAlike ? QString::number(fields) : QString("mixed"))
            .arg(ui->fileOpenButton->isEnabled())
            .arg(tabs.IsTabEnabled(1))
            .arg(pressed);
    }

    //! Opens the network, chooses @p name in the folder and, with @p record, starts recording.
    void Start(const QString& name, bool record = true)
    {
        Click(ui->networkOpenButton);
        fake.m_fileName = dir.filePath(name);
        Click(ui->fileOpenButton);
        if (record)
            Click(ui->recordButton);
    }
    void Monitor() const { Click(ui->networkOpenButton), Click(ui->monitorButton); } // opens, then monitors
    //! Sends @p data and waits until all of it has arrived, calling @p tick (else the status timer) meanwhile.
    bool Send(const std::vector<std::uint8_t>& data, std::function<void()> tick = {})
    {
        SendLoopback(data, port, tick ? tick : std::function<void()>([this] { dlg->OnStatusTimer(); }));
        return WaitFor([&] { return dlg->Receiver().GetCounters().payloadBytes >= data.size(); }, 5'000);
    }
};
} // namespace

class CRecFromNetworkDlgTest : public QObject
{
    Q_OBJECT

private slots:
    void init() { QSettings().remove("Record"); }

    // With the receiver's settings during a run: a mode change waits for the next run.
    void controlsFollowTheRunState()
    {
        HostedTab host;
        auto* ui = host.ui;
        QCOMPARE(host.Controls(), QString("stopped: record 0 monitor 0 stop 0 fields 1 file 1 tab 1 pressed stop"));
        QCOMPARE(ui->kernelDropsValue->GetText(), QString("-"));
        host.Click(ui->networkOpenButton);
        QCOMPARE(ui->networkOpenButton->text(), QString("Close"));
        QCOMPARE(host.Controls(), QString("stopped: record 0 monitor 1 stop 0 fields 0 file 1 tab 1 pressed stop"));
        host.fake.m_fileName = host.dir.filePath("rec");
        host.Click(ui->fileOpenButton);
        QCOMPARE(host.dlg->OutputFile(), host.dir.filePath("rec.ts"));
        QCOMPARE(host.Controls(), QString("stopped: record 1 monitor 1 stop 0 fields 0 file 1 tab 1 pressed stop"));

        host.Click(ui->monitorButton);
        QCOMPARE(host.Controls(),
                 QString("monitoring: record 1 monitor 1 stop 1 fields 0 file 0 tab 0 pressed monitor"));
        // Closing the network keeps the run going; its fields stay locked, and even a
        // change that reaches the combo box leaves the running receiver alone.
        host.Click(ui->networkOpenButton);
        QCOMPARE(host.Controls(),
                 QString("monitoring: record 0 monitor 0 stop 0 fields 0 file 0 tab 0 pressed monitor"));
        ui->modeCombo->setCurrentIndex(1);
        host.Click(ui->networkOpenButton);
        QVERIFY(!host.dlg->Receiver().IsRtp());
        // Monitoring turns into recording; Signal Info shows the kernel's drop count of the run.
        host.Click(ui->recordButton);
        host.dlg->OnStatusTimer();
        QCOMPARE(host.Controls(), QString("recording: record 0 monitor 0 stop 1 fields 0 file 0 tab 0 pressed record"));
        QCOMPARE(ui->kernelDropsValue->GetText(), QString::number(host.dlg->Receiver().GetCounters().kernelDrops));

        host.Click(ui->stopButton);
        QCOMPARE(host.Controls(), QString("stopped: record 1 monitor 1 stop 0 fields 0 file 1 tab 1 pressed stop"));
        host.dlg->OnStatusTimer(); // the run's figures stay
        QVERIFY(ui->kernelDropsValue->GetText() != "-" && ui->syncLossValue->GetText() == "-");
        host.Click(ui->monitorButton); // the next run takes the mode shown
        QVERIFY(host.dlg->Receiver().IsRtp());
        host.Click(ui->monitorButton); // Monitor again ends monitoring
        QCOMPARE(host.Controls(), QString("stopped: record 1 monitor 1 stop 0 fields 0 file 1 tab 1 pressed stop"));
        host.Click(ui->networkOpenButton);
        host.dlg->OnStatusTimer();
        QCOMPARE(host.Controls(), QString("stopped: record 0 monitor 0 stop 0 fields 1 file 1 tab 1 pressed stop"));
        QVERIFY(host.fake.m_messages.empty());
    }

    void refusalsSayWhatIsWrongAndOpenNothing()
    {
        const std::pair<const char*, const char*> cases[] = {
            {"portEdit=0", "Please enter a port number between 1 and 65535."},
            {"fecCheck=1", "FEC needs the RTP mode."},
            {"secondPathCheck=1 secondPortEdit=5010", "The second path (SMPTE 2022-7) needs the RTP mode."},
            {"portEdit=5000 modeCombo=1 fecCheck=1 secondPathCheck=1 secondPortEdit=5002", // the first path's FEC
             "The second path needs ports of its own (with FEC also + 2 and + 4), or both paths their own "
             "multicast groups."},
            {"groupEdit=fd00::1", "The group must be a multicast address, IPv4 (224.0.0.0 to 239.255.255.255) or "
                                  "IPv6 (ff00::/8), or 0.0.0.0 for none."},
            {"groupEdit=ff15::1 sourceEdit=10.0.0.1",
             "The source of an IPv6 group must be an IPv6 address, or empty for any source."},
            {"groupEdit=239.1.2.3 sourceEdit=fd00::1", "The source must be an IPv4 address, or empty for any source."},
        };
        for (const auto& [fields, message] : cases)
        {
            QSettings().remove("Record");
            HostedTab host;
            SetFields(host.dlg, fields);
            host.Click(host.ui->networkOpenButton);
            QVERIFY2(host.dlg->IsNetworkClosed() && host.ui->networkOpenButton->text() == "Open" &&
                         !host.ui->monitorButton->isEnabled(),
                     message);
            QCOMPARE(host.fake.Texts(), QStringList{message});
        }
        // An IPv6 group with its source opens, and both are kept.
        QSettings().remove("Record");
        {
            HostedTab host;
            SetFields(host.dlg, "groupEdit=[ff15::1] sourceEdit=fd00::7");
            host.Click(host.ui->networkOpenButton);
            QVERIFY(!host.dlg->IsNetworkClosed() && host.fake.m_messages.empty());
            host.Click(host.ui->networkOpenButton);
        }
        CRecFromNetworkDlg again;
        QCOMPARE(again.Form()->groupEdit->text() + " " + again.Form()->sourceEdit->text(), QString("ff15::1 fd00::7"));
    }

    void secondPathWithFecFromTheFieldsMergesRecoversAndIsKept()
    {
        const std::uint16_t second = FreePort();
        {
            HostedTab host;
            auto* ui = host.ui;
            // Off by default: its fields wait for the tick, Signal Info has no path rows.
            QVERIFY(!ui->secondPathCheck->isChecked() && !ui->secondPortEdit->isEnabled());
            QVERIFY(ui->path1StatsValue->isHidden() && ui->fecPacketsValue->isHidden());
            ui->secondPathCheck->setChecked(true);
            QVERIFY(ui->secondPortEdit->isEnabled() && ui->mergeWindowSpin->isEnabled());
            SetFields(host.dlg, QString("modeCombo=1 fecCheck=1 mergeWindowSpin=80 secondPortEdit=%1").arg(second));
            host.Monitor();
            QCOMPARE(host.dlg->Receiver().GetSecondPort(), second);
            QVERIFY(host.dlg->Receiver().IsFec() && !ui->path2StatsValue->isHidden());

            // Each path loses its own datagrams and both lose every 40th: the merge fills the first, FEC the others.
            SendRtpPaths(
                TestStream(1.0), host.port, second, 5, 5,
                [](std::uint64_t n, int path) { return n % 40 == 17 || n % 10 == (path == 0 ? 3u : 6u); },
                [&] { host.dlg->OnStatusTimer(); });
            QVERIFY(WaitFor(
                [&] {
                    const auto c = host.dlg->Receiver().GetCounters();
                    return c.fecRecovered > 0 && c.paths[0].onlyHere > 0 && c.paths[1].onlyHere > 0;
                },
                5'000));
            QTest::qWait(300); // the merge window and FEC's wait have passed: the counts stand still
            host.dlg->OnStatusTimer();
            const auto c = host.dlg->Receiver().GetCounters();
            const auto path = [&c](std::size_t p) {
                return QString("%1/%2/%3").arg(c.paths[p].received).arg(c.paths[p].missing).arg(c.paths[p].onlyHere);
            };
            QCOMPARE(
                QStringList({ui->fecValue->GetText(), ui->fecPacketsValue->GetText(), ui->path1StatsValue->GetText(),
                             ui->path2StatsValue->GetText(), ui->skewValue->GetText()}),
                QStringList({QString("%1/%2").arg(c.fecRecovered).arg(c.fecUnrecoverable),
                             QString::number(c.fecPackets), path(0), path(1), QString::asprintf("%.1f", c.skewMs)}));
            host.Click(ui->monitorButton);
            QVERIFY(host.fake.m_messages.empty());
        }
        CRecFromNetworkDlg dlg;
        auto* ui = dlg.Form();
        QVERIFY(ui->secondPathCheck->isChecked() && ui->fecCheck->isChecked() && ui->mergeWindowSpin->value() == 80);
        QCOMPARE(ui->secondPortEdit->text(), QString::number(second));
    }

    void fileThatCannotBeCreatedIsReportedOnce()
    {
        HostedTab host;
        host.Start("missing/rec.ts");
        // The record thread's message alone, with the tab back at rest.
        QVERIFY(host.fake.m_messages.size() == 1 && !host.fake.m_messages[0].text.startsWith("Cannot receive"));
        host.dlg->OnStatusTimer();
        QCOMPARE(host.Controls(), QString("stopped: record 1 monitor 1 stop 0 fields 0 file 1 tab 1 pressed stop"));
    }

    void recordingIsCompleteByteForByteAndGraphed()
    {
        HostedTab host;
        // The form's place for the graph, found by its name; a second call keeps the first graph.
        host.dlg->AttachBitrateGraph();
        auto* sampler = host.dlg->findChild<CBitrateSampler*>();
        QCOMPARE(sampler->Graph()->parentWidget(), host.dlg->findChild<QWidget*>(CBitrateSampler::kHostName));
        std::int64_t now = 0;
        sampler->SetClock([&] { return now; });
        sampler->Sample(); // no run: nothing sampled

        host.Start("rec.ts");
        sampler->Sample(); // the run's start
        const auto data = TestStream(3.0);
        QVERIFY(host.Send(data));
        host.dlg->OnAnalysisTimer();
        QVERIFY(host.ui->progTree->topLevelItemCount() > 0);
        // What the tab's analysis counted, all of it within the one sample.
        now += 3'000;
        sampler->Sample();
        QCOMPARE(sampler->History().Samples().size(), std::size_t{1});
        const double bits = sampler->History().Samples().back().totalBitsPerSecond * 3;
        QVERIFY(bits >= data.size() / 2 * 8.0 && bits <= data.size() * 8.0);
        // Closing the network does not end the recording.
        host.Click(host.ui->networkOpenButton);
        QCOMPARE(host.State(), CRecordThread::kRecording);
        host.Click(host.ui->networkOpenButton);
        host.Click(host.ui->stopButton);
        QVERIFY(ReadAll(host.fake.m_fileName) == AsBytes(data));
        // Stopped, nothing is taken; the next run has its own minutes.
        now += 1'000;
        sampler->Sample();
        QCOMPARE(sampler->History().Samples().size(), std::size_t{1});
        host.Click(host.ui->monitorButton);
        sampler->Sample();
        QVERIFY(sampler->History().IsEmpty());
        host.Click(host.ui->monitorButton);
        QVERIFY(host.fake.m_messages.empty());
    }

    void ringShowsAndLogsTheFileBeingWritten()
    {
        HostedTab host;
        auto* ui = host.ui;
        ui->recordingSizeEdit->setText("1");
        host.Click(ui->megabytesRadio);
        host.Click(ui->loopButton);
        CEventLog log;
        host.dlg->SetEventLog(&log);
        QStringList states;
        QObject::connect(host.dlg, &CRecFromNetworkDlg::RunStateChanged,
                         [&states](const QString& text) { states.push_back(text); });
        host.Start("ring.ts");
        QCOMPARE(host.dlg->RecordThread()->GetFileName(), host.dir.filePath("ring-0.ts").toStdString());

        // The file name shown follows the file being written.
        QStringList shown{"ring-0.ts"};
        auto tick = [&] {
            host.dlg->OnStatusTimer();
            if (ui->fileNameLabel->GetText() != shown.back())
                shown.push_back(ui->fileNameLabel->GetText());
        };
        tick();
        const auto data = TestStream(12.0, 10'000'000); // about 15 MB
        SendLoopback(data, host.port, tick);
        QVERIFY(WaitFor(
            [&] {
                tick();
                return host.dlg->Receiver().GetCounters().payloadBytes >= data.size() && shown.size() >= 4;
            },
            8'000));
        host.Click(ui->stopButton);
        for (int i = 0; i < shown.size(); ++i)
            QCOMPARE(shown[i], QString("ring-%1.ts").arg(i % 3));
        host.dlg->OnStatusTimer();
        QCOMPARE(ui->fileNameLabel->GetText(), QString("ring.ts")); // stopped: the chosen name again
        // The status bar's text names the file being written; the log has every switch.
        QCOMPARE(states.mid(0, 3), QStringList({"Recording ring-0.ts", "Recording ring-1.ts", "Recording ring-2.ts"}));
        QCOMPARE(states.back(), QString("Stopped"));
        const QStringList switches = LogTexts(log, CEventLog::Kind::RingSwitch);
        QVERIFY(switches.size() >= shown.size() - 1);
        QCOMPARE(switches[0], QString("Record: Next ring file: ring-1.ts"));
        QVERIFY(host.fake.m_messages.empty());
    }

    void writeFailureStopsWithMessageAndRedStatus()
    {
        HostedTab host;
        host.Start("full.ts", false);
        // A file size limit stands in for a full disk.
        rlimit old{};
        QCOMPARE(::getrlimit(RLIMIT_FSIZE, &old), 0);
        auto* oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit small = old;
        small.rlim_cur = 2 * 1'048'576;
        QCOMPARE(::setrlimit(RLIMIT_FSIZE, &small), 0);
        host.Click(host.ui->recordButton);
        SendLoopback(TestStream(5.0), host.port, [&] { host.dlg->OnStatusTimer(); });
        const bool stopped = WaitFor(
            [&] {
                host.dlg->OnStatusTimer();
                return host.State() == CRecordThread::kStopped;
            },
            5'000);
        ::setrlimit(RLIMIT_FSIZE, &old);
        std::signal(SIGXFSZ, oldHandler);
        QVERIFY(stopped);
        QVERIFY(WaitFor([&] { return !host.fake.m_messages.empty(); }, 2'000));
        QVERIFY(host.fake.m_messages.size() == 1 && host.fake.m_messages[0].text.contains("failed"));
        host.dlg->OnStatusTimer();
        QVERIFY(ShowsStatus(*host.ui->statusLabel, "Write error", Qt::red) && host.tabs.IsTabEnabled(1));
    }

    void disableAnalyzerTakesEffectAtOnceAndIsKept()
    {
        {
            HostedTab host;
            auto* ui = host.ui;
            const auto analysing = [&] { return host.dlg->RecordThread()->IsAnalyzerEnabled(); };
            QVERIFY(analysing() && ui->pidTree->isEnabled());
            ui->disableAnalyzerCheck->click();
            QVERIFY(!analysing() && !ui->pidTree->isEnabled() && !ui->progTree->isEnabled());
            QCOMPARE(CSettings::GetProfileInt("Record", "DisableAnalyzer", 0), 1);
            // During a run too, and the end of the run keeps what the box says.
            host.Monitor();
            ui->disableAnalyzerCheck->click();
            QVERIFY(analysing() && ui->pidTree->isEnabled());
            ui->disableAnalyzerCheck->click();
            host.Click(ui->stopButton);
            host.dlg->OnStatusTimer();
            QVERIFY(!analysing() && !ui->pidTree->isEnabled() && host.fake.m_messages.empty());
        }
        HostedTab again;
        QVERIFY(again.ui->disableAnalyzerCheck->isChecked() && !again.dlg->RecordThread()->IsAnalyzerEnabled());
    }

    void noPcrNoticeComesAfterTwoSecondsOnTheFirstRun()
    {
        HostedTab host;
        auto* ui = host.ui;
        host.Click(ui->networkOpenButton);
        for (int run = 0; run < 2; ++run)
        {
            host.Click(ui->monitorButton);
            // The analysis timer, driven: three ticks (1.5 s) without PCR say nothing, the fourth does.
            QString shown; // after each tick, then after Stop
            for (std::uint32_t tick = 0; tick <= CRecFromNetworkDlg::kNoPcrTicks; ++tick, host.dlg->OnAnalysisTimer())
                shown += ui->noPcrNotice->isHidden() ? "-" : "N";
            host.Click(ui->stopButton);
            host.dlg->OnAnalysisTimer();
            shown += ui->noPcrNotice->isHidden() ? "-" : "N";
            QCOMPARE(shown, QString(CRecFromNetworkDlg::kNoPcrTicks, '-') + "N-");
        }
    }

    void garbageSettingsLoadAsDefaultsWithoutAWord()
    {
        CFakeUiServices fake;
        QSettings settings;
        settings.setValue("Record/NetworkPort", 70000);
        settings.setValue("Record/RecSize", -5);
        settings.setValue("Record/NetworkAddrs", 12345); // 0.0.48.57: not a multicast group
        settings.setValue("Record/FileLoopCnt", "lots");
        settings.sync();
        {
            CRecFromNetworkDlg dlg;
            auto* ui = dlg.Form();
            QCOMPARE(QStringList({ui->portEdit->text(), ui->recordingSizeEdit->text(), ui->groupEdit->text()}),
                     QStringList({"1234", "100", "0.0.0.0"}));
            QCOMPARE(dlg.LoopCount(), 3);
            // Closing with an unusable field saves the last good values, quietly.
            ui->portEdit->setText("0");
        }
        QCOMPARE(CSettings::GetProfileInt("Record", "NetworkPort", 0), 1234);
        QVERIFY(fake.m_messages.empty());
    }

    void statusColourGoesWithItsText()
    {
        HostedTab host;
        auto* ui = host.ui;
        host.Monitor();
        // Five seconds without a datagram: "No Data Recv" in red.
        QVERIFY(WaitFor(
            [&] {
                host.dlg->OnStatusTimer();
                return ui->statusLabel->GetText() == "No Data Recv";
            },
            9'000));
        QVERIFY(ShowsStatus(*ui->statusLabel, "No Data Recv", Qt::red));
        // Stop resets the text and its colour together.
        host.Click(ui->stopButton);
        host.dlg->OnStatusTimer();
        QVERIFY(ShowsStatus(*ui->statusLabel, "No errors detected", Qt::green) && ui->statusLabel->IsTransparent());

        // A live stream after that shows green, never red.
        host.Click(ui->monitorButton);
        bool red = false;
        QVERIFY(host.Send(TestStream(1.0), [&] {
            host.dlg->OnStatusTimer();
            red = red || ui->statusLabel->BackgroundColor() == QColor(Qt::red);
        }));
        host.dlg->OnStatusTimer();
        QVERIFY(!red && ShowsStatus(*ui->statusLabel, "No errors detected", Qt::green));
        QVERIFY(!ui->statusLabel->IsTransparent() && host.fake.m_messages.empty());
        host.Click(ui->monitorButton);
    }

    void indicatorPanelFollowsTheRunAndClearsWithThePidList()
    {
        using Light = CIndicatorPanel::Light;
        const auto pat = CTr101290Counters::Indicator::PatError;
        HostedTab host;
        auto* ui = host.ui;
        CIndicatorPanel* panel = host.dlg->IndicatorPanel();
        // The status timer is driven here, tick by tick.
        CTabActivateEvent off(false);
        QApplication::sendEvent(host.dlg, &off);
        const auto lightsAre = [&](std::initializer_list<Light> allowed) {
            for (const auto& info : CTr101290Counters::kInfo)
                if (std::find(allowed.begin(), allowed.end(), panel->LightAt(info.indicator)) == allowed.end())
                    return false;
            return true;
        };
        host.Monitor();
        host.dlg->OnStatusTimer();
        QVERIFY(lightsAre({Light::NoData})); // nothing received: no data rather than "never seen"
        SendLoopback(TestStream(2.0), host.port, [] {});
        QVERIFY(WaitFor([&] { return host.dlg->Analysis().TakeSnapshot().totalPackets > 0; }, 5'000));
        for (std::uint32_t tick = 0; tick < CRecFromNetworkDlg::kIndicatorTicks && lightsAre({Light::NoData}); ++tick)
            host.dlg->OnStatusTimer();
        QVERIFY(lightsAre({Light::Clear, Light::Seen, Light::Active}));

        // DF:MLR as the receiver gives it, and "-" without a figure or a run.
        host.dlg->ShowMdi(1.5, 7, true);
        QCOMPARE(ui->mdiValue->GetText(), QString("1.5:7"));
        host.dlg->ShowMdi(1.5, 7, false);
        QCOMPARE(ui->mdiValue->GetText(), QString("-"));
        host.dlg->ShowMdi(1.5, 7, true);

        // The end of the run keeps its counts; nothing is "now" any more.
        host.Click(ui->monitorButton);
        host.dlg->OnStatusTimer();
        QVERIFY(lightsAre({Light::Clear, Light::Seen}) && ui->mdiValue->GetText() == "-");
        CTr101290Counters injected;
        injected[pat] = 777;
        injected.active[static_cast<std::size_t>(pat)] = true;
        panel->ShowCounters(injected);
        host.dlg->OnStatusTimer();
        QCOMPARE(panel->LightAt(pat), Light::Active);
        // The next run clears the PID list, and the panel with it.
        host.Click(ui->monitorButton);
        QVERIFY(lightsAre({Light::NoData}) && panel->CountText(pat) == "-");
        host.Click(ui->monitorButton);
        QVERIFY(host.fake.m_messages.empty());
    }
};

ORVANE_GUI_TEST(CRecFromNetworkDlgTest)
#include "CRecFromNetworkDlgTest.moc"
