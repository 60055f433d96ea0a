// The main window on the desktop: the File, View and Help menus added to the
// form's, the status bar with the run state, the event log and the user guide.

#include "app/CEventLogDlg.h"
#include "app/COrvaneDlg.h"
#include "common/Ipv4Address.h"
#include "controls/CShortcuts.h"
#include "controls/IUiServices.h"
#include "devices/CDiscoverProtocol.h"
#include "play/CPlayToNetworkDlg.h"
#include "record/CRecFromNetworkDlg.h"
#include "ui_COrvaneDlg.h"

#include <QAction>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QMenuBar>
#include <QStandardPaths>
#include <QStatusBar>
#include <QUrl>

#include <algorithm>

void COrvaneDlg::InitDesktop()
{
    m_eventLog.OpenFile(CEventLog::DefaultPath());

    m_fileMenu = new QMenu(QStringLiteral("&File"), this);
    m_fileMenu->setObjectName(QStringLiteral("menuFile"));
    auto* quit = new QAction(QStringLiteral("&Quit"), this);
    connect(quit, &QAction::triggered, this, &QWidget::close);
    m_fileMenu->addAction(quit);
    quit->setObjectName(QStringLiteral("actionQuit"));
    quit->setShortcut(QKeySequence::Quit);
    menuBar()->insertMenu(m_ui->menuDevice->menuAction(), m_fileMenu);

    auto* view = new QMenu(QStringLiteral("&View"), this);
    view->setObjectName(QStringLiteral("menuView"));
    auto* log = new QAction(QStringLiteral("&Event Log..."), this);
    connect(log, &QAction::triggered, this, &COrvaneDlg::OnEventLog);
    view->addAction(log);
    log->setObjectName(QStringLiteral("actionEventLog"));
    log->setShortcut(QKeySequence(QString::fromLatin1(CShortcuts::kEventLog)));
    menuBar()->insertMenu(m_ui->menuHelp->menuAction(), view);

    auto* guide = new QAction(QStringLiteral("&User Guide"), this);
    guide->setObjectName(QStringLiteral("actionUserGuide"));
    guide->setShortcut(QKeySequence(QString::fromLatin1(CShortcuts::kUserGuide)));
    connect(guide, &QAction::triggered, this, &COrvaneDlg::OnUserGuide);
    m_ui->menuHelp->insertAction(m_ui->actionAbout, guide);
    m_ui->menuHelp->insertSeparator(m_ui->actionAbout);
    // Menu shortcuts work while the menus are closed only as the window's actions.
    addActions({quit, log, guide});

    m_runStateLabel = new QLabel(QStringLiteral("Stopped"), this);
    m_runStateLabel->setObjectName(QStringLiteral("runStateLabel"));
    m_runStateLabel->setToolTip(QStringLiteral("What runs now; View -> Event Log keeps the history"));
    statusBar()->addWidget(m_runStateLabel, 1);
    statusBar()->setSizeGripEnabled(false);
}

void COrvaneDlg::ConnectTabs()
{
    if (auto* play = qobject_cast<CPlayToNetworkDlg*>(m_playDlg))
    {
        play->SetEventLog(&m_eventLog);
        connect(play, &CPlayToNetworkDlg::RunStateChanged, this, &COrvaneDlg::OnRunStateChanged);
        QMenu* recent = play->RecentFilesMenu();
        m_fileMenu->insertMenu(m_fileMenu->actions().value(0), recent);
        m_fileMenu->insertSeparator(m_fileMenu->actions().value(1));
    }
    if (auto* record = qobject_cast<CRecFromNetworkDlg*>(m_recordDlg))
    {
        record->SetEventLog(&m_eventLog);
        connect(record, &CRecFromNetworkDlg::RunStateChanged, this, &COrvaneDlg::OnRunStateChanged);
    }
}

void COrvaneDlg::OnRunStateChanged(const QString& text)
{
    m_runStateLabel->setText(text);
    m_eventLog.Add(CEventLog::Kind::Status, text.toStdString());
}

void COrvaneDlg::OnEventLog()
{
    if (m_eventLogDlg == nullptr)
        m_eventLogDlg = new CEventLogDlg(m_eventLog, this);
    m_eventLogDlg->show();
    m_eventLogDlg->raise();
    m_eventLogDlg->activateWindow();
}

QString COrvaneDlg::FindUserGuide()
{
    const QString guide = QString::fromLatin1(kGuidePath);
    // An installed tree first (bin/ beside share/), then the usual data directories.
    const QString beside = QDir(QCoreApplication::applicationDirPath() + QStringLiteral("/../share")).filePath(guide);
    if (QFileInfo::exists(beside))
        return QFileInfo(beside).absoluteFilePath();
    return QStandardPaths::locate(QStandardPaths::GenericDataLocation, guide);
}

void COrvaneDlg::OnUserGuide()
{
    const QString caption = QString::fromLatin1(kCaption);
    const QString path = FindUserGuide();
    if (path.isEmpty())
    {
        const QString dirs = QStandardPaths::standardLocations(QStandardPaths::GenericDataLocation).join(", ");
        UiServices().ShowMessage(this, caption, QString::fromLatin1(kGuideMissing).arg(kGuidePath, dirs),
                                 IUiServices::Icon::kWarning);
        return;
    }
    if (!UiServices().OpenUrl(QUrl::fromLocalFile(path)))
        UiServices().ShowMessage(this, caption, QString::fromLatin1(kGuideNotOpened).arg(path),
                                 IUiServices::Icon::kWarning);
}

void COrvaneDlg::LogDeviceChanges()
{
    std::vector<std::uint32_t> now;
    for (const DeviceRecord& record : m_discover.GetDevices())
    {
        const std::uint32_t address = CDiscoverProtocol::GetAddress(record);
        now.push_back(address);
        if (std::find(m_knownDevices.begin(), m_knownDevices.end(), address) == m_knownDevices.end())
            m_eventLog.Add(CEventLog::Kind::Device, "Found " + FormatIpv4(address) + " (serial number " +
                                                        std::to_string(CDiscoverProtocol::GetSerial(record)) +
                                                        ", model " + CDiscoverProtocol::GetModel(record) +
                                                        ", firmware " + CDiscoverProtocol::FormatFirmware(record) +
                                                        ", MAC " + CDiscoverProtocol::FormatMac(record) + ")");
    }
    for (const std::uint32_t address : m_knownDevices)
        if (std::find(now.begin(), now.end(), address) == now.end())
            m_eventLog.Add(CEventLog::Kind::Device, "Lost " + FormatIpv4(address) + " (no longer answers)");
    m_knownDevices = std::move(now);
}
