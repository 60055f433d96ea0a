// The Record tab against a loopback sender: what is enabled in each run state,
// refused input with its message, the receiver's settings during a run, one
// recording checked byte for byte, the ring's current file shown and logged,
// failures, the status colours, the bit-rate graph's wiring, Disable Analyzer,
// the no-PCR notice, the TR 101 290 panel and DF:MLR, settings that make no
// sense, and a second path with FEC set up from the fields (SMPTE 2022-7 and
// 2022-1). Ring rotation, merge and FEC themselves: tests/engine.

#include "record/CRecFromNetworkDlg.h"

#include "GuiTest.h"
#include "controls/CBitrateGraph.h"
#include "controls/CBitrateSampler.h"
#include "controls/CButtonStyle.h"
#include "controls/CIndicatorPanel.h"
#include "controls/CLabel.h"
#include "controls/CSettings.h"
#include "controls/CTabActivateEvent.h"
#include "controls/CXTabCtrl.h"
#include "ui_CRecFromNetworkDlg.h"

#include <QFile>
#include <QSettings>
#include <QTemporaryDir>

#include <sys/resource.h>

#include <csignal>

namespace
{
//! The tab hosted in a tab control beside a second tab, as in the main window.
struct HostedTab
{
    CXTabCtrl tabs;
    QWidget* other = new QWidget(&tabs);
    CRecFromNetworkDlg* dlg = new CRecFromNetworkDlg(&tabs);
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
        ui()->portEdit->setText(QString::number(port));
    }
    ~HostedTab() { delete dlg; }
    Ui::CRecFromNetworkDlg* ui() const { return dlg->Form(); }
    CRecordThread::State State() const { return dlg->RecordThread()->GetState(); }
    void Click(QAbstractButton* button) const { QTest::mouseClick(button, Qt::LeftButton); }
    //! What is enabled and pressed, in one line.
    QString Controls() const
    {
        auto* u = ui();
        const char* pressed = u->recordButton->IsPressed()    ? "record"
                              : u->monitorButton->IsPressed() ? "monitor"
                              : u->stopButton->IsPressed()    ? "stop"
                                                              : "none";
        const bool fields = u->portEdit->isEnabled();
        const bool fieldsAlike = u->modeCombo->isEnabled() == fields && u->groupEdit->isEnabled() == fields &&
                                 u->sourceEdit->isEnabled() == fields && u->fecCheck->isEnabled() == fields;
        return QString("record %1 monitor %2 stop %3 fields %4 file %5 tab %6 pressed %7")
            .arg(u->recordButton->isEnabled())
            .arg(u->monitorButton->isEnabled())
            .arg(u->stopButton->isEnabled())
            .arg(fieldsAlike ? QString::number(fields) : QString("mixed"))
            .arg(u->fileOpenButton->isEnabled())
            .arg(tabs.IsTabEnabled(1))
            .arg(pressed);
    }

    //! Opens the network, chooses @p file and, with @p record, starts recording.
    void Start(CFakeUiServices& fake, const QString& file, bool record = true) const
    {
        Click(ui()->networkOpenButton);
        fake.m_fileName = file;
        Click(ui()->fileOpenButton);
        if (record)
            Click(ui()->recordButton);
    }
    void Monitor() const { Click(ui()->networkOpenButton), Click(ui()->monitorButton); } // opens, then monitors
    bool WaitForStatus(const QString& text, int timeoutMs)
    {
        return WaitFor(
            [&] {
                dlg->OnStatusTimer();
                return ui()->statusLabel->GetText() == text;
            },
            timeoutMs);
    }
};
} // namespace

class CRecFromNetworkDlgTest : public QObject
{
    Q_OBJECT

private slots:
    void init() { QSettings().remove("Record"); }

    void controlsFollowTheRunState()
    {
        CFakeUiServices fake;
        QTemporaryDir dir;
        HostedTab host;
        auto* ui = host.ui();
        QCOMPARE(host.Controls(), QString("record 0 monitor 0 stop 0 fields 1 file 1 tab 1 pressed stop"));
        host.Click(ui->networkOpenButton);
        QCOMPARE(ui->networkOpenButton->text(), QString("Close"));
        QCOMPARE(host.Controls(), QString("record 0 monitor 1 stop 0 fields 0 file 1 tab 1 pressed stop"));
        fake.m_fileName = dir.filePath("rec");
        host.Click(ui->fileOpenButton);
        QCOMPARE(host.dlg->OutputFile(), dir.filePath("rec.ts"));
        QCOMPARE(host.Controls(), QString("record 1 monitor 1 stop 0 fields 0 file 1 tab 1 pressed stop"));

        host.Click(ui->monitorButton);
        QCOMPARE(host.State(), CRecordThread::kMonitoring);
        QCOMPARE(host.Controls(), QString("record 1 monitor 1 stop 1 fields 0 file 0 tab 0 pressed monitor"));
        // Closing the network keeps the run going; its fields stay locked.
        host.Click(ui->networkOpenButton);
        QCOMPARE(host.State(), CRecordThread::kMonitoring);
        QCOMPARE(host.Controls(), QString("record 0 monitor 0 stop 0 fields 0 file 0 tab 0 pressed monitor"));
        host.Click(ui->networkOpenButton);
        // Monitoring turns into recording.
        host.Click(ui->recordButton);
        QCOMPARE(host.State(), CRecordThread::kRecording);
        QCOMPARE(host.Controls(), QString("record 0 monitor 0 stop 1 fields 0 file 0 tab 0 pressed record"));
        host.dlg->OnStatusTimer();
        QCOMPARE(host.Controls(), QString("record 0 monitor 0 stop 1 fields 0 file 0 tab 0 pressed record"));

        host.Click(ui->stopButton);
        QCOMPARE(host.State(), CRecordThread::kStopped);
        QCOMPARE(host.Controls(), QString("record 1 monitor 1 stop 0 fields 0 file 1 tab 1 pressed stop"));
        host.Click(ui->monitorButton);
        host.Click(ui->monitorButton); // Monitor again ends monitoring
        QCOMPARE(host.State(), CRecordThread::kStopped);
        QCOMPARE(host.Controls(), QString("record 1 monitor 1 stop 0 fields 0 file 1 tab 1 pressed stop"));
        host.Click(ui->networkOpenButton);
        host.dlg->OnStatusTimer();
        QCOMPARE(host.Controls(), QString("record 0 monitor 0 stop 0 fields 1 file 1 tab 1 pressed stop"));
        QVERIFY(fake.m_messages.empty());
    }

    void refusalsSayWhatIsWrongAndOpenNothing()
    {
        using Form = Ui::CRecFromNetworkDlg;
        const struct
        {
            std::function<void(Form*, std::uint16_t port)> set;
            const char* message;
        } cases[] = {
            {[](Form* u, std::uint16_t) { u->portEdit->setText("0"); },
             "Please enter a port number between 1 and 65535."},
            {[](Form* u, std::uint16_t) { u->fecCheck->setChecked(true); }, "FEC needs the RTP mode."},
            {[](Form* u, std::uint16_t port) {
                 u->secondPathCheck->setChecked(true);
                 u->secondPortEdit->setText(QString::number(port + 10));
             },
             "The second path (SMPTE 2022-7) needs the RTP mode."},
            {[](Form* u, std::uint16_t port) {
                 u->modeCombo->setCurrentIndex(1);
                 u->fecCheck->setChecked(true);
                 u->secondPathCheck->setChecked(true);
                 u->secondPortEdit->setText(QString::number(port + 2)); // the first path's column FEC
             },
             "The second path needs ports of its own (with FEC also + 2 and + 4), or both paths their own "
             "multicast groups."},
            {[](Form* u, std::uint16_t) { u->groupEdit->setText("fd00::1"); },
             "The group must be a multicast address, IPv4 (224.0.0.0 to 239.255.255.255) or IPv6 (ff00::/8), or "
             "0.0.0.0 for none."},
            {[](Form* u, std::uint16_t) { u->groupEdit->setText("ff15::1"), u->sourceEdit->setText("10.0.0.1"); },
             "The source of an IPv6 group must be an IPv6 address, or empty for any source."},
            {[](Form* u, std::uint16_t) { u->groupEdit->setText("239.1.2.3"), u->sourceEdit->setText("fd00::1"); },
             "The source must be an IPv4 address, or empty for any source."},
        };
        for (const auto& c : cases)
        {
            QSettings().remove("Record");
            CFakeUiServices fake;
            HostedTab host;
            c.set(host.ui(), host.port);
            host.Click(host.ui()->networkOpenButton);
            QVERIFY2(host.dlg->IsNetworkClosed(), c.message);
            QCOMPARE(host.ui()->networkOpenButton->text(), QString("Open"));
            QVERIFY(!host.ui()->monitorButton->isEnabled());
            QCOMPARE(fake.m_messages.size(), std::size_t{1});
            QCOMPARE(fake.m_messages[0].text, QString(c.message));
        }
        // An IPv6 group with its source opens, and both are kept.
        QSettings().remove("Record");
        CFakeUiServices fake;
        {
            HostedTab host;
            host.ui()->groupEdit->setText("[ff15::1]");
            host.ui()->sourceEdit->setText("fd00::7");
            host.Click(host.ui()->networkOpenButton);
            QVERIFY(!host.dlg->IsNetworkClosed() && fake.m_messages.empty());
            host.Click(host.ui()->networkOpenButton);
        }
        CRecFromNetworkDlg again;
        QCOMPARE(again.Form()->groupEdit->text(), QString("ff15::1"));
        QCOMPARE(again.Form()->sourceEdit->text(), QString("fd00::7"));
    }

    void modeChangeDuringARunWaitsForTheNextRun()
    {
        CFakeUiServices fake;
        HostedTab host;
        auto* ui = host.ui();
        QCOMPARE(ui->kernelDropsValue->GetText(), QString("-"));
        host.Monitor();
        host.Click(ui->networkOpenButton);
        QVERIFY(!ui->modeCombo->isEnabled() && !ui->portEdit->isEnabled());
        // Even a change that reaches the combo box leaves the running receiver alone.
        ui->modeCombo->setCurrentIndex(1);
        host.Click(ui->networkOpenButton);
        QVERIFY(!host.dlg->Receiver().IsRtp());
        // Signal Info shows the kernel's drop count of the run, and keeps it after the run.
        host.dlg->OnStatusTimer();
        QCOMPARE(ui->kernelDropsValue->GetText(), QString::number(host.dlg->Receiver().GetCounters().kernelDrops));
        host.Click(ui->monitorButton);
        host.dlg->OnStatusTimer();
        QVERIFY(ui->kernelDropsValue->GetText() != "-");
        QCOMPARE(ui->syncLossValue->GetText(), QString("-"));
        // The next run takes the mode shown.
        host.Click(ui->monitorButton);
        QCOMPARE(host.State(), CRecordThread::kMonitoring);
        QVERIFY(host.dlg->Receiver().IsRtp());
        host.Click(ui->monitorButton);
        QVERIFY(fake.m_messages.empty());
    }

    void secondPathWithFecFromTheFieldsMergesRecoversAndIsKept()
    {
        CFakeUiServices fake;
        const std::uint16_t second = FreePort();
        {
            HostedTab host;
            auto* ui = host.ui();
            // Off by default: its fields wait for the tick, Signal Info has no path rows.
            QVERIFY(!ui->secondPathCheck->isChecked() && !ui->secondPortEdit->isEnabled());
            QVERIFY(ui->path1StatsValue->isHidden() && ui->fecPacketsValue->isHidden());
            ui->secondPathCheck->setChecked(true);
            QVERIFY(ui->secondPortEdit->isEnabled() && ui->mergeWindowSpin->isEnabled());
            ui->modeCombo->setCurrentIndex(1);
            ui->fecCheck->setChecked(true);
            ui->secondPortEdit->setText(QString::number(second));
            ui->mergeWindowSpin->setValue(80);
            host.Monitor();
            QCOMPARE(host.State(), CRecordThread::kMonitoring);
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
            QCOMPARE(ui->fecValue->GetText(), QString("%1/%2").arg(c.fecRecovered).arg(c.fecUnrecoverable));
            QCOMPARE(ui->fecPacketsValue->GetText(), QString::number(c.fecPackets));
            for (std::size_t p = 0; p < 2; ++p)
                QCOMPARE((p == 0 ? ui->path1StatsValue : ui->path2StatsValue)->GetText(),
                         QString("%1/%2/%3").arg(c.paths[p].received).arg(c.paths[p].missing).arg(c.paths[p].onlyHere));
            QCOMPARE(ui->skewValue->GetText(), QString::asprintf("%.1f", c.skewMs));
            host.Click(ui->monitorButton);
            QVERIFY(fake.m_messages.empty());
        }
        CRecFromNetworkDlg dlg;
        auto* ui = dlg.Form();
        QVERIFY(ui->secondPathCheck->isChecked() && ui->fecCheck->isChecked());
        QCOMPARE(ui->secondPortEdit->text(), QString::number(second));
        QCOMPARE(ui->mergeWindowSpin->value(), 80);
    }

    void fileThatCannotBeCreatedIsReportedOnce()
    {
        CFakeUiServices fake;
        QTemporaryDir dir;
        HostedTab host;
        host.Start(fake, dir.filePath("missing/rec.ts"));
        QCOMPARE(host.State(), CRecordThread::kStopped);
        // The record thread's message alone, with the tab back at rest.
        QCOMPARE(fake.m_messages.size(), std::size_t{1});
        QVERIFY(!fake.m_messages[0].text.startsWith("Cannot receive"));
        host.dlg->OnStatusTimer();
        QCOMPARE(host.Controls(), QString("record 1 monitor 1 stop 0 fields 0 file 1 tab 1 pressed stop"));
    }

    void recordingIsCompleteByteForByteAndGraphed()
    {
        CFakeUiServices fake;
        QTemporaryDir dir;
        HostedTab host;
        // The form's place for the graph, found by its name; a second call keeps the first graph.
        auto* graphHost = host.dlg->findChild<QWidget*>(CBitrateSampler::kHostName);
        QVERIFY(graphHost != nullptr);
        host.dlg->AttachBitrateGraph();
        auto* sampler = host.dlg->findChild<CBitrateSampler*>();
        QVERIFY(sampler != nullptr);
        QCOMPARE(sampler->Graph()->parentWidget(), graphHost);
        std::int64_t now = 0;
        sampler->SetClock([&] { return now; });
        sampler->Sample(); // no run: nothing sampled

        host.Start(fake, dir.filePath("rec.ts"));
        sampler->Sample(); // the run's start
        const auto data = TestStream(3.0);
        SendLoopback(data, host.port, [&] { host.dlg->OnStatusTimer(); });
        QVERIFY(WaitFor([&] { return host.dlg->Receiver().GetCounters().payloadBytes >= data.size(); }, 5'000));
        host.dlg->OnAnalysisTimer();
        QVERIFY(host.ui()->progTree->topLevelItemCount() > 0);
        // What the tab's analysis counted, all of it within the one sample.
        now += 3'000;
        sampler->Sample();
        QCOMPARE(sampler->History().Samples().size(), std::size_t{1});
        const double bits = sampler->History().Samples().back().totalBitsPerSecond * 3;
        QVERIFY(bits >= data.size() / 2 * 8.0 && bits <= data.size() * 8.0);
        // Closing the network does not end the recording.
        host.Click(host.ui()->networkOpenButton);
        QCOMPARE(host.State(), CRecordThread::kRecording);
        host.Click(host.ui()->networkOpenButton);
        host.Click(host.ui()->stopButton);
        QCOMPARE(host.State(), CRecordThread::kStopped);
        QVERIFY(ReadAll(dir.filePath("rec.ts")) == AsBytes(data));
        // Stopped, nothing is taken; the next run has its own minutes.
        now += 1'000;
        sampler->Sample();
        QCOMPARE(sampler->History().Samples().size(), std::size_t{1});
        host.Click(host.ui()->monitorButton);
        sampler->Sample();
        QVERIFY(sampler->History().IsEmpty());
        host.Click(host.ui()->monitorButton);
        QVERIFY(fake.m_messages.empty());
    }

    void ringShowsAndLogsTheFileBeingWritten()
    {
        CFakeUiServices fake;
        QTemporaryDir dir;
        HostedTab host;
        auto* ui = host.ui();
        ui->recordingSizeEdit->setText("1");
        host.Click(ui->megabytesRadio);
        host.Click(ui->loopButton);
        CEventLog log;
        host.dlg->SetEventLog(&log);
        QStringList states;
        QObject::connect(host.dlg, &CRecFromNetworkDlg::RunStateChanged,
                         [&states](const QString& text) { states.push_back(text); });
        host.Start(fake, dir.filePath("ring.ts"));
        QCOMPARE(host.dlg->RecordThread()->GetFileName(), dir.filePath("ring-0.ts").toStdString());
        host.dlg->OnStatusTimer();
        QCOMPARE(ui->fileNameLabel->GetText(), QString("ring-0.ts"));

        // The file name shown follows the file being written.
        QStringList shown{"ring-0.ts"};
        auto tick = [&] {
            host.dlg->OnStatusTimer();
            if (ui->fileNameLabel->GetText() != shown.back())
                shown.push_back(ui->fileNameLabel->GetText());
        };
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
        QStringList switches;
        for (const CEventLog::Entry& entry : log.Entries())
            if (entry.kind == CEventLog::Kind::RingSwitch)
                switches.push_back(QString::fromStdString(entry.text));
        QVERIFY(switches.size() >= shown.size() - 1);
        QCOMPARE(switches[0], QString("Record: Next ring file: ring-1.ts"));
        QVERIFY(fake.m_messages.empty());
    }

    void writeFailureStopsWithMessageAndRedStatus()
    {
        CFakeUiServices fake;
        QTemporaryDir dir;
        HostedTab host;
        host.Start(fake, dir.filePath("full.ts"), false);

        // A file size limit stands in for a full disk.
        rlimit old{};
        QCOMPARE(::getrlimit(RLIMIT_FSIZE, &old), 0);
        auto* oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit small = old;
        small.rlim_cur = 2 * 1'048'576;
        QCOMPARE(::setrlimit(RLIMIT_FSIZE, &small), 0);
        host.Click(host.ui()->recordButton);
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
        QVERIFY(WaitFor([&] { return !fake.m_messages.empty(); }, 2'000));
        QCOMPARE(fake.m_messages.size(), std::size_t{1});
        QVERIFY(fake.m_messages[0].text.contains("failed"));
        host.dlg->OnStatusTimer();
        QCOMPARE(host.ui()->statusLabel->GetText(), QString("Write error"));
        QCOMPARE(host.ui()->statusLabel->BackgroundColor(), QColor(255, 0, 0));
        QVERIFY(host.tabs.IsTabEnabled(1));
    }

    void disableAnalyzerTakesEffectAtOnceAndIsKept()
    {
        CFakeUiServices fake;
        {
            HostedTab host;
            auto* ui = host.ui();
            QVERIFY(host.dlg->RecordThread()->IsAnalyzerEnabled() && ui->pidTree->isEnabled());
            ui->disableAnalyzerCheck->click();
            QVERIFY(!host.dlg->RecordThread()->IsAnalyzerEnabled());
            QVERIFY(!ui->pidTree->isEnabled() && !ui->progTree->isEnabled());
            QCOMPARE(CSettings::GetProfileInt("Record", "DisableAnalyzer", 0), 1);

            // During a run too, and the end of the run keeps what the box says.
            host.Monitor();
            ui->disableAnalyzerCheck->click();
            QVERIFY(host.dlg->RecordThread()->IsAnalyzerEnabled() && ui->pidTree->isEnabled());
            ui->disableAnalyzerCheck->click();
            host.Click(ui->stopButton);
            host.dlg->OnStatusTimer();
            QVERIFY(!host.dlg->RecordThread()->IsAnalyzerEnabled() && !ui->pidTree->isEnabled());
        }
        HostedTab again;
        QVERIFY(again.ui()->disableAnalyzerCheck->isChecked());
        QVERIFY(!again.dlg->RecordThread()->IsAnalyzerEnabled());
        QVERIFY(fake.m_messages.empty());
    }

    void noPcrNoticeComesAfterTwoSecondsOnTheFirstRun()
    {
        CFakeUiServices fake;
        HostedTab host;
        auto* ui = host.ui();
        host.Click(ui->networkOpenButton);
        for (int run = 0; run < 2; ++run)
        {
            host.Click(ui->monitorButton);
            QCOMPARE(host.State(), CRecordThread::kMonitoring);
            // The analysis timer, driven: three ticks (1.5 s) without PCR say nothing, the fourth does.
            for (int tick = 1; tick < int(CRecFromNetworkDlg::kNoPcrTicks); ++tick)
            {
                host.dlg->OnAnalysisTimer();
                QVERIFY2(ui->noPcrNotice->isHidden(), qPrintable(QString("run %1 tick %2").arg(run).arg(tick)));
            }
            host.dlg->OnAnalysisTimer();
            QVERIFY2(!ui->noPcrNotice->isHidden(), qPrintable(QString("run %1").arg(run)));
            host.Click(ui->stopButton);
            host.dlg->OnAnalysisTimer();
            QVERIFY(ui->noPcrNotice->isHidden());
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
            QCOMPARE(ui->portEdit->text(), QString("1234"));
            QCOMPARE(ui->recordingSizeEdit->text(), QString("100"));
            QCOMPARE(ui->groupEdit->text(), QString("0.0.0.0"));
            QCOMPARE(dlg.LoopCount(), 3);
            // Closing with an unusable field saves the last good values, quietly.
            ui->portEdit->setText("0");
        }
        QCOMPARE(CSettings::GetProfileInt("Record", "NetworkPort", 0), 1234);
        QVERIFY(fake.m_messages.empty());
    }

    void statusColourGoesWithItsText()
    {
        CFakeUiServices fake;
        HostedTab host;
        auto* ui = host.ui();
        host.Monitor();
        // Five seconds without a datagram: "No Data Recv" in red.
        QVERIFY(host.WaitForStatus("No Data Recv", 9'000));
        QCOMPARE(ui->statusLabel->BackgroundColor(), QColor(255, 0, 0));
        // Stop resets the text and its colour together.
        host.Click(ui->stopButton);
        host.dlg->OnStatusTimer();
        QCOMPARE(ui->statusLabel->GetText(), QString("No errors detected"));
        QCOMPARE(ui->statusLabel->BackgroundColor(), QColor(0, 255, 0));
        QVERIFY(ui->statusLabel->IsTransparent());

        // A live stream after that shows green, never red.
        host.Click(ui->monitorButton);
        const auto data = TestStream(1.0);
        bool red = false;
        auto tick = [&] {
            host.dlg->OnStatusTimer();
            red = red || ui->statusLabel->BackgroundColor() == QColor(255, 0, 0);
        };
        SendLoopback(data, host.port, tick);
        QVERIFY(WaitFor([&] { return host.dlg->Receiver().GetCounters().payloadBytes >= data.size(); }, 5'000));
        tick();
        QVERIFY(!red);
        QCOMPARE(ui->statusLabel->GetText(), QString("No errors detected"));
        QVERIFY(!ui->statusLabel->IsTransparent());

        host.Click(ui->monitorButton);
        QCOMPARE(host.State(), CRecordThread::kStopped);
        QVERIFY(fake.m_messages.empty());
    }

    void indicatorPanelFollowsTheRunAndClearsWithThePidList()
    {
        using Light = CIndicatorPanel::Light;
        const auto pat = CTr101290Counters::Indicator::PatError;
        CFakeUiServices fake;
        HostedTab host;
        auto* ui = host.ui();
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
        // Refreshed once a second of ticks, not on every tick.
        CTr101290Counters injected;
        injected[pat] = 777;
        panel->ShowCounters(injected);
        for (std::uint32_t tick = 1; tick < CRecFromNetworkDlg::kIndicatorTicks; ++tick)
            host.dlg->OnStatusTimer();
        QCOMPARE(panel->CountText(pat), QString("777"));
        host.dlg->OnStatusTimer();
        QVERIFY(panel->CountText(pat) != QString("777"));

        // DF:MLR as the receiver gives it, and "-" without a figure or a run.
        host.dlg->ShowMdi(1.5, 7, true);
        QCOMPARE(ui->mdiValue->GetText(), QString("1.5:7"));
        host.dlg->ShowMdi(1.5, 7, false);
        QCOMPARE(ui->mdiValue->GetText(), QString("-"));
        host.dlg->ShowMdi(1.5, 7, true);

        // The end of the run keeps its counts; nothing is "now" any more.
        host.Click(ui->monitorButton);
        host.dlg->OnStatusTimer();
        QVERIFY(lightsAre({Light::Clear, Light::Seen}));
        QCOMPARE(ui->mdiValue->GetText(), QString("-"));
        injected.active[static_cast<std::size_t>(pat)] = true;
        panel->ShowCounters(injected);
        host.dlg->OnStatusTimer();
        QCOMPARE(panel->LightAt(pat), Light::Active);
        // The next run clears the PID list, and the panel with it.
        host.Click(ui->monitorButton);
        QCOMPARE(host.State(), CRecordThread::kMonitoring);
        QVERIFY(lightsAre({Light::NoData}));
        QCOMPARE(panel->CountText(pat), QString("-"));
        host.Click(ui->monitorButton);
        QVERIFY(fake.m_messages.empty());
    }
};

ORVANE_GUI_TEST(CRecFromNetworkDlgTest)
#include "CRecFromNetworkDlgTest.moc"
