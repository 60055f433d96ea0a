// Pictures of the protection controls for docs/protection.md (RegisterShots):
// the Record tab monitors a stream sent over two loopback paths, each losing
// datagrams of its own and both every 40th, with column FEC; the Play tab
// shows FEC, then the impairment page at the smallest window.

#include "GuiTest.h"

namespace
{
bool TakeShots(COrvaneDlg& main, CFakeUiServices& ui, const std::function<bool(const QString&)>& save)
{
    main.resize(1280, 800);
    auto* r = main.findChild<CRecFromNetworkDlg*>()->Form();
    const std::uint16_t port = FreePort();
    const std::uint16_t second = FreePort();
    SetFields(main.findChild<CRecFromNetworkDlg*>(), QString("portEdit=%1 modeCombo=1 fecCheck=1 secondPathCheck=1 "
                                                             "secondPortEdit=%2")
                                                         .arg(port)
                                                         .arg(second));
    r->networkOpenButton->click();
    r->monitorButton->click();
    SendRtpPaths(
        TestStream(8.0, 4'000'000), port, second, 5, 5,
        [](std::uint64_t n, int path) { return n % 40 == 17 || n % (path == 0 ? 23u : 31u) == 4; },
        [] { QApplication::processEvents(); });
    QTest::qWait(600);
    bool saved = save(QStringLiteral("record-tab-protection"));
    r->monitorButton->click();

    QTemporaryDir dir;
    ui.m_fileName = WriteStream(dir.filePath(QStringLiteral("source.ts")), 4.0, 4'000'000);
    main.TabCtrl()->TabBar()->setCurrentIndex(1);
    auto* play = main.findChild<CPlayToNetworkDlg*>();
    play->OnOpen();
    play->IpAddress()->SetAddress(0xEF010101u);
    SetFields(
        play,
        "portEdit=5000 modeCombo=1 fecModeCombo=2 impairCheck=1 impairLossSpin=1.5 impairBurstSpin=3 impairSeedSpin=7");
    saved &= save(QStringLiteral("play-tab-protection"));
    // The impairment page at the smallest window: it takes no more room than the output fields.
    main.resize(main.minimumSizeHint());
    play->findChild<QTabWidget*>(QStringLiteral("outputTabs"))->setCurrentIndex(1);
    return save(QStringLiteral("play-tab-impair-small")) && saved;
}

const bool kRegistered = RegisterShots("ProtectionShots", TakeShots);
} // namespace
