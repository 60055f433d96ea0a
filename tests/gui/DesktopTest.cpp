// The window on the desktop, through real keys, mouse clicks and drops: the
// tabs' shortcuts (only the visible tab's are live), tooltips on every control,
// the status bar's run states and the event log (window and file), files
// dropped on the Play tab and the recent-files list, an M2TS file refused, and F1.

#include "GuiTest.h"
#include "app/CEventLogDlg.h"

namespace
{
void Press(QWidget& window, Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::ControlModifier)
{
    QTest::keyClick(&window, key, modifiers);
}

//! Drags @p mime over @p target and drops it; true when the drag was welcome.
bool Drop(QWidget* target, QMimeData& mime)
{
    QDragEnterEvent enter(QPoint(20, 20), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &enter);
    if (!enter.isAccepted())
        return false;
    QDropEvent drop(QPointF(20, 20), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &drop);
    return drop.isAccepted();
}

//! Every control of @p tab that a user can work or read has a tooltip.
void ExpectToolTips(QWidget* tab)
{
    for (QWidget* w : tab->findChildren<QWidget*>())
    {
        const bool control = qobject_cast<QAbstractButton*>(w) || qobject_cast<QLineEdit*>(w) ||
                             qobject_cast<QComboBox*>(w) || qobject_cast<QAbstractSpinBox*>(w) ||
                             qobject_cast<QAbstractSlider*>(w) || qobject_cast<QTreeWidget*>(w) ||
                             qobject_cast<QProgressBar*>(w) || qobject_cast<CIpAddressCtrl*>(w);
        // The form's controls have names; unnamed parts (scroll bars, the address
        // fields, a spin box's editor) share their control's tip.
        const bool named = !w->objectName().isEmpty() && !w->objectName().startsWith("qt_");
        // Hidden parts (a tab bar's scroll arrows) cannot be worked.
        if (control && named && w->isVisibleTo(tab) && !qobject_cast<CIpAddressCtrl*>(w->parentWidget()))
            QVERIFY2(!w->toolTip().isEmpty(), qPrintable(w->objectName() + " has no tooltip"));
    }
}
} // namespace

class DesktopTest : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        QSettings().remove("Play");
        QSettings().remove("Record");
    }

    void recordKeysRunStatesStatusBarAndEventLog()
    {
        CFakeUiServices ui;
        COrvaneDlg window;
        window.OnInitDialog();
        ShowActive(window);
        auto* record = qobject_cast<CRecFromNetworkDlg*>(window.TabCtrl()->GetTabWindow(0));
        auto* play = qobject_cast<CPlayToNetworkDlg*>(window.TabCtrl()->GetTabWindow(1));
        auto* form = record->Form();
        QCOMPARE(window.RunStateLabel()->text(), QString("Stopped"));
        QCOMPARE(
            QStringList({form->recordButton->toolTip(), form->monitorButton->toolTip(), form->stopButton->toolTip()}),
            QStringList({"Record the incoming stream into the file (Ctrl+R)",
                         "Receive and analyse the stream without writing it (Ctrl+M)",
                         "Stop recording or monitoring (Ctrl+.)"}));
        ExpectToolTips(record);

        // With the network closed Monitor is disabled, and so is its key.
        Press(window, Qt::Key_M);
        QCOMPARE(record->RecordThread()->GetState(), CRecordThread::kStopped);

        form->portEdit->setText(QString::number(FreePort()));
        QTest::mouseClick(form->networkOpenButton, Qt::LeftButton);
        Press(window, Qt::Key_M);
        QCOMPARE(record->RecordThread()->GetState(), CRecordThread::kMonitoring);
        // The hidden Play tab's keys are off.
        Press(window, Qt::Key_P);
        QCOMPARE(play->PlayState(), CPlayController::PlayState::Stopped);
        Press(window, Qt::Key_Period);
        QCOMPARE(record->RecordThread()->GetState(), CRecordThread::kStopped);
        QCOMPARE(window.RunStateLabel()->text(), QString("Stopped"));
        QCOMPARE(LogTexts(window.EventLog(), CEventLog::Kind::Status),
                 QStringList({"Monitoring", "Stopped"})); // the status bar's texts

        // Ctrl+L shows the log with time stamps; the file under XDG_STATE_HOME has the same lines.
        Press(window, Qt::Key_L);
        QVERIFY(window.EventLogDialog()->isVisible());
        const QString shown = window.EventLogDialog()->Text()->toPlainText();
        QVERIFY2(shown.contains(QRegularExpression(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3}  Status    Monitoring)")),
                 qPrintable(shown));
        const QString file = qEnvironmentVariable("XDG_STATE_HOME") + "/orvane/events.log";
        QCOMPARE(QString::fromStdString(window.EventLog().FilePath()), file);
        QVERIFY(window.EventLogDialog()->FileLabel()->text().contains(file));
        QVERIFY(QString::fromUtf8(ReadAll(file)).contains("Status    Stopped"));
        window.EventLogDialog()->hide();

        // A port nobody can open: the error goes to the log as well as to the box.
        QTest::mouseClick(form->networkOpenButton, Qt::LeftButton); // closed
        form->portEdit->setText("0");
        QTest::mouseClick(form->networkOpenButton, Qt::LeftButton);
        QCOMPARE(ui.m_messages.size(), std::size_t{1});
        const CEventLog::Entry last = window.EventLog().Entries().back();
        QVERIFY(last.kind == CEventLog::Kind::Error &&
                QString::fromStdString(last.text) == "Record: " + ui.m_messages[0].text.simplified());
    }

    void playKeysDropsRecentFilesAndRunStates()
    {
        CFakeUiServices ui;
        QTemporaryDir dir;
        const QString first = WriteStream(dir.filePath("first.ts"), 1.0);
        const QString second = WriteStream(dir.filePath("second & more.m2ts"), 1.0);
        LoopbackReceiver receiver;
        COrvaneDlg window;
        window.OnInitDialog();
        ShowActive(window);
        window.TabCtrl()->TabBar()->setCurrentIndex(1);
        auto* play = qobject_cast<CPlayToNetworkDlg*>(window.TabCtrl()->GetTabWindow(1));
        play->ModeCombo()->setCurrentIndex(0);
        play->IpAddress()->SetAddress(0x7F000001u);
        play->PortEdit()->setText(QString::number(receiver.Port()));
        QCOMPARE(play->PlayButton()->toolTip() + " " + play->PauseButton()->toolTip(),
                 QString("Play the file to the network (Ctrl+P) Pause or resume the play (Ctrl+Shift+P)"));
        ExpectToolTips(play);

        // Ctrl+O: the open dialog offers every transport stream extension.
        ui.m_fileName = first;
        Press(window, Qt::Key_O);
        QCOMPARE(play->FilePath(), first);
        QCOMPARE(ui.m_filter, QString("Transport Stream (*.ts *.m2ts *.mts *.trp *.mpg);;All Files (*)"));

        // A dropped file opens; dropped text does not.
        QMimeData text;
        text.setText("not a file");
        QVERIFY(!Drop(play, text));
        QMimeData files;
        files.setUrls({QUrl::fromLocalFile(second)});
        QVERIFY(Drop(play, files) && play->FilePath() == second);
        QCOMPARE(play->FileNameLabel()->GetText(), QString("second & more.m2ts"));
        QCOMPARE(play->RecentFiles(), QStringList({second, first}));

        // The recent files, newest first, in the File menu too; choosing one opens it.
        QMenu* recent = play->RecentFilesMenu();
        QVERIFY(window.FileMenu()->actions().contains(recent->menuAction()));
        emit recent->aboutToShow();
        QVERIFY(recent->actions().size() == 2 && recent->actions()[0]->text() == "&1 second && more.m2ts");
        recent->actions()[1]->trigger();
        QCOMPARE(play->FilePath(), first);
        // Kept in the settings for the next start.
        QCOMPARE(CPlayToNetworkDlg(&window.Sender(), {}, nullptr).RecentFiles(), QStringList({first, second}));

        // Play, pause, resume, stop by key; the status bar and the log follow.
        Press(window, Qt::Key_P);
        QVERIFY(play->PlayState() == CPlayController::PlayState::Playing &&
                window.RunStateLabel()->text() == "Playing");
        QVERIFY(window.IsRunActive()); // quitting asks (COrvaneDlgTest)
        // A play keeps its file: no drop, no recent file.
        QVERIFY(!Drop(play, files));
        emit recent->aboutToShow();
        QVERIFY(!recent->actions()[0]->isEnabled());
        Press(window, Qt::Key_P, Qt::ControlModifier | Qt::ShiftModifier);
        QCOMPARE(window.RunStateLabel()->text(), QString("Paused"));
        Press(window, Qt::Key_P, Qt::ControlModifier | Qt::ShiftModifier);
        Press(window, Qt::Key_Period);
        QVERIFY(play->PlayState() == CPlayController::PlayState::Stopped &&
                window.RunStateLabel()->text() == "Stopped");
        QCOMPARE(LogTexts(window.EventLog(), CEventLog::Kind::Status),
                 QStringList({"Playing", "Paused", "Playing", "Stopped"}));
    }

    void m2tsFileIsRefusedWithItsReason()
    {
        CFakeUiServices ui;
        QTemporaryDir dir;
        QByteArray m2ts;
        for (int i = 0; i < 100; ++i)
        {
            m2ts += QByteArray(4, '\0');
            m2ts += char(0x47);
            m2ts += QByteArray(187, '\x11');
        }
        const QString path = dir.filePath("clip.m2ts");
        QVERIFY(WriteAll(path, m2ts));
        CNetworkSender sender;
        CPlayToNetworkDlg play(&sender, {}, nullptr);
        play.OnInitDialog();
        play.PortEdit()->setText("1234");
        QVERIFY(play.OpenFile(path));
        const QString reason("192-byte M2TS packets (with a 4-byte time code) are not supported");
        QCOMPARE(play.FileInfoTree()->topLevelItem(0)->child(0)->text(0), reason);
        play.OnPlay();
        QCOMPARE(play.PlayState(), CPlayController::PlayState::Stopped);
        QCOMPARE(ui.Texts(), QStringList{reason});
    }

    void f1OpensTheInstalledGuideOrSaysWhy()
    {
        CFakeUiServices ui;
        QTemporaryDir data;
        const QByteArray savedDirs = qgetenv("XDG_DATA_DIRS");
        const QByteArray savedHome = qgetenv("XDG_DATA_HOME");
        qputenv("XDG_DATA_DIRS", data.filePath("share").toLocal8Bit());
        qputenv("XDG_DATA_HOME", data.filePath("home").toLocal8Bit());
        COrvaneDlg window;
        ShowActive(window);
        // Help has its mnemonics and names the key.
        QAction* guide = window.findChild<QAction*>("actionUserGuide");
        QVERIFY(guide->text() == "&User Guide" && guide->shortcut() == QKeySequence(Qt::Key_F1));

        Press(window, Qt::Key_F1, Qt::NoModifier);
        QCOMPARE(ui.m_messages.size(), std::size_t{1});
        QVERIFY2(ui.m_messages[0].text.startsWith(
                     "The user guide is not installed: doc/orvane/guide/index.md was not found in "),
                 qPrintable(ui.m_messages[0].text));

        const QString index = data.filePath("share/doc/orvane/guide/index.md");
        QVERIFY(QDir().mkpath(QFileInfo(index).path()));
        QFile(index).open(QIODevice::WriteOnly);
        Press(window, Qt::Key_F1, Qt::NoModifier);
        QVERIFY(ui.m_urls == QStringList({QUrl::fromLocalFile(index).toString()}) && ui.m_messages.size() == 1);

        ui.m_openUrlResult = false;
        Press(window, Qt::Key_F1, Qt::NoModifier);
        QCOMPARE(ui.Texts().mid(1), QStringList{QString("No program could open the user guide %1. Open it with a text "
                                                        "editor or a Markdown viewer.")
                                                    .arg(index)});
        qputenv("XDG_DATA_DIRS", savedDirs);
        qputenv("XDG_DATA_HOME", savedHome);
    }
};

ORVANE_GUI_TEST(DesktopTest)
#include "DesktopTest.moc"
