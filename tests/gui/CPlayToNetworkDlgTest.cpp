// The Play tab: first start and settings, the file analysis of the example
// files, a real play over loopback (to the end, stopped, paused, looped,
// jumped), the network status texts, and the TOT/TDT dialog's offsets.

// clang-format off
// Before any Qt header: the generator has a member named like a Qt keyword.
#include "analysis/CTsGenerator.h"
#include "play/CPlayToNetworkDlg.h"
// clang-format on

#include "GuiTest.h"
#include "app/COrvaneDlg.h"
#include "app/CSettings.h"
#include "controls/CButtonStyle.h"
#include "controls/CDVBSlider.h"
#include "controls/CLabel.h"
#include "controls/CXTabCtrl.h"
#include "engine/CFilePlayEngine.h"
#include "engine/CNetworkSender.h"
#include "play/CIpAddressCtrl.h"
#include "play/CTotTdtDlg.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QSpinBox>
#include <QTabBar>
#include <QTemporaryDir>
#include <QTimeEdit>
#include <QTimer>
#include <QTreeWidget>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <atomic>
#include <mutex>
#include <thread>

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

//! Collects UDP payloads on a loopback port on its own thread.
class Receiver
{
public:
    Receiver() : m_fd(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0))
    {
        const int buffer = 8 * 1024 * 1024;
        setsockopt(m_fd.Get(), SOL_SOCKET, SO_RCVBUFFORCE, &buffer, sizeof buffer);
        setsockopt(m_fd.Get(), SOL_SOCKET, SO_RCVBUF, &buffer, sizeof buffer);
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_addr.s_addr = htonl(0x7F000001u);
        bind(m_fd.Get(), reinterpret_cast<const sockaddr*>(&local), sizeof local);
        socklen_t length = sizeof local;
        getsockname(m_fd.Get(), reinterpret_cast<sockaddr*>(&local), &length);
        m_port = ntohs(local.sin_port);
        m_thread = std::thread([this] {
            std::vector<std::uint8_t> datagram(2048);
            while (!m_stop.load())
            {
                pollfd pfd{m_fd.Get(), POLLIN, 0};
                if (poll(&pfd, 1, 20) <= 0)
                    continue;
                const auto got = recv(m_fd.Get(), datagram.data(), datagram.size(), 0);
                if (got <= 0)
                    continue;
                std::lock_guard lock(m_lock);
                m_bytes.insert(m_bytes.end(), datagram.begin(), datagram.begin() + got);
            }
        });
    }
    ~Receiver()
    {
        m_stop.store(true);
        m_thread.join();
    }
    std::uint16_t Port() const { return m_port; }
    std::size_t Size()
    {
        std::lock_guard lock(m_lock);
        return m_bytes.size();
    }
    std::vector<std::uint8_t> Bytes()
    {
        std::lock_guard lock(m_lock);
        return m_bytes;
    }

private:
    CUniqueFd m_fd;
    std::uint16_t m_port = 0;
    std::atomic<bool> m_stop{false};
    std::mutex m_lock;
    std::vector<std::uint8_t> m_bytes;
    std::thread m_thread;
};

//! The 188-byte packets of @p bytes that are not null packets.
std::vector<std::uint8_t> WithoutNullPackets(const std::vector<std::uint8_t>& bytes)
{
    std::vector<std::uint8_t> out;
    for (std::size_t at = 0; at + 188 <= bytes.size(); at += 188)
        if (((bytes[at + 1] & 0x1F) << 8 | bytes[at + 2]) != 0x1FFF)
            out.insert(out.end(), bytes.begin() + static_cast<long>(at), bytes.begin() + static_cast<long>(at) + 188);
    return out;
}

//! @p count 188-byte packets of one PID without PCR, then @p extra bytes.
QByteArray PlainPackets(qint64 count, int extra = 0)
{
    QByteArray data;
    data.reserve(static_cast<qsizetype>(count * 188 + extra));
    for (qint64 i = 0; i < count; ++i)
    {
        QByteArray packet(188, static_cast<char>(0xFF));
        packet[0] = 0x47;
        packet[1] = 0x01;
        packet[2] = 0x00;
        packet[3] = static_cast<char>(0x10 | (i & 0x0F));
        data += packet;
    }
    data += QByteArray(extra, '\0');
    return data;
}

QString WriteFile(const QTemporaryDir& dir, const QString& name, const QByteArray& data)
{
    const QString path = dir.filePath(name);
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    file.write(data);
    return path;
}

QString Generate(const QTemporaryDir& dir, const QString& name, std::uint64_t bitRate, double seconds,
                 std::vector<std::uint8_t>* bytes = nullptr)
{
    CTsGeneratorConfig config;
    config.bitRate = bitRate;
    config.durationSeconds = seconds;
    CTsGenerator generator(config);
    const auto stream = generator.GenerateToMemory();
    if (bytes != nullptr)
        *bytes = stream;
    return WriteFile(dir, name,
                     QByteArray(reinterpret_cast<const char*>(stream.data()), static_cast<qsizetype>(stream.size())));
}

QStringList FileLines(const CPlayToNetworkDlg& dlg)
{
    QStringList lines;
    const QTreeWidgetItem* root = dlg.FileInfoTree()->topLevelItem(0);
    if (root == nullptr)
        return lines;
    lines << root->text(0);
    for (int i = 0; i < root->childCount(); ++i)
        lines << root->child(i)->text(0);
    return lines;
}

void ClearPlaySettings()
{
    QSettings settings;
    settings.remove("Play");
}

//! Answers the next modal dialog: OK (true) or close (false).
void AnswerNextDialog(bool ok)
{
    QTimer::singleShot(0, [ok] {
        auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if (dialog == nullptr)
            return AnswerNextDialog(ok);
        if (ok)
            dialog->accept();
        else
            dialog->reject();
    });
}

//! Shows the Play tab of @p window, which starts its timers.
void SelectPlayTab(PlayWindow& window)
{
    window.TabCtrl()->TabBar()->setCurrentIndex(1);
}
} // namespace

class CPlayToNetworkDlgTest : public QObject
{
    Q_OBJECT

private slots:
    void init() { ClearPlaySettings(); }

    void firstStartDefaultsAndControlIds()
    {
        CFakeUiServices ui;
        PlayWindow window;
        QVERIFY(window.OnInitDialog());
        CPlayToNetworkDlg& dlg = *window.m_play;
        QCOMPARE(window.TabCtrl()->TabBar()->tabText(1), QString("Play"));
        QCOMPARE(dlg.property("controlId").toInt(), 131);
        QCOMPARE(dlg.PortEdit()->text(), QString("1234"));
        QCOMPARE(dlg.ModeCombo()->currentText(), QString("RTP"));
        QCOMPARE(dlg.ModeCombo()->itemText(0), QString("UDP"));
        QCOMPARE(dlg.IpAddress()->GetAddress(), 0u);
        QCOMPARE(dlg.IpAddress()->Field(0)->text(), QString("0"));
        QVERIFY(!dlg.PcrCheck()->isChecked() && !dlg.TotTdtCheck()->isChecked() && !dlg.ContinuityCheck()->isChecked());
        QVERIFY(!dlg.LoopFlag() && !dlg.LoopButton()->IsPressed());
        QCOMPARE(dlg.TtlSpin()->value(), 16);
        QCOMPARE(dlg.InterfaceCombo()->currentData().toUInt(), 0u);
        QVERIFY(dlg.StopButton()->IsPressed() && !dlg.PlayButton()->IsPressed());
        QCOMPARE(dlg.StatusLabel()->GetText(), QString("No errors detected"));
        QCOMPARE(dlg.ElapsedTimeLabel()->GetText(), QString("0:00:00"));
        QCOMPARE(dlg.ElapsedTimeLabel()->GetTextColor(), QColor(0, 0, 255));
        QCOMPARE(dlg.PositionSlider()->maximum(), 1000);
        // Every control of the template carries its id.
        const std::pair<QWidget*, int> ids[] = {
            {dlg.OpenButton(), 1006},   {dlg.FileInfoTree(), 1008},     {dlg.ProgramInfoTree(), 1013},
            {dlg.PidInfoTree(), 1012},  {dlg.IpAddress(), 1003},        {dlg.PortEdit(), 1004},
            {dlg.ModeCombo(), 1002},    {dlg.BrowseButton(), 1001},     {dlg.PcrCheck(), 1183},
            {dlg.TotTdtCheck(), 1185},  {dlg.ContinuityCheck(), 1188},  {dlg.AdaptAllButton(), 1029},
            {dlg.PlayButton(), 1011},   {dlg.PauseButton(), 1024},      {dlg.StopButton(), 1019},
            {dlg.LoopButton(), 1014},   {dlg.StatusLabel(), 1128},      {dlg.LoopCountLabel(), 1021},
            {dlg.TsTimeLabel(), 1022},  {dlg.ElapsedTimeLabel(), 1020}, {dlg.PositionSlider(), 1191},
            {dlg.FileNameLabel(), 1007}};
        for (const auto& [widget, id] : ids)
            QCOMPARE(widget->property("controlId").toInt(), id);
    }

    void settingsRoundTripAndPortRange()
    {
        CFakeUiServices ui;
        {
            CPlayToNetworkDlg dlg(nullptr, nullptr, nullptr, nullptr);
            dlg.OnInitDialog();
            dlg.PortEdit()->setText("5004");
            dlg.IpAddress()->SetAddress(0xEF010203u); // 239.1.2.3
            dlg.ModeCombo()->setCurrentIndex(0);
            dlg.PcrCheck()->setChecked(true);
            dlg.ContinuityCheck()->setChecked(true);
            dlg.TtlSpin()->setValue(5);
            AnswerNextDialog(true);
            dlg.TotTdtCheck()->click(); // the dialog with type 0 and offset 0
            QCOMPARE(dlg.TimeType(), 0);
            dlg.SetFilePath("/nowhere/file.ts");
            dlg.SaveSettings();
        }
        QCOMPARE(CSettings::GetProfileInt("Play", "NetworkAddrs", 0), static_cast<int>(0xEF010203u));
        // A time offset of minus one hour, stored by hand, comes back as -3600.
        CSettings::WriteProfileInt("Play", "TotTdtOffset", -3600);
        CSettings::WriteProfileInt("Play", "TotTdtTimeType", 2);
        {
            CPlayToNetworkDlg dlg(nullptr, nullptr, nullptr, nullptr);
            dlg.OnInitDialog();
            QCOMPARE(dlg.PortEdit()->text(), QString("5004"));
            QCOMPARE(dlg.IpAddress()->GetAddress(), 0xEF010203u);
            QCOMPARE(dlg.IpAddress()->Field(0)->text(), QString("239"));
            QCOMPARE(dlg.ModeCombo()->currentIndex(), 0);
            QVERIFY(dlg.PcrCheck()->isChecked() && dlg.ContinuityCheck()->isChecked() &&
                    dlg.TotTdtCheck()->isChecked());
            QCOMPARE(dlg.TtlSpin()->value(), 5);
            QCOMPARE(dlg.FilePath(), QString("/nowhere/file.ts"));
            QCOMPARE(dlg.TimeOffset(), -3600);
            QCOMPARE(dlg.TimeType(), 2);
            dlg.SaveSettings();
            QCOMPARE(CSettings::GetProfileInt("Play", "TotTdtOffset", 0), -3600);

            // Out of range: the range message, and the members after the port are not read.
            dlg.PortEdit()->setText("65536");
            dlg.ModeCombo()->setCurrentIndex(1);
            QVERIFY(!dlg.UpdateData(true));
            QCOMPARE(ui.m_messages.size(), std::size_t{1});
            QCOMPARE(ui.m_messages[0].text, QString("Please enter an integer between 0 and 65535."));
            dlg.UpdateData(false);
            QCOMPARE(dlg.PortEdit()->text(), QString("5004"));
            QCOMPARE(dlg.ModeCombo()->currentIndex(), 0);
        }
    }

    void fileAnalysisOfTheExampleFiles()
    {
        CFakeUiServices ui;
        QTemporaryDir dir;
        CPlayToNetworkDlg dlg(nullptr, nullptr, nullptr, nullptr);
        dlg.OnInitDialog();

        ui.m_fileName = WriteFile(dir, "empty.ts", QByteArray());
        dlg.OnOpen();
        QCOMPARE(FileLines(dlg), (QStringList{"empty.ts", "No data in file"}));
        QCOMPARE(dlg.FileNameLabel()->GetText(), QString("empty.ts"));

        // 500,000 bytes with loop on: the message, loop off, Loop disabled.
        ui.m_fileName = WriteFile(dir, "small.ts", PlainPackets(2'659, 500'000 - 2'659 * 188));
        dlg.LoopButton()->setEnabled(true);
        QTest::mouseClick(dlg.LoopButton(), Qt::LeftButton);
        QVERIFY(dlg.LoopFlag());
        dlg.OnOpen();
        QCOMPARE(ui.m_messages.size(), std::size_t{1});
        QCOMPARE(ui.m_messages[0].text, QString("File looping not allowed at files smaller the 1MB"));
        QVERIFY(!dlg.LoopFlag() && !dlg.LoopButton()->IsPressed() && !dlg.LoopButton()->isEnabled());
        QVERIFY(!dlg.Engine().GetLoop());

        ui.m_fileName = WriteFile(dir, "mib.ts", PlainPackets(5'577, 1'048'576 - 5'577 * 188));
        dlg.OnOpen();
        QVERIFY(dlg.LoopButton()->isEnabled());
        QCOMPARE(ui.m_messages.size(), std::size_t{1});

        // 5 MiB without PCR: the default rate by size, grouped with a full stop.
        ui.m_fileName = WriteFile(dir, "nopcr.ts", PlainPackets(27'887, 5 * 1'048'576 - 27'887 * 188));
        dlg.OnOpen();
        QVERIFY(FileLines(dlg).contains("Bit rate:4.000.000 bps"));
        QCOMPARE(dlg.BitRate(), 4'000'000.0);

        ui.m_fileName = WriteFile(dir, "exact.ts", PlainPackets(10'000));
        dlg.OnOpen();
        const QStringList lines = FileLines(dlg);
        for (const char* line :
             {"1.880.000 bytes", "10000 packets", "Packet size: 188", "Before first packet: 0", "After last packet: 0"})
            QVERIFY2(lines.contains(line), line);
        QCOMPARE(dlg.PacketCount(), 10'000);
        QCOMPARE(dlg.Engine().GetPacketSize(), 188u);
        QVERIFY(dlg.FileInfoTree()->topLevelItem(0)->isExpanded());

        // A file that is gone: the error tree, the results as they were.
        dlg.SetFilePath(dir.filePath("gone.ts"));
        dlg.AnalyseFile();
        QCOMPARE(FileLines(dlg), (QStringList{"Error reading file", "Invalid file"}));
        QCOMPARE(dlg.PacketCount(), 10'000);

        // Cancelling the file dialog keeps the file.
        ui.m_fileName.clear();
        dlg.OnOpen();
        QCOMPARE(dlg.FilePath(), dir.filePath("gone.ts"));
    }

    void playsOverLoopbackToTheEnd()
    {
        CFakeUiServices ui;
        QTemporaryDir dir;
        std::vector<std::uint8_t> stream;
        const QString path = Generate(dir, "play.ts", 20'000'000, 1.5, &stream);
        Receiver receiver;
        PlayWindow window;
        window.OnInitDialog();
        CPlayToNetworkDlg& dlg = *window.m_play;
        dlg.ModeCombo()->setCurrentIndex(0);
        dlg.IpAddress()->SetAddress(0x7F000001u);
        dlg.PortEdit()->setText(QString::number(receiver.Port()));
        ui.m_fileName = path;
        dlg.OnOpen();
        SelectPlayTab(window);
        QVERIFY(dlg.StatusTimer().isActive() && dlg.TreeTimer().isActive());
        QVERIFY(dlg.ProgramInfoTree()->topLevelItemCount() > 0);

        dlg.PlayButton()->click();
        QCOMPARE(dlg.PlayState(), CPlayToNetworkDlg::kPlayStatePlaying);
        QVERIFY(dlg.PlayButton()->IsPressed() && !dlg.StopButton()->IsPressed());
        QVERIFY(!dlg.PortEdit()->isEnabled() && !dlg.OpenButton()->isEnabled());
        QVERIFY(!window.TabCtrl()->IsTabEnabled(0));
        QVERIFY(WaitFor([&] { return dlg.PlayState() == CPlayToNetworkDlg::kPlayStateStopped; }, 20'000));
        QCOMPARE(dlg.PositionSlider()->value(), 0);
        QVERIFY(window.TabCtrl()->IsTabEnabled(0));
        QVERIFY(dlg.PortEdit()->isEnabled());
        QVERIFY(WaitFor([&] { return receiver.Size() >= stream.size(); }, 5'000));
        QVERIFY(WithoutNullPackets(receiver.Bytes()) == WithoutNullPackets(stream));
        QVERIFY(ui.m_messages.empty());
    }

    void pauseJumpLoopStopAndStatus()
    {
        CFakeUiServices ui;
        QTemporaryDir dir;
        // About 8 MB: a pass takes 1.6 s at 40 Mbit/s, and the reader's chunks of
        // 1 MiB move the slider in steps of about 130 per mille.
        const QString path = Generate(dir, "loop.ts", 40'000'000, 1.6);
        Receiver receiver;
        PlayWindow window;
        window.OnInitDialog();
        CPlayToNetworkDlg& dlg = *window.m_play;
        dlg.ModeCombo()->setCurrentIndex(1);
        dlg.IpAddress()->SetAddress(0x7F000001u);
        dlg.PortEdit()->setText(QString::number(receiver.Port()));
        ui.m_fileName = path;
        dlg.OnOpen();
        QVERIFY(dlg.LoopButton()->isEnabled());
        QTest::mouseClick(dlg.LoopButton(), Qt::LeftButton);
        QVERIFY(dlg.LoopFlag());
        SelectPlayTab(window);

        std::vector<int> positions;
        connect(dlg.PositionSlider(), &QSlider::valueChanged, this, [&](int value) { positions.push_back(value); });
        dlg.PlayButton()->click();
        QCOMPARE(dlg.PlayState(), CPlayToNetworkDlg::kPlayStatePlaying);
        // Looping: the slider goes from the last quarter back into the first, and
        // the count rises (the reader runs up to the FIFO's 30 MiB ahead of the wire).
        auto looped = [&] {
            for (std::size_t i = 1; i < positions.size(); ++i)
                if (positions[i - 1] > 750 && positions[i] < 250)
                    return true;
            return false;
        };
        QVERIFY(WaitFor(looped, 20'000));
        const int count = dlg.LoopCountLabel()->GetText().toInt();
        QVERIFY(count >= 1);
        QVERIFY(WaitFor([&] { return dlg.LoopCountLabel()->GetText().toInt() > count; }));

        // Status texts, each shown until the flags change; underflow wins over busy.
        const std::pair<int, const char*> statuses[] = {
            {3, "Network FIFO Underflow"}, {1, "Network busy"}, {4, "Network timer"}, {0, "No errors detected"}};
        for (const auto& [flags, text] : statuses)
        {
            dlg.SetStatusFlagsOverride(flags);
            QVERIFY(WaitFor([&, text = text] { return dlg.StatusLabel()->GetText() == text; }));
            QCOMPARE(dlg.StatusLabel()->BackgroundColor(), flags != 0 ? QColor(255, 0, 0) : QColor(0, 255, 0));
        }
        const int redraws = dlg.StatusLabel()->RedrawCount();
        QTest::qWait(300);
        QCOMPARE(dlg.StatusLabel()->RedrawCount(), redraws);
        dlg.SetStatusFlagsOverride(-1);

        // Pause: nothing more arrives, position and elapsed time hold; a second click resumes.
        QTest::mouseClick(dlg.PauseButton(), Qt::LeftButton);
        QVERIFY(dlg.Engine().IsPaused());
        QTest::qWait(150);
        const std::size_t heldBytes = receiver.Size();
        const int heldPosition = dlg.PositionSlider()->value();
        const QString heldElapsed = dlg.ElapsedTimeLabel()->GetText();
        QTest::qWait(1'200);
        QCOMPARE(receiver.Size(), heldBytes);
        QCOMPARE(dlg.PositionSlider()->value(), heldPosition);
        QCOMPARE(dlg.ElapsedTimeLabel()->GetText(), heldElapsed);
        QTest::mouseClick(dlg.PauseButton(), Qt::LeftButton);
        QVERIFY(!dlg.Engine().IsPaused());
        QVERIFY(WaitFor([&] { return receiver.Size() > heldBytes; }));

        // A jump by releasing the slider.
        dlg.PositionSlider()->setValue(600);
        QTest::mousePress(dlg.PositionSlider(), Qt::LeftButton, {}, QPoint(2, 2));
        QVERIFY(dlg.PositionSlider()->IsDragging());
        dlg.PositionSlider()->setValue(600);
        QTest::mouseRelease(dlg.PositionSlider(), Qt::LeftButton, {}, QPoint(2, 2));
        const int released = dlg.PositionSlider()->value();
        QCOMPARE(dlg.Engine().GetPosition(), static_cast<std::uint32_t>(released));

        // Stop from a pause stops.
        QTest::mouseClick(dlg.PauseButton(), Qt::LeftButton);
        QVERIFY(dlg.Engine().IsPaused());
        dlg.StopButton()->click();
        QCOMPARE(dlg.PlayState(), CPlayToNetworkDlg::kPlayStateStopped);
        QVERIFY(!dlg.Engine().IsRunning() && !dlg.Engine().IsPaused() && !dlg.PauseButton()->IsPressed());
        QCOMPARE(dlg.PositionSlider()->value(), 0);
        QVERIFY(window.TabCtrl()->IsTabEnabled(0));
        QVERIFY(WaitFor([&] { return dlg.LoopCountLabel()->GetText() == "0"; }));
        QVERIFY(ui.m_messages.empty());
    }

    void tsTimeWhileStopped()
    {
        CFakeUiServices ui;
        QTemporaryDir dir;
        ui.m_fileName = Generate(dir, "ts.ts", 10'000'000, 4.0);
        CNetworkSender sender;
        CPlayToNetworkDlg withSender(&sender, nullptr, nullptr, nullptr);
        withSender.OnInitDialog();
        withSender.OnOpen();
        withSender.PositionSlider()->setValue(500);
        withSender.OnStatusTimer();
        const std::int64_t t = withSender.PacketCount() * 188 * 8000 / static_cast<std::int64_t>(withSender.BitRate());
        QCOMPARE(withSender.FilePlayTimeMs(), t);
        const auto seconds = static_cast<int>(0.5 * static_cast<double>(t) / 1000.0);
        QCOMPARE(withSender.TsTimeLabel()->GetText(), QString::asprintf("%d:%02d:%02d", 0, 0, seconds));
    }

    void totTdtDialogOffsets()
    {
        const std::int64_t opening = 1'750'000'000;
        CTotTdtDlg dlg(0, 0, nullptr, [opening] { return opening; });
        dlg.SetFileTime(1'704'110'400);
        dlg.show();
        QCOMPARE(dlg.windowTitle(), QString("TOT / TDT Adaptation"));
        QVERIFY(dlg.TypeButton(0)->isChecked());
        QVERIFY(!dlg.DatePicker()->isEnabled() && !dlg.TimePicker()->isEnabled());
        const QDateTime fileTime = QDateTime::fromSecsSinceEpoch(1'704'110'400).toLocalTime();
        QCOMPARE(dlg.DatePicker()->date(), fileTime.date());
        QCOMPARE(dlg.TimePicker()->time(), fileTime.time());

        dlg.TypeButton(2)->click();
        QVERIFY(dlg.DatePicker()->isEnabled() && dlg.TimePicker()->isEnabled());
        const QDateTime later = QDateTime::fromSecsSinceEpoch(opening + 3'600).toLocalTime();
        dlg.DatePicker()->setDate(later.date());
        dlg.TimePicker()->setTime(later.time());
        dlg.accept();
        QCOMPARE(dlg.TimeType(), 2);
        QCOMPARE(dlg.TimeOffset(), 3'600);

        // A date before the opening time.
        CTotTdtDlg before(2, 0, nullptr, [opening] { return opening; });
        before.show();
        before.DatePicker()->setDate(QDateTime::fromSecsSinceEpoch(opening).toLocalTime().date().addDays(-1));
        before.accept();
        QCOMPARE(before.TimeOffset(), -86'400);

        // Current time gives offset 0.
        CTotTdtDlg current(2, 500, nullptr, [opening] { return opening; });
        current.show();
        current.TypeButton(1)->click();
        current.accept();
        QCOMPARE(current.TimeType(), 1);
        QCOMPARE(current.TimeOffset(), 0);
    }

    void totTdtBoxAndAdaptAll()
    {
        CFakeUiServices ui;
        CPlayToNetworkDlg dlg(nullptr, nullptr, nullptr, nullptr);
        dlg.OnInitDialog();
        // Cancel unticks and keeps the values.
        AnswerNextDialog(false);
        dlg.TotTdtCheck()->click();
        QVERIFY(!dlg.TotTdtCheck()->isChecked());
        QCOMPARE(dlg.Decoder().State().m_totTdtEnable.load(), 0);

        AnswerNextDialog(true);
        dlg.TotTdtCheck()->click();
        QVERIFY(dlg.TotTdtCheck()->isChecked());
        QCOMPARE(dlg.Decoder().State().m_totTdtEnable.load(), 1);
        // Unticking opens nothing.
        dlg.TotTdtCheck()->click();
        QVERIFY(!dlg.TotTdtCheck()->isChecked());
        QCOMPARE(dlg.Decoder().State().m_totTdtEnable.load(), 0);

        AnswerNextDialog(true);
        dlg.AdaptAllButton()->click();
        QVERIFY(dlg.PcrCheck()->isChecked() && dlg.ContinuityCheck()->isChecked() && dlg.TotTdtCheck()->isChecked());
    }
};

ORVANE_GUI_TEST(CPlayToNetworkDlgTest)
#include "CPlayToNetworkDlgTest.moc"
