// The Record tab against a loopback sender: the transport buttons' states,
// recordings checked byte for byte (plain file and ring of files), a write
// failure, and the silence notice.

#include "record/CRecFromNetworkDlg.h"

#include "GuiTest.h"
#include "controls/CButtonStyle.h"
#include "controls/CLabel.h"
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

    //! Opens the network, chooses @p file and, with @p record, starts recording.
    void Start(CFakeUiServices& fake, const QString& file, bool record = true) const
    {
        Click(ui()->networkOpenButton);
        fake.m_fileName = file;
        Click(ui()->fileOpenButton);
        if (record)
            Click(ui()->recordButton);
    }
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

    void transportButtonsFollowTheState()
    {
        CFakeUiServices fake;
        QTemporaryDir dir;
        HostedTab host;
        auto* ui = host.ui();
        QVERIFY(!ui->recordButton->isEnabled() && !ui->monitorButton->isEnabled() && !ui->stopButton->isEnabled());
        host.Click(ui->networkOpenButton);
        QVERIFY(ui->monitorButton->isEnabled() && !ui->recordButton->isEnabled() && !ui->stopButton->isEnabled());

        // Monitoring: only Monitor and Stop, the other tab locked.
        host.Click(ui->monitorButton);
        QCOMPARE(host.State(), CRecordThread::kMonitoring);
        QVERIFY(ui->monitorButton->IsPressed() && ui->stopButton->isEnabled());
        QVERIFY(!ui->recordButton->isEnabled() && !ui->fileOpenButton->isEnabled() && !ui->portEdit->isEnabled());
        QVERIFY(!host.tabs.IsTabEnabled(1));
        // Closing the network keeps the run going with the transport buttons off.
        host.Click(ui->networkOpenButton);
        QCOMPARE(host.State(), CRecordThread::kMonitoring);
        QVERIFY(!ui->monitorButton->isEnabled() && !ui->stopButton->isEnabled() && !host.tabs.IsTabEnabled(1));
        host.Click(ui->networkOpenButton);
        host.Click(ui->monitorButton);
        QCOMPARE(host.State(), CRecordThread::kStopped);
        QVERIFY(ui->stopButton->IsPressed() && host.tabs.IsTabEnabled(1));

        // Record once a file is chosen; recording: only Stop.
        fake.m_fileName = dir.filePath("rec");
        host.Click(ui->fileOpenButton);
        QVERIFY(ui->recordButton->isEnabled());
        host.Click(ui->recordButton);
        QCOMPARE(host.State(), CRecordThread::kRecording);
        QVERIFY(ui->recordButton->IsPressed() && !ui->recordButton->isEnabled());
        QVERIFY(!ui->monitorButton->isEnabled() && ui->stopButton->isEnabled() && !host.tabs.IsTabEnabled(1));
        host.Click(ui->stopButton);
        QCOMPARE(host.State(), CRecordThread::kStopped);
        QVERIFY(fake.m_messages.empty());
    }

    void recordingIsCompleteByteForByte()
    {
        CFakeUiServices fake;
        QTemporaryDir dir;
        HostedTab host;
        host.Start(fake, dir.filePath("rec.ts"));
        const auto data = TestStream(3.0);
        SendLoopback(data, host.port, [&] { host.dlg->OnStatusTimer(); });
        QVERIFY(WaitFor([&] { return host.dlg->Receiver().GetCounters().payloadBytes >= data.size(); }, 5'000));
        host.dlg->OnAnalysisTimer();
        QVERIFY(host.ui()->progTree->topLevelItemCount() > 0);
        // Closing the network does not end the recording.
        host.Click(host.ui()->networkOpenButton);
        QCOMPARE(host.State(), CRecordThread::kRecording);
        host.Click(host.ui()->networkOpenButton);
        host.Click(host.ui()->stopButton);
        QCOMPARE(host.State(), CRecordThread::kStopped);
        QVERIFY(ReadAll(dir.filePath("rec.ts")) == AsBytes(data));
        QVERIFY(fake.m_messages.empty());
    }

    void ringOfFilesLosesNothing()
    {
        CFakeUiServices fake;
        QTemporaryDir dir;
        HostedTab host;
        auto* ui = host.ui();
        ui->recordingSizeEdit->setText("1");
        host.Click(ui->megabytesRadio);
        host.Click(ui->loopButton);
        host.Start(fake, dir.filePath("ring.ts"));
        QCOMPARE(host.dlg->RecordThread()->GetFileName(), dir.filePath("ring-0.ts").toStdString());

        std::vector<int> indices{0};
        auto tick = [&] {
            host.dlg->OnStatusTimer();
            if (host.dlg->Controller().GetFileIndex() != indices.back())
                indices.push_back(host.dlg->Controller().GetFileIndex());
        };
        const auto data = TestStream(12.0, 10'000'000); // about 15 MB
        SendLoopback(data, host.port, tick);
        QVERIFY(WaitFor(
            [&] {
                tick();
                return host.dlg->Receiver().GetCounters().payloadBytes >= data.size() && indices.size() >= 4;
            },
            8'000));
        host.Click(ui->stopButton);
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

    void noDataNoticeGivesWayWhenDataFlows()
    {
        CFakeUiServices fake;
        HostedTab host;
        host.Click(host.ui()->networkOpenButton);
        host.Click(host.ui()->monitorButton);
        const auto data = TestStream(1.0);
        SendLoopback(data, host.port, [&] { host.dlg->OnStatusTimer(); });
        // Five seconds without a datagram: "No Data Recv"; data again: "No errors detected".
        QVERIFY(host.WaitForStatus("No Data Recv", 9'000));
        QCOMPARE(host.ui()->statusLabel->BackgroundColor(), QColor(255, 0, 0));
        SendLoopback(data, host.port, [&] { host.dlg->OnStatusTimer(); });
        QVERIFY(host.WaitForStatus("No errors detected", 5'000));
        host.Click(host.ui()->monitorButton);
        QCOMPARE(host.State(), CRecordThread::kStopped);
    }
};

ORVANE_GUI_TEST(CRecFromNetworkDlgTest)
#include "CRecFromNetworkDlgTest.moc"
