// Runs one registered GUI test class (first argument) or all of them.
// Settings go to a temporary directory, and discovery requests only to loopback.

// Before any Qt header: the generator has a member named like a Qt keyword.
// clang-format off
#include "analysis/CTsGenerator.h"
// clang-format on

#include "GuiTest.h"
#include "common/CUniqueFd.h"
#include "engine/CFecEncoder.h"
#include "support/RtpPackets.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

std::map<std::string, GuiTestFn>& GuiTests()
{
    static std::map<std::string, GuiTestFn> tests;
    return tests;
}

bool RegisterGuiTest(const char* name, GuiTestFn fn)
{
    GuiTests()[name] = std::move(fn);
    return true;
}

bool WaitFor(const std::function<bool()>& done, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (!done())
    {
        if (timer.elapsed() > timeoutMs)
            return false;
        QTest::qWait(10);
    }
    return true;
}

std::vector<std::uint8_t> TestStream(double seconds, std::uint64_t bitRate)
{
    CTsGeneratorConfig config;
    config.durationSeconds = seconds;
    config.bitRate = bitRate;
    CTsGenerator generator(config);
    return generator.GenerateToMemory();
}

namespace
{
//! Datagrams to 127.0.0.1, a few per millisecond, with a tick about every 50 ms.
struct PacedSender
{
    const std::function<void()>& tick;
    CUniqueFd fd{::socket(AF_INET, SOCK_DGRAM, 0)};
    std::uint64_t sent = 0;
    std::chrono::steady_clock::time_point lastTick = std::chrono::steady_clock::now();

    void Send(std::uint16_t port, std::span<const std::uint8_t> bytes) const
    {
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(port);
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::sendto(fd.Get(), bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    }
    //! After each datagram of the stream.
    void Pace()
    {
        if (++sent % 6 == 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        if (std::chrono::steady_clock::now() - lastTick > std::chrono::milliseconds(50))
        {
            lastTick = std::chrono::steady_clock::now();
            tick();
        }
    }
};
} // namespace

void SendLoopback(const std::vector<std::uint8_t>& data, std::uint16_t port, const std::function<void()>& tick)
{
    PacedSender out{tick};
    for (std::size_t at = 0; at < data.size(); at += 1316, out.Pace())
        out.Send(port, std::span(data).subspan(at, std::min<std::size_t>(1316, data.size() - at)));
}

void SendRtpPaths(const std::vector<std::uint8_t>& data, std::uint16_t port, std::uint16_t secondPort,
                  std::uint32_t fecColumns, std::uint32_t fecRows, const std::function<bool(std::uint64_t, int)>& drop,
                  const std::function<void()>& tick)
{
    PacedSender out{tick};
    CFecEncoder fec;
    fec.Configure({std::max(fecColumns, 1u), std::max(fecRows, 4u), CFecEncoder::Mode::Column, 0});
    const std::uint16_t ports[] = {port, secondPort};
    constexpr std::size_t kPayload = 7 * 188;
    std::vector<std::uint8_t> datagram(tstest::kRtpHeader + kPayload);
    for (std::uint64_t n = 0; n * kPayload + kPayload <= data.size(); ++n, out.Pace())
    {
        const std::vector<std::uint8_t> header = tstest::MakeRtpDatagram(n, 0, 0); // sequence n, no packets
        std::copy(header.begin(), header.end(), datagram.begin());
        std::copy_n(data.begin() + static_cast<std::ptrdiff_t>(n * kPayload), kPayload,
                    datagram.begin() + tstest::kRtpHeader);
        if (fecColumns != 0)
            fec.AddMedia(datagram);
        for (int path = 0; path < (secondPort != 0 ? 2 : 1); ++path)
        {
            if (!drop(n, path))
                out.Send(ports[path], datagram);
            for (const CFecEncoder::Packet& packet :
                 fecColumns != 0 ? fec.Ready() : std::span<const CFecEncoder::Packet>{})
                out.Send(static_cast<std::uint16_t>(ports[path] + 2), packet.datagram);
        }
    }
}

QByteArray ReadAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool WriteAll(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

void SetDiscoverTarget(std::uint16_t port, const QString& targets)
{
    CSettings::WriteProfileString(QStringLiteral("Discovery"), QStringLiteral("Targets"), targets);
    CSettings::WriteProfileInt(QStringLiteral("Discovery"), QStringLiteral("Port"), port);
}

void ShowActive(QWidget& window)
{
    window.show();
    window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&window));
}

QByteArray AsBytes(const std::vector<std::uint8_t>& data, std::size_t from)
{
    return QByteArray(reinterpret_cast<const char*>(data.data() + from), static_cast<qsizetype>(data.size() - from));
}

QString WriteStream(const QString& path, double seconds, std::uint64_t bitRate, std::vector<std::uint8_t>* bytes)
{
    const std::vector<std::uint8_t> stream = TestStream(seconds, bitRate);
    if (bytes != nullptr)
        *bytes = stream;
    WriteAll(path, AsBytes(stream));
    return path;
}

QByteArray WithoutNullPackets(const QByteArray& bytes)
{
    QByteArray out;
    for (qsizetype at = 0; at + 188 <= bytes.size(); at += 188)
        if (((bytes[at + 1] & 0x1F) << 8 | static_cast<std::uint8_t>(bytes[at + 2])) != 0x1FFF)
            out += bytes.mid(at, 188);
    return out;
}

void SetFields(QWidget* root, const QString& fields)
{
    for (const QString& field : fields.split(' ', Qt::SkipEmptyParts))
    {
        QWidget* w = root->findChild<QWidget*>(field.section('=', 0, 0));
        QVERIFY2(w != nullptr, qPrintable(field));
        if (auto* combo = qobject_cast<QComboBox*>(w))
            combo->setCurrentIndex(field.section('=', 1).toInt());
        else // the text, the tick or the number
            w->metaObject()->userProperty().write(w, field.section('=', 1));
    }
}

QStringList LogTexts(const CEventLog& log, CEventLog::Kind kind)
{
    QStringList texts;
    for (const CEventLog::Entry& entry : log.Entries())
        if (entry.kind == kind)
            texts.push_back(QString::fromStdString(entry.text));
    return texts;
}

bool ShowsStatus(const CLabel& label, const QString& text, const QColor& colour, const QString& tip)
{
    const bool shows =
        label.GetText() == text && label.BackgroundColor() == colour && (tip.isNull() || label.toolTip() == tip);
    if (!shows)
        qWarning() << "status" << label.GetText() << label.BackgroundColor().name() << label.toolTip();
    return shows;
}

bool RegisterShots(const char* name, ShotFn take)
{
    return RegisterGuiTest(name, [name, take = std::move(take)](int argc, char** argv) {
        // Run with all the tests (no directory): nothing to take.
        if (argc < 2 || argv[1][0] == '-')
        {
            std::fprintf(stderr, "%s: give the output directory to take the pictures\n", name);
            return 0;
        }
        const QString out = QString::fromLocal8Bit(argv[1]);
        CFakeUiServices ui;
        COrvaneDlg main;
        main.OnInitDialog();
        main.show();
        QTest::qWait(300);
        const bool ok = take(main, ui, [&main, &out](const QString& shot) {
            QTest::qWait(600); // the layouts and the trees settle
            return main.grab().save(out + QLatin1Char('/') + shot + QStringLiteral(".png"));
        });
        std::fprintf(stderr, "%s\n", ok ? "saved" : "cannot save the pictures (or a check failed)");
        return ok ? 0 : 1;
    });
}

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setOrganizationName(CSettings::kOrganization);
    QApplication::setApplicationName(QStringLiteral("orvane-gui-tests"));
    QTemporaryDir settingsDir;
    // The event log file of the main windows goes there too, never to the user's state.
    qputenv("XDG_STATE_HOME", settingsDir.path().toLocal8Bit());
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settingsDir.path());
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settingsDir.path());
    // Never a broadcast from a test: discovery goes to loopback, to a port nobody uses.
    SetDiscoverTarget(9);

    // Whatever a test forgets to answer is answered here: no test ever waits on a modal box.
    CFakeUiServices fallback;

    if (argc >= 2 && argv[1][0] != '-')
    {
        const auto it = GuiTests().find(argv[1]);
        if (it == GuiTests().end())
        {
            std::fprintf(stderr, "no GUI test class \"%s\"\n", argv[1]);
            return 2;
        }
        argv[1] = argv[0];
        return it->second(argc - 1, argv + 1);
    }
    int failures = 0;
    for (const auto& [name, run] : GuiTests())
        failures += run(argc, argv);
    return failures;
}
