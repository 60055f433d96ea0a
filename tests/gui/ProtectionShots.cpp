// Pictures of the protection controls for docs/protection.md (RegisterShots):
// the Record tab monitors a stream sent over two loopback paths, each losing
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
#include <QSpinBox>
#include <QTabBar>
#include <QTabWidget>
#include <QTemporaryDir>

namespace
{
bool TakeShots(COrvaneDlg& main, CFakeUiServices& ui, const std::function<bool(const QString&)>& save)
{
    main.resize(1280, 800);
    auto* r = main.findChild<CRecFromNetworkDlg*>()->Form();
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
    QTest::qWait(600);
    bool saved = save(QStringLiteral("record-tab-protection"));
    r->monitorButton->click();

    QTemporaryDir dir;
    ui.m_fileName = WriteStream(dir.filePath(QStringLiteral("source.ts")), 4.0, 4'000'000);
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
    saved &= save(QStringLiteral("play-tab-protection"));
    // The impairment page at the smallest window: it takes no more room than the output fields.
    main.resize(main.minimumSizeHint());
    play->findChild<QTabWidget*>(QStringLiteral("outputTabs"))->setCurrentIndex(1);
    return save(QStringLiteral("play-tab-impair-small")) && saved;
}

const bool kRegistered = RegisterShots("ProtectionShots", TakeShots);
} // namespace
