// The Record tab: first-start defaults and settings, the state table, the loop
// count's range, real recordings from a loopback sender checked byte for byte
// (plain file and ring of files), monitoring with the trees filling and the
// other tab locked.

// Before any Qt header: the generator has a member named like a Qt keyword.
// clang-format off
#include "analysis/CTsGenerator.h"
// clang-format on

#include "record/CRecFromNetworkDlg.h"

#include "GuiTest.h"
#include "app/CSettings.h"
#include "controls/CButtonStyle.h"
#include "controls/CLabel.h"
#include "controls/CTabActivateEvent.h"
#include "controls/CXTabCtrl.h"
#include "record/CUpDownButton.h"
#include "ui_CRecFromNetworkDlg.h"

#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <QToolButton>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>

#include <chrono>
#include <csignal>
#include <thread>

namespace
{
void ClearRecordSettings()
{
    QSettings settings;
    settings.remove("Record");
}

//! A free UDP port on loopback (bound once, then released).
std::uint16_t FreePort()
{
    CUniqueFd fd(::socket(AF_INET, SOCK_DGRAM, 0));
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(fd.Get(), reinterpret_cast<sockaddr*>(&a), sizeof a) != 0)
        return 0;
    socklen_t len = sizeof a;
    ::getsockname(fd.Get(), reinterpret_cast<sockaddr*>(&a), &len);
    return ntohs(a.sin_port);
}

std::vector<std::uint8_t> TestStream(double seconds, std::uint64_t bitRate = 8'000'000)
{
    CTsGeneratorConfig config;
    config.durationSeconds = seconds;
    config.bitRate = bitRate;
    CTsGenerator generator(config);
    return generator.GenerateToMemory();
}

//! Sends @p data to 127.0.0.1:@p port in 1,316-byte datagrams, a few per
//! millisecond, calling @p tick about every 50 ms.
void SendLoopback(const std::vector<std::uint8_t>& data, std::uint16_t port, const std::function<void()>& tick)
{
    CUniqueFd fd(::socket(AF_INET, SOCK_DGRAM, 0));
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    constexpr std::size_t kDatagram = 1316;
    std::size_t sent = 0;
    int burst = 0;
    auto lastTick = std::chrono::steady_clock::now();
    while (sent < data.size())
    {
        const std::size_t n = std::min(kDatagram, data.size() - sent);
        ::sendto(fd.Get(), data.data() + sent, n, 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
        sent += n;
        if (++burst == 6)
        {
            burst = 0;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        if (std::chrono::steady_clock::now() - lastTick > std::chrono::milliseconds(50))
        {
            lastTick = std::chrono::steady_clock::now();
            tick();
        }
    }
}

//! With ORVANE_SCREENSHOT_DIR set, saves a picture of @p widget there (for the docs).
void Screenshot(QWidget* widget, const QString& name)
{
    const QString dir = qEnvironmentVariable("ORVANE_SCREENSHOT_DIR");
    if (!dir.isEmpty())
        widget->grab().save(dir + "/" + name);
}

QByteArray ReadAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QByteArray AsBytes(const std::vector<std::uint8_t>& data, std::size_t from = 0)
{
    return QByteArray(reinterpret_cast<const char*>(data.data() + from), static_cast<qsizetype>(data.size() - from));
}

//! The tab hosted in a tab control beside a second tab, as in the main window.
struct HostedTab
{
    CXTabCtrl tabs;
    QWidget* other = new QWidget(&tabs);
    CRecFromNetworkDlg* dlg = new CRecFromNetworkDlg(&tabs);

    HostedTab()
    {
        tabs.resize(1000, 520);
        tabs.AddTab("Record", dlg, 0);
        dlg->setProperty("tabIndex", 0);
        tabs.AddTab("Play", other, 1);
        tabs.SelectFirstTab();
        CTabActivateEvent event(true);
        QApplication::sendEvent(dlg, &event);
    }
    ~HostedTab() { delete dlg; }
    Ui::CRecFromNetworkDlg* ui() const { return dlg->Form(); }
};
} // namespace

class CRecFromNetworkDlgTest : public QObject
{
    Q_OBJECT

private slots:
    void init() { ClearRecordSettings(); }

    void firstStartDefaultsAndSettings()
    {
        CFakeUiServices fake;
        QTemporaryDir dir;
        {
            HostedTab host;
            auto* ui = host.ui();
            QCOMPARE(ui->portEdit->text(), QString("1234"));
            QCOMPARE(ui->modeCombo->currentText(), QString("UDP"));
            QCOMPARE(ui->modeCombo->count(), 2);
            QCOMPARE(ui->recordingSizeEdit->text(), QString("100"));
            QVERIFY(ui->secondsRadio->isChecked());
            QVERIFY(!ui->loopButton->IsPressed());
            QCOMPARE(ui->loopCountLabel->GetText(), QString("3"));
            QVERIFY(!ui->loopCountUpDown->isEnabled());
            QVERIFY(host.dlg->OutputFile().isEmpty());
            QVERIFY(ui->fileNameLabel->GetText().isEmpty());
            QVERIFY(ui->stopButton->IsPressed());
            QVERIFY(!ui->recordButton->isEnabled());
            QVERIFY(!ui->monitorButton->isEnabled());
            QVERIFY(!ui->stopButton->isEnabled());
            QVERIFY(ui->noPcrNotice->isHidden());
            QCOMPARE(ui->noPcrNotice->text(), QString("No PCR found in the Transport stream !"));
            QCOMPARE(ui->groupEdit->text(), QString("0.0.0.0"));
            QCOMPARE(ui->recordButton->property("controlId").toInt(), 1011);

            // Network open: Monitor, but Record only once a file is chosen.
            QTest::mouseClick(ui->networkOpenButton, Qt::LeftButton);
            QCOMPARE(ui->networkOpenButton->text(), QString("Close"));
            QVERIFY(!ui->portEdit->isEnabled());
            QVERIFY(ui->monitorButton->isEnabled());
            QVERIFY(!ui->recordButton->isEnabled());
            fake.m_fileName = dir.filePath("out");
            QTest::mouseClick(ui->fileOpenButton, Qt::LeftButton);
            QCOMPARE(host.dlg->OutputFile(), dir.filePath("out.ts"));
            QCOMPARE(ui->fileNameLabel->GetText(), QString("out.ts"));
            QVERIFY(ui->recordButton->isEnabled());
            // Written at once, not only at the end.
            QCOMPARE(CSettings::GetProfileString("Record", "File", {}), dir.filePath("out.ts"));

            ui->portEdit->setText("5000");
            ui->recordingSizeEdit->setText("7");
            QTest::mouseClick(ui->megabytesRadio, Qt::LeftButton);
            QTest::mouseClick(ui->networkOpenButton, Qt::LeftButton);
            QCOMPARE(ui->networkOpenButton->text(), QString("Open"));
            ui->groupEdit->setText("239.1.2.3");
            ui->sourceEdit->setText("127.0.0.1");
            QTest::mouseClick(ui->loopButton, Qt::LeftButton);
        }
        QCOMPARE(CSettings::GetProfileInt("Record", "NetworkPort", 0), 5000);
        QCOMPARE(CSettings::GetProfileInt("Record", "RecSize", 0), 7);
        QCOMPARE(CSettings::GetProfileInt("Record", "RecType", 0), 1);
        QCOMPARE(CSettings::GetProfileInt("Record", "FileLoopEnable", 0), 1);
        QCOMPARE(CSettings::GetProfileInt("Record", "FileLoopCnt", 0), 3);
        QCOMPARE(static_cast<std::uint32_t>(CSettings::GetProfileInt("Record", "NetworkAddrs", 0)), 0xEF010203u);
        QCOMPARE(static_cast<std::uint32_t>(CSettings::GetProfileInt("Record", "NetworkSource", 0)), 0x7F000001u);
        HostedTab again;
        QCOMPARE(again.ui()->portEdit->text(), QString("5000"));
        QVERIFY(again.ui()->megabytesRadio->isChecked());
        QVERIFY(again.ui()->loopButton->IsPressed());
        QVERIFY(again.ui()->loopCountUpDown->isEnabled());
        QCOMPARE(again.ui()->groupEdit->text(), QString("239.1.2.3"));
        QVERIFY(fake.m_messages.empty());
    }

    void badFieldsKeepTheNetworkClosed()
    {
        CFakeUiServices fake;
        HostedTab host;
        host.ui()->groupEdit->setText("10.0.0.1"); // not a multicast group
        QTest::mouseClick(host.ui()->networkOpenButton, Qt::LeftButton);
        QVERIFY(host.dlg->IsNetworkClosed());
        QCOMPARE(fake.m_messages.size(), std::size_t{1});
        host.ui()->groupEdit->setText("0.0.0.0");
        host.ui()->sourceEdit->setText("nonsense");
        QTest::mouseClick(host.ui()->networkOpenButton, Qt::LeftButton);
        QVERIFY(host.dlg->IsNetworkClosed());
        QCOMPARE(fake.m_messages.size(), std::size_t{2});
    }

    void loopCountStaysWithinRange()
    {
        HostedTab host;
        auto* ui = host.ui();
        QTest::mouseClick(ui->loopButton, Qt::LeftButton);
        QVERIFY(ui->loopCountUpDown->isEnabled());
        QCOMPARE(ui->loopCountLabel->GetTextColor(), QColor(0, 0, 255));
        for (int i = 0; i < 5; ++i)
            QTest::mouseClick(ui->loopCountUpDown->DownButton(), Qt::LeftButton);
        QCOMPARE(host.dlg->LoopCount(), 1);
        QCOMPARE(ui->loopCountLabel->GetText(), QString("1"));
        for (int i = 0; i < 150; ++i)
            host.dlg->OnLoopCountStep(1);
        QCOMPARE(host.dlg->LoopCount(), 100);
        host.dlg->OnLoopCountStep(-32768);
        QCOMPARE(host.dlg->LoopCount(), 1);
        QTest::mouseClick(ui->loopButton, Qt::LeftButton);
        QVERIFY(!ui->loopCountUpDown->isEnabled());
        QCOMPARE(ui->loopCountLabel->GetTextColor(), QColor(128, 128, 128));
    }

    void stateTableAndMonitoring()
    {
        CFakeUiServices fake;
        const std::uint16_t port = FreePort();
        QVERIFY(port != 0);
        HostedTab host;
        auto* ui = host.ui();
        ui->portEdit->setText(QString::number(port));
        QTest::mouseClick(ui->networkOpenButton, Qt::LeftButton);
        // open, stopped
        QVERIFY(ui->monitorButton->isEnabled());
        QVERIFY(!ui->stopButton->isEnabled());
        QVERIFY(ui->fileOpenButton->isEnabled());

        QTest::mouseClick(ui->monitorButton, Qt::LeftButton);
        QCOMPARE(host.dlg->RecordThread()->GetState(), CRecordThread::kMonitoring);
        QVERIFY(ui->monitorButton->IsPressed());
        QVERIFY(!ui->stopButton->IsPressed());
        QVERIFY(ui->monitorButton->isEnabled());
        QVERIFY(ui->stopButton->isEnabled());
        QVERIFY(!ui->recordButton->isEnabled()); // no file chosen
        QVERIFY(!ui->fileOpenButton->isEnabled());
        QVERIFY(!ui->portEdit->isEnabled());
        QVERIFY(!host.tabs.IsTabEnabled(1));

        SendLoopback(TestStream(2.0), port, [&] { host.dlg->OnStatusTimer(); });
        QVERIFY(WaitFor(
            [&] {
                host.dlg->OnStatusTimer();
                host.dlg->OnAnalysisTimer();
                return ui->progTree->topLevelItemCount() > 0 && ui->pidTree->topLevelItemCount() > 0;
            },
            5'000));
        QCOMPARE(ui->packetSizeValue->GetText(), QString("188"));
        Screenshot(&host.tabs, "record-tab-monitoring.png");
        QCOMPARE(ui->statusLabel->GetText(), QString("No errors detected"));
        QVERIFY(!ui->statusLabel->IsTransparent());
        QVERIFY(ui->bitRateValue->GetText() != QString("-"));

        // Closed while monitoring: the run goes on, the transport buttons are off.
        QTest::mouseClick(ui->networkOpenButton, Qt::LeftButton);
        QCOMPARE(host.dlg->RecordThread()->GetState(), CRecordThread::kMonitoring);
        QVERIFY(!ui->monitorButton->isEnabled());
        QVERIFY(!ui->stopButton->isEnabled());
        QVERIFY(ui->portEdit->isEnabled());
        QVERIFY(!host.tabs.IsTabEnabled(1));
        QTest::mouseClick(ui->networkOpenButton, Qt::LeftButton);
        QTest::mouseClick(ui->monitorButton, Qt::LeftButton);
        QCOMPARE(host.dlg->RecordThread()->GetState(), CRecordThread::kStopped);
        QVERIFY(host.tabs.IsTabEnabled(1));
        host.dlg->OnStatusTimer();
        QCOMPARE(ui->packetSizeValue->GetText(), QString("-"));
        QCOMPARE(ui->bitRateValue->GetText(), QString("-"));
        QVERIFY(ui->statusLabel->IsTransparent());
        QVERIFY(ui->stopButton->IsPressed());
        QVERIFY(fake.m_messages.empty());
    }

    void recordingIsCompleteByteForByte()
    {
        CFakeUiServices fake;
        QTemporaryDir dir;
        const std::uint16_t port = FreePort();
        HostedTab host;
        auto* ui = host.ui();
        ui->portEdit->setText(QString::number(port));
        QTest::mouseClick(ui->networkOpenButton, Qt::LeftButton);
        fake.m_fileName = dir.filePath("rec.ts");
        QTest::mouseClick(ui->fileOpenButton, Qt::LeftButton);
        QTest::mouseClick(ui->recordButton, Qt::LeftButton);
        QCOMPARE(host.dlg->RecordThread()->GetState(), CRecordThread::kRecording);
        QVERIFY(ui->recordButton->IsPressed());
        QVERIFY(!ui->recordButton->isEnabled());
        QVERIFY(!ui->monitorButton->isEnabled());
        QVERIFY(ui->stopButton->isEnabled());
        QVERIFY(!host.tabs.IsTabEnabled(1));

        const auto data = TestStream(3.0);
        SendLoopback(data, port, [&] { host.dlg->OnStatusTimer(); });
        QVERIFY(WaitFor([&] { return host.dlg->Receiver().GetCounters().payloadBytes >= data.size(); }, 5'000));
        host.dlg->OnStatusTimer();
        host.dlg->OnAnalysisTimer();
        Screenshot(&host.tabs, "record-tab-recording.png");
        // Closing the network does not end the recording.
        QTest::mouseClick(ui->networkOpenButton, Qt::LeftButton);
        QCOMPARE(host.dlg->RecordThread()->GetState(), CRecordThread::kRecording);
        QVERIFY(!ui->stopButton->isEnabled());
        QTest::mouseClick(ui->networkOpenButton, Qt::LeftButton);
        QTest::mouseClick(ui->stopButton, Qt::LeftButton);
        QCOMPARE(host.dlg->RecordThread()->GetState(), CRecordThread::kStopped);
        host.dlg->OnStatusTimer();
        QVERIFY(host.tabs.IsTabEnabled(1));
        QCOMPARE(ui->progressBar->value(), 0);
        QVERIFY(ReadAll(dir.filePath("rec.ts")) == AsBytes(data));
        QVERIFY(fake.m_messages.empty());
    }

    void secondsLimitStopsTheRecording()
    {
        CFakeUiServices fake;
        QTemporaryDir dir;
        HostedTab host;
        auto* ui = host.ui();
        ui->portEdit->setText(QString::number(FreePort()));
        ui->recordingSizeEdit->setText("0"); // counts as one second
        QTest::mouseClick(ui->networkOpenButton, Qt::LeftButton);
        fake.m_fileName = dir.filePath("limit.ts");
        QTest::mouseClick(ui->fileOpenButton, Qt::LeftButton);
        QTest::mouseClick(ui->recordButton, Qt::LeftButton);
        QVERIFY(WaitFor(
            [&] {
                host.dlg->OnStatusTimer();
                return host.dlg->RecordThread()->GetState() == CRecordThread::kStopped;
            },
            4'000));
        QCOMPARE(ui->elapsedLabel->GetText(), QString("0:00:01"));
        QCOMPARE(ui->progressBar->value(), 0);
        host.dlg->OnStatusTimer();
        QVERIFY(host.tabs.IsTabEnabled(1));
        QVERIFY(QFile::exists(dir.filePath("limit.ts")));
    }

    void ringOfFilesLosesNothing()
    {
        CFakeUiServices fake;
        QTemporaryDir dir;
        const std::uint16_t port = FreePort();
        HostedTab host;
        auto* ui = host.ui();
        ui->portEdit->setText(QString::number(port));
        ui->recordingSizeEdit->setText("1");
        QTest::mouseClick(ui->megabytesRadio, Qt::LeftButton);
        QTest::mouseClick(ui->loopButton, Qt::LeftButton);
        QTest::mouseClick(ui->networkOpenButton, Qt::LeftButton);
        fake.m_fileName = dir.filePath("ring.ts");
        QTest::mouseClick(ui->fileOpenButton, Qt::LeftButton);
        QTest::mouseClick(ui->recordButton, Qt::LeftButton);
        QCOMPARE(host.dlg->RecordThread()->GetFileName(), dir.filePath("ring-0.ts").toStdString());

        std::vector<int> indices{0};
        auto tick = [&] {
            host.dlg->OnStatusTimer();
            if (host.dlg->Controller().GetFileIndex() != indices.back())
                indices.push_back(host.dlg->Controller().GetFileIndex());
        };
        const auto data = TestStream(12.0, 10'000'000); // about 15 MB
        SendLoopback(data, port, tick);
        QVERIFY(WaitFor(
            [&] {
                tick();
                return host.dlg->Receiver().GetCounters().payloadBytes >= data.size() && indices.size() >= 4;
            },
            8'000));
        QTest::mouseClick(ui->stopButton, Qt::LeftButton);
        QVERIFY(indices.size() >= 4);
        for (std::size_t i = 0; i < indices.size(); ++i)
            QCOMPARE(indices[i], static_cast<int>(i % 3));
        QVERIFY(!QFile::exists(dir.filePath("ring-3.ts")));
        // The newest files, oldest first, are exactly the end of what was sent.
        const int last = indices.back();
        QByteArray joined;
        for (int k = 1; k <= 3; ++k)
            joined += ReadAll(dir.filePath(QString("ring-%1.ts").arg((last + k) % 3)));
        QVERIFY(joined.size() > 0 && static_cast<std::size_t>(joined.size()) <= data.size());
        QVERIFY(joined == AsBytes(data, data.size() - static_cast<std::size_t>(joined.size())));
        QVERIFY(fake.m_messages.empty());
    }
    void writeFailureStopsWithMessageAndRedStatus()
    {
        CFakeUiServices fake;
        QTemporaryDir dir;
        const std::uint16_t port = FreePort();
        HostedTab host;
        auto* ui = host.ui();
        ui->portEdit->setText(QString::number(port));
        QTest::mouseClick(ui->networkOpenButton, Qt::LeftButton);
        fake.m_fileName = dir.filePath("full.ts");
        QTest::mouseClick(ui->fileOpenButton, Qt::LeftButton);

        // A file size limit stands in for a full disk.
        rlimit old{};
        QCOMPARE(::getrlimit(RLIMIT_FSIZE, &old), 0);
        auto* oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit small = old;
        small.rlim_cur = 2 * 1'048'576;
        QCOMPARE(::setrlimit(RLIMIT_FSIZE, &small), 0);
        QTest::mouseClick(ui->recordButton, Qt::LeftButton);
        SendLoopback(TestStream(5.0), port, [&] { host.dlg->OnStatusTimer(); });
        const bool stopped = WaitFor(
            [&] {
                host.dlg->OnStatusTimer();
                return host.dlg->RecordThread()->GetState() == CRecordThread::kStopped;
            },
            5'000);
        ::setrlimit(RLIMIT_FSIZE, &old);
        std::signal(SIGXFSZ, oldHandler);
        QVERIFY(stopped);
        QVERIFY(WaitFor([&] { return !fake.m_messages.empty(); }, 2'000));
        QCOMPARE(fake.m_messages.size(), std::size_t{1});
        QVERIFY(fake.m_messages[0].text.contains("failed"));
        host.dlg->OnStatusTimer();
        QCOMPARE(ui->statusLabel->GetText(), QString("Write error"));
        QCOMPARE(ui->statusLabel->BackgroundColor(), QColor(255, 0, 0));
        QVERIFY(!ui->statusLabel->IsTransparent());
        QVERIFY(host.tabs.IsTabEnabled(1));
        QVERIFY(ui->fileOpenButton->isEnabled());
    }

    void missingPcrAndSilenceShowTheirNotices()
    {
        CFakeUiServices fake;
        const std::uint16_t port = FreePort();
        QVERIFY(port != 0);
        HostedTab host;
        auto* ui = host.ui();
        ui->portEdit->setText(QString::number(port));
        QTest::mouseClick(ui->networkOpenButton, Qt::LeftButton);
        auto tick = [&] {
            host.dlg->OnStatusTimer();
            host.dlg->OnAnalysisTimer();
        };

        // A run that sees PCRs arms the notice's short countdown.
        QTest::mouseClick(ui->monitorButton, Qt::LeftButton);
        SendLoopback(TestStream(2.0), port, tick);
        QVERIFY(WaitFor(
            [&] {
                tick();
                return host.dlg->NoPcrCountdown() == CRecFromNetworkDlg::kNoPcrTicks;
            },
            5'000));
        QVERIFY(!ui->noPcrNotice->isVisible());
        QTest::mouseClick(ui->monitorButton, Qt::LeftButton);
        QCOMPARE(host.dlg->RecordThread()->GetState(), CRecordThread::kStopped);

        // The next run carries packets without any PCR: four analysis ticks later the notice shows.
        std::vector<std::uint8_t> nulls(188 * 7 * 400, 0xFF);
        for (std::size_t i = 0; i < nulls.size(); i += 188)
        {
            nulls[i] = 0x47;
            nulls[i + 1] = 0x1F;
            nulls[i + 2] = 0xFF;
            nulls[i + 3] = static_cast<std::uint8_t>(0x10 | ((i / 188) & 0x0F));
        }
        QTest::mouseClick(ui->monitorButton, Qt::LeftButton);
        SendLoopback(nulls, port, [&] { host.dlg->OnStatusTimer(); });
        for (std::uint32_t i = 0; i < CRecFromNetworkDlg::kNoPcrTicks; ++i)
        {
            QVERIFY(!ui->noPcrNotice->isVisibleTo(ui->noPcrNotice->parentWidget()));
            host.dlg->OnAnalysisTimer();
        }
        QVERIFY(ui->noPcrNotice->isVisibleTo(ui->noPcrNotice->parentWidget()));

        // Five seconds without a datagram: "No Data Recv"; data again: "No errors detected".
        QVERIFY(WaitFor(
            [&] {
                host.dlg->OnStatusTimer();
                return ui->statusLabel->GetText() == QString("No Data Recv");
            },
            9'000));
        QCOMPARE(ui->statusLabel->BackgroundColor(), QColor(255, 0, 0));
        SendLoopback(nulls, port, [&] { host.dlg->OnStatusTimer(); });
        QVERIFY(WaitFor(
            [&] {
                host.dlg->OnStatusTimer();
                return ui->statusLabel->GetText() == QString("No errors detected");
            },
            5'000));
        QTest::mouseClick(ui->monitorButton, Qt::LeftButton);
        QCOMPARE(host.dlg->RecordThread()->GetState(), CRecordThread::kStopped);
    }
};

ORVANE_GUI_TEST(CRecFromNetworkDlgTest)
#include "CRecFromNetworkDlgTest.moc"
