#include "app/COrvaneDlg.h"

#include "app/CAboutDlg.h"
#include "app/CDiscoverDlg.h"
#include "common/Ipv4Address.h"
#include "controls/CSettings.h"
#include "controls/CTabActivateEvent.h"
#include "controls/CXTabCtrl.h"
#include "controls/IUiServices.h"
#include "devices/CDiscoverProtocol.h"
#include "play/CPlayToNetworkDlg.h"
#include "record/CRecFromNetworkDlg.h"
#include "ui_COrvaneDlg.h"

#include <QApplication>
#include <QCloseEvent>
#include <QPainter>
#include <QScreen>
#include <QShortcut>

#include <cstdio>

COrvaneDlg::COrvaneDlg(QWidget* parent)
    : QMainWindow(parent), m_icon(QStringLiteral(":/icons/app.svg")), m_ui(std::make_unique<Ui::COrvaneDlg>())
{
    m_ui->setupUi(this);
    InitDesktop(); // before the window's size is restored: the status bar is part of it
    m_discoverTimer.setObjectName("discoverTimer");
    connect(&m_discoverTimer, &QTimer::timeout, this, &COrvaneDlg::OnDiscoverTimer);
    connect(m_ui->actionDiscoverIpDevices, &QAction::triggered, this, &COrvaneDlg::OnDiscoverDevices);
    connect(m_ui->actionAbout, &QAction::triggered, this, &COrvaneDlg::OnAbout);
    // Escape ends the window as it ends any dialog, through the same question as the close box.
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(escape, &QShortcut::activated, this, &QWidget::close);
    m_ui->centralwidget->installEventFilter(this);
}

COrvaneDlg::~COrvaneDlg()
{
    m_discoverTimer.stop();
    // The tab dialogs go first (Play, then Record), then the tab control, and
    // only then the sender, the picture, the reset and discovery objects.
    delete m_playDlg;
    m_playDlg = nullptr;
    delete m_recordDlg;
    m_recordDlg = nullptr;
    delete m_ui->tabCtrl;
    m_ui->tabCtrl = nullptr;
}

CXTabCtrl* COrvaneDlg::TabCtrl() const
{
    return m_ui->tabCtrl;
}

QWidget* COrvaneDlg::ClientArea() const
{
    return m_ui->centralwidget;
}

bool COrvaneDlg::OnInitDialog()
{
    setWindowIcon(m_icon);
    ApplyDiscoverTargets();
    // A missing banner has shown its message; the window works without it.
    m_picture.LoadFromResource(kBannerResource, "GIF");
    CreateTabDialogs(m_ui->tabCtrl, m_playDlg, m_recordDlg);
    FillTabs();
    ConnectTabs();
    RestoreWindowSize();
    // Last, so that the first request goes out two seconds after the tabs are ready.
    m_discoverTimer.start(kFastDiscoverMs);
    return true;
}

void COrvaneDlg::CreateTabDialogs(CXTabCtrl* tabCtrl, QWidget*& playDlg, QWidget*& recordDlg)
{
    recordDlg = new CRecFromNetworkDlg(tabCtrl);
    auto pickDevice = [this](QWidget* parent) -> std::optional<std::uint32_t> {
        CDiscoverDlg dlg(&m_discover, &m_reset, CDiscoverDlg::Mode::kSelect, parent);
        if (dlg.exec() != QDialog::Accepted)
            return std::nullopt;
        return dlg.GetSelectedAddress();
    };
    auto* play = new CPlayToNetworkDlg(&m_sender, pickDevice, tabCtrl, tabCtrl);
    play->OnInitDialog();
    playDlg = play;
}

void COrvaneDlg::FillTabs()
{
    CXTabCtrl* tabs = m_ui->tabCtrl;
    tabs->DeleteAllTabs();
    int added = 0;
    if (m_recordDlg != nullptr)
    {
        tabs->AddTab(QStringLiteral("Record"), m_recordDlg, 0);
        m_recordDlg->setProperty("tabIndex", 0);
        ++added;
    }
    if (m_playDlg != nullptr)
    {
        tabs->AddTab(QStringLiteral("Play"), m_playDlg, added);
        m_playDlg->setProperty("tabIndex", added);
    }
    tabs->SelectFirstTab();
    // The first tab shown starts its own work as if it had just been selected.
    if (QWidget* first = tabs->GetTabWindow(tabs->GetCurSel()))
    {
        CTabActivateEvent event(true);
        QApplication::sendEvent(first, &event);
    }
}

void COrvaneDlg::ApplyDiscoverTargets()
{
    // Where requests go: the broadcast address unless the profile names
    // addresses (comma-separated), which demos and tests use to stay on loopback.
    const QString text = CSettings::GetProfileString(QStringLiteral("Discovery"), QStringLiteral("Targets"), {});
    std::vector<std::uint32_t> targets;
    for (const QString& part : text.split(',', Qt::SkipEmptyParts))
    {
        std::uint32_t address = 0;
        if (ParseIpv4(part.trimmed().toStdString(), address))
            targets.push_back(address);
        else
            std::fprintf(stderr, "orvane: discovery target \"%s\" is not an IPv4 address; ignored\n",
                         qPrintable(part.trimmed()));
    }
    const int port =
        CSettings::GetProfileInt(QStringLiteral("Discovery"), QStringLiteral("Port"), CDiscoverProtocol::kPort);
    const auto devicePort = port > 0 && port < 65536 ? static_cast<std::uint16_t>(port) : CDiscoverProtocol::kPort;
    m_discover.SetTargets(targets, devicePort);
    // Devices found on that port take their reset request there too.
    m_reset.SetPort(devicePort);
}

void COrvaneDlg::OnDiscoverTimer()
{
    if (m_fastDiscoverCount < 1)
        m_discoverTimer.start(kSlowDiscoverMs);
    else
        --m_fastDiscoverCount;
    LogDeviceChanges();
    m_discover.SendDiscoverPacket();
}

void COrvaneDlg::OnDiscoverDevices()
{
    CDiscoverDlg dlg(&m_discover, &m_reset, CDiscoverDlg::Mode::kManage, this);
    dlg.exec();
}

bool COrvaneDlg::IsRunActive() const
{
    const auto* play = qobject_cast<const CPlayToNetworkDlg*>(m_playDlg);
    const auto* record = qobject_cast<const CRecFromNetworkDlg*>(m_recordDlg);
    return (play != nullptr && play->IsRunActive()) || (record != nullptr && record->IsRunActive());
}

void COrvaneDlg::closeEvent(QCloseEvent* event)
{
    if (IsRunActive() &&
        !UiServices().AskYesNo(this, QString::fromLatin1(kCaption), QString::fromLatin1(kQuitQuestion)))
    {
        event->ignore();
        return;
    }
    SaveWindowSize();
    event->accept();
}

void COrvaneDlg::RestoreWindowSize()
{
    // The layouts give the smallest size; the last size the user left, or the
    // natural one, within the screen.
    const QString section = QString::fromLatin1(kWindowSection);
    QSize size(CSettings::GetProfileInt(section, QStringLiteral("Width"), 0),
               CSettings::GetProfileInt(section, QStringLiteral("Height"), 0));
    if (size.width() <= 0 || size.height() <= 0)
    {
        size = sizeHint();
        if (const QScreen* screen = this->screen())
            size = size.boundedTo(screen->availableSize());
    }
    resize(size.expandedTo(minimumSizeHint()));
    if (CSettings::GetProfileInt(section, QStringLiteral("Maximized"), 0) != 0)
        setWindowState(windowState() | Qt::WindowMaximized);
}

void COrvaneDlg::SaveWindowSize()
{
    const QString section = QString::fromLatin1(kWindowSection);
    const bool maximized = isMaximized();
    // A maximised window keeps the size it returns to.
    const QSize size = maximized ? normalGeometry().size() : this->size();
    CSettings::WriteProfileInt(section, QStringLiteral("Maximized"), maximized ? 1 : 0);
    if (size.isValid() && !size.isEmpty())
    {
        CSettings::WriteProfileInt(section, QStringLiteral("Width"), size.width());
        CSettings::WriteProfileInt(section, QStringLiteral("Height"), size.height());
    }
}

void COrvaneDlg::OnAbout()
{
    CAboutDlg dlg(this);
    dlg.exec();
}

bool COrvaneDlg::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_ui->centralwidget && event->type() == QEvent::Paint)
    {
        PaintBanner(m_ui->centralwidget);
        return true;
    }
    return QMainWindow::eventFilter(watched, event);
}

void COrvaneDlg::PaintBanner(QWidget* client)
{
    QPainter painter(client);
    m_picture.UpdateSizeOnDC(client);
    const int right = client->width();
    const int logoHeight = m_picture.GetHeight();
    // White band over the full width but the last pixel, a grey line along its
    // bottom and up its right edge.
    painter.fillRect(QRect(0, 0, right - 1, logoHeight), Qt::white);
    painter.setPen(QPen(QColor(0x80, 0x80, 0x80), 1));
    painter.drawLine(0, logoHeight, right - 1, logoHeight);
    painter.drawLine(right - 1, logoHeight, right - 1, 0);
    // Centred; negative when the banner is wider than the window, so its middle shows.
    const int x = (right - m_picture.GetWidth()) / 2;
    m_picture.Draw(&painter, x, 0, m_picture.GetWidth(), logoHeight, 0, 0);
}
