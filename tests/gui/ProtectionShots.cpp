// Pictures of the protection controls for docs/protection.md, from the real
// main window (not a ctest entry; look at them after taking them):
//
//   xvfb-run -a -s "-screen 0 1400x900x24" build/default/tests/orvane_gui_tests ProtectionShots docs/screenshots
//
// The Record tab monitors a stream sent over two loopback paths, each losing
// datagrams of its own and both every 40th, with column FEC; the Play tab
// shows FEC, then the impairment page at the smallest window.

#include "GuiTest.h"
#include "app/COrvaneDlg.h"
#include "controls/CButtonStyle.h"
#include "controls/CIpAddressCtrl.h"
#include "controls/CXTabCtrl.h"
#include "play/CPlayToNetworkDlg.h"
#include "record/CRecFromNetworkDlg.h"
#include "ui_CRecFromNetworkDlg.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFile>
#include <QSpinBox>
#include <QTabBar>
#include <QTabWidget>
#include <QTemporaryDir>

#include <cstdio>

namespace
{
int TakeShots(int argc, char** argv)
{
    // Run with all the tests (no directory): nothing to take.
    if (argc < 2 || argv[1][0] == '-')
    {
        std::fprintf(stderr, "ProtectionShots: give the output directory to take the pictures\n");
        return 0;
    }
    const QString out = QString::fromLocal8Bit(argv[1]);
    CFakeUiServices ui;
    COrvaneDlg main;
    main.OnInitDialog();
    main.resize(1280, 800);
    main.show();
    QTest::qWait(300);
    bool saved = true;

    auto* record = main.findChild<CRecFromNetworkDlg*>();
    auto* r = record->Form();
    const std::uint16_t port = FreePort();
    const std::uint16_t second = FreePort();
    r->portEdit->setText(QString::number(port));
    r->modeCombo->setCurrentIndex(1);
    r->fecCheck->setChecked(true);
    r->secondPathCheck->setChecked(true);
    r->secondPortEdit->setText(QString::number(second));
    r->networkOpenButton->click();
    r->monitorButton->click();
    SendRtpPaths(
        TestStream(8.0, 4'000'000), port, second, 5, 5,
        [](std::uint64_t n, int path) { return n % 40 == 17 || n % (path == 0 ? 23u : 31u) == 4; },
        [] { QApplication::processEvents(); });
    QTest::qWait(1'200);
    saved &= main.grab().save(out + QStringLiteral("/record-tab-protection.png"));
    r->monitorButton->click();

    QTemporaryDir dir;
    ui.m_fileName = dir.filePath(QStringLiteral("source.ts"));
    QFile file(ui.m_fileName);
    file.open(QIODevice::WriteOnly);
    file.write(AsBytes(TestStream(4.0, 4'000'000)));
    file.close();
    main.TabCtrl()->TabBar()->setCurrentIndex(1);
    auto* play = main.findChild<CPlayToNetworkDlg*>();
    play->OnOpen();
    play->IpAddress()->SetAddress(0xEF010101u);
    play->PortEdit()->setText(QStringLiteral("5000"));
    play->ModeCombo()->setCurrentIndex(1);
    play->findChild<QComboBox*>(QStringLiteral("fecModeCombo"))->setCurrentIndex(2);
    play->findChild<QCheckBox*>(QStringLiteral("impairCheck"))->setChecked(true);
    play->findChild<QDoubleSpinBox*>(QStringLiteral("impairLossSpin"))->setValue(1.5);
    play->findChild<QSpinBox*>(QStringLiteral("impairBurstSpin"))->setValue(3);
    play->findChild<QSpinBox*>(QStringLiteral("impairSeedSpin"))->setValue(7);
    QTest::qWait(600);
    saved &= main.grab().save(out + QStringLiteral("/play-tab-protection.png"));
    // The impairment page at the smallest window: it takes no more room than the output fields.
    main.resize(main.minimumSizeHint());
    play->findChild<QTabWidget*>(QStringLiteral("outputTabs"))->setCurrentIndex(1);
    QTest::qWait(600);
    saved &= main.grab().save(out + QStringLiteral("/play-tab-impair-small.png"));
    std::fprintf(stderr, "%s\n", saved ? "saved" : "cannot save the pictures");
    return saved ? 0 : 1;
}

const bool kRegistered = RegisterGuiTest("ProtectionShots", TakeShots);
} // namespace
