// The Play tab on the desktop: keyboard shortcuts and tooltips, files dropped
// on the tab, the recent-files list, and the run state the main window shows in
// its status bar and event log.

#include "common/CEventLog.h"
#include "controls/CButtonStyle.h"
#include "controls/CDVBSlider.h"
#include "controls/CIpAddressCtrl.h"
#include "controls/CLabel.h"
#include "controls/CSettings.h"
#include "controls/CShortcuts.h"
#include "controls/IUiServices.h"
#include "play/CPlayToNetworkDlg.h"
#include "ui_CPlayToNetworkDlg.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QUrl>

namespace
{
const QString kRecentKey = QStringLiteral("RecentFiles");
} // namespace

void CPlayToNetworkDlg::InitDesktop()
{
    auto* ui = m_ui.get();
    CShortcuts::Bind(this, ui->openButton, CShortcuts::kOpen,
                     QStringLiteral("Open a transport stream file to play; right-click for recent files"));
    CShortcuts::Bind(this, ui->playButton, CShortcuts::kPlay, QStringLiteral("Play the file to the network"));
    CShortcuts::Bind(this, ui->pauseButton, CShortcuts::kPause, QStringLiteral("Pause or resume the play"));
    CShortcuts::Bind(this, ui->stopButton, CShortcuts::kStop, QStringLiteral("Stop the play"));
    ui->loopButton->setToolTip(QStringLiteral("Play the file again from the start when it ends"));
    ui->browseButton->setToolTip(QStringLiteral("Choose a device found on the network as the destination"));
    ui->adaptAllButton->setToolTip(QStringLiteral("Switch on every adaptation: PCR, continuity counters and TOT/TDT"));
    ui->ipAddress->setToolTip(
        QStringLiteral("Destination IPv4 address (unicast or multicast); type a colon or a hex letter for IPv6"));
    m_ipv6Edit->setToolTip(QStringLiteral("Destination IPv6 address (unicast or multicast ff00::/8, a link's "
                                          "group as ff02::1%eth0); empty it for IPv4"));
    ui->portEdit->setToolTip(QStringLiteral("Destination UDP port, 1 to 65535"));
    ui->bitRateEdit->setToolTip(
        QStringLiteral("Play rate in bit/s; leave it empty to play at the rate measured from the PCRs"));
    ui->modeCombo->setToolTip(QStringLiteral("Send plain UDP, or RTP with a 12-byte header"));
    ui->ttlSpin->setToolTip(QStringLiteral("Hop limit (TTL) of multicast datagrams"));
    ui->interfaceCombo->setToolTip(QStringLiteral("The interface multicast datagrams leave by"));
    ui->pcrCheck->setToolTip(QStringLiteral("Restamp the PCRs so that a looped or jumped stream stays continuous"));
    ui->totTdtCheck->setToolTip(QStringLiteral("Rewrite the TOT/TDT time of the stream"));
    ui->continuityCheck->setToolTip(QStringLiteral("Restamp the continuity counters across loops and jumps"));
    ui->positionSlider->setToolTip(QStringLiteral("Where the play is in the file; drag to jump"));
    ui->fileNameLabel->setToolTip(QStringLiteral("The file to play; drop a file here to open it"));
    ui->fileInfoTree->setToolTip(QStringLiteral("Size, play time, packets and bit rate of the file"));
    ui->programInfoTree->setToolTip(QStringLiteral("Programs of the stream"));
    ui->pidInfoTree->setToolTip(QStringLiteral("PIDs of the stream"));
    ui->elapsedTimeLabel->setToolTip(QStringLiteral("Time played since Play"));
    ui->tsTimeLabel->setToolTip(QStringLiteral("Stream time at the current position"));
    ui->loopCountLabel->setToolTip(QStringLiteral("Times the file has been played again"));
    if (ui->statusLabel->toolTip().isEmpty())
        ui->statusLabel->setToolTip(QStringLiteral("Network status of the play"));

    setAcceptDrops(true);
    m_recentMenu = new QMenu(QStringLiteral("Open &Recent"), this);
    m_recentMenu->setObjectName(QStringLiteral("recentFilesMenu"));
    connect(m_recentMenu, &QMenu::aboutToShow, this, &CPlayToNetworkDlg::FillRecentMenu);
    ui->openButton->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(ui->openButton, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& at) { m_recentMenu->popup(m_ui->openButton->mapToGlobal(at)); });
    const QString stored = CSettings::GetProfileString(QString::fromLatin1(kSection), kRecentKey, QString());
    m_recentFiles = stored.split(QLatin1Char('\n'), Qt::SkipEmptyParts).mid(0, kMaxRecentFiles);
    FillRecentMenu();
    m_runState.Reset(RunStateText());
    connect(&m_runState, &CRunState::Changed, this, &CPlayToNetworkDlg::RunStateChanged);
}

QString CPlayToNetworkDlg::DroppedFile(const QMimeData* data)
{
    if (data == nullptr)
        return {};
    for (const QUrl& url : data->urls())
        if (url.isLocalFile())
            return url.toLocalFile();
    return {};
}

void CPlayToNetworkDlg::dragEnterEvent(QDragEnterEvent* event)
{
    // A play keeps its file: nothing can be dropped on it.
    if (!IsRunActive() && !DroppedFile(event->mimeData()).isEmpty())
        event->acceptProposedAction();
    else
        event->ignore();
}

void CPlayToNetworkDlg::dropEvent(QDropEvent* event)
{
    const QString path = DroppedFile(event->mimeData());
    if (!path.isEmpty() && OpenFile(path))
        event->acceptProposedAction();
    else
        event->ignore();
}

bool CPlayToNetworkDlg::OpenFile(const QString& path)
{
    if (IsRunActive() || path.isEmpty())
        return false;
    UpdateData(true, true);
    m_filePath = QFileInfo(path).absoluteFilePath();
    m_ui->fileNameLabel->SetText(QFileInfo(m_filePath).fileName());
    AnalyseFile();
    AddRecentFile(m_filePath);
    UpdateData(false);
    return true;
}

void CPlayToNetworkDlg::AddRecentFile(const QString& path)
{
    if (path.isEmpty() || path.contains(QLatin1Char('\n')))
        return;
    m_recentFiles.removeAll(path);
    m_recentFiles.prepend(path);
    while (m_recentFiles.size() > kMaxRecentFiles)
        m_recentFiles.removeLast();
    CSettings::WriteProfileString(QString::fromLatin1(kSection), kRecentKey, m_recentFiles.join(QLatin1Char('\n')));
    FillRecentMenu();
}

void CPlayToNetworkDlg::FillRecentMenu()
{
    m_recentMenu->clear();
    const bool canOpen = !IsRunActive();
    int number = 1;
    for (const QString& path : m_recentFiles)
    {
        // "&1 name.ts": a digit key picks the entry; the full path is the tip.
        QAction* action = m_recentMenu->addAction(QStringLiteral("&%1 %2").arg(number++).arg(
            QFileInfo(path).fileName().replace(QLatin1Char('&'), QStringLiteral("&&"))));
        action->setToolTip(path);
        action->setStatusTip(path);
        action->setEnabled(canOpen);
        connect(action, &QAction::triggered, this, [this, path] { OpenFile(path); });
    }
    if (m_recentFiles.isEmpty())
        m_recentMenu->addAction(QStringLiteral("No recent files"))->setEnabled(false);
}

QString CPlayToNetworkDlg::RunStateText() const
{
    if (m_controller->GetState() == CPlayController::PlayState::Playing)
        return m_controller->IsPaused() ? QStringLiteral("Paused") : QStringLiteral("Playing");
    return m_playedOut ? QStringLiteral("Finished") : QStringLiteral("Stopped");
}

void CPlayToNetworkDlg::ReportRunState()
{
    m_runState.Report(RunStateText());
}

void CPlayToNetworkDlg::LogError(const QString& text)
{
    if (m_eventLog != nullptr)
        m_eventLog->Add(CEventLog::Kind::Error, "Play: " + text.simplified().toStdString());
}

void CPlayToNetworkDlg::ShowWarning(const QString& text)
{
    UiServices().ShowMessage(this, QStringLiteral("Orvane"), text, IUiServices::Icon::kWarning);
}

void CPlayToNetworkDlg::ShowError(const QString& text)
{
    LogError(text);
    ShowWarning(text);
}

bool CPlayToNetworkDlg::RefuseField(QLineEdit* field, const char* message, bool quiet)
{
    if (!quiet)
    {
        ShowWarning(QString::fromLatin1(message));
        field->setFocus();
        field->selectAll();
    }
    return false;
}
