// Runs one registered GUI test class (first argument) or all of them.
// Settings go to a temporary directory, and discovery requests only to loopback.

#include "GuiTest.h"
#include "app/CSettings.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QSettings>
#include <QTemporaryDir>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <cstdio>
#include <cstring>

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

LoopbackPeer::LoopbackPeer(std::uint32_t address, std::uint16_t port)
    : m_fd(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0))
{
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(address);
    local.sin_port = htons(port);
    if (bind(m_fd.Get(), reinterpret_cast<const sockaddr*>(&local), sizeof(local)) != 0)
    {
        m_fd.Reset();
        return;
    }
    socklen_t length = sizeof(local);
    getsockname(m_fd.Get(), reinterpret_cast<sockaddr*>(&local), &length);
    m_port = ntohs(local.sin_port);
}

void LoopbackPeer::Announce(std::uint16_t toPort, const DeviceRecord& record) const
{
    const auto message = CDiscoverProtocol::MakeAnnounce(record);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(0x7F000001u);
    to.sin_port = htons(toPort);
    sendto(m_fd.Get(), message.data(), message.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof(to));
}

std::vector<std::uint8_t> LoopbackPeer::Receive(int timeoutMs) const
{
    pollfd pfd{m_fd.Get(), POLLIN, 0};
    if (poll(&pfd, 1, timeoutMs) <= 0)
        return {};
    std::vector<std::uint8_t> buffer(2048);
    const auto got = recv(m_fd.Get(), buffer.data(), buffer.size(), 0);
    buffer.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
    return buffer;
}

DeviceRecord TestRecord(std::uint32_t address, std::uint64_t serial)
{
    return CDiscoverProtocol::MakeRecord({2, 0, 0, 0, 0, 1}, {1, 0, 0, 0}, serial, 2, address, "TEST");
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

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setOrganizationName(CSettings::kOrganization);
    QApplication::setApplicationName(QStringLiteral("orvane-gui-tests"));
    QTemporaryDir settingsDir;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settingsDir.path());
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settingsDir.path());
    // Never a broadcast from a test: discovery goes to loopback, to a port nobody uses.
    CSettings::WriteProfileString(QStringLiteral("Discovery"), QStringLiteral("Targets"), QStringLiteral("127.0.0.1"));
    CSettings::WriteProfileInt(QStringLiteral("Discovery"), QStringLiteral("Port"), 9);

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
