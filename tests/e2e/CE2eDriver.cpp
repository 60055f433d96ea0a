#include "CE2eDriver.h"

#include "app/COrvaneDlg.h"
#include "controls/CButtonStyle.h"
#include "controls/CIndicatorPanel.h"
#include "controls/CIpAddressCtrl.h"
#include "controls/CLabel.h"
#include "controls/CUpDownButton.h"
#include "controls/CXTabCtrl.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QTabBar>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <cstdio>
#include <cstdlib>

namespace
{
constexpr int kPollMs = 20;
constexpr int kModalTimeoutMs = 15'000;
constexpr int kAnswerAgainMs = 1'000;
constexpr int kStepTimeoutMs = 10'000;

void Say(const QString& line)
{
    std::fprintf(stdout, "%s\n", qPrintable(line));
    std::fflush(stdout);
}

//! The child of @p parent named @p name, or null (with a note on stderr).
template<class T> T* Find(QWidget* parent, const char* name)
{
    T* child = parent != nullptr ? parent->findChild<T*>(QString::fromLatin1(name)) : nullptr;
    if (child == nullptr)
        std::fprintf(stderr, "e2e: no widget \"%s\"\n", name);
    return child;
}

COrvaneDlg* MainWindow()
{
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (auto* main = qobject_cast<COrvaneDlg*>(widget); main != nullptr && main->isVisible())
            return main;
    return nullptr;
}

QString LabelText(QWidget* label)
{
    auto* clabel = qobject_cast<CLabel*>(label);
    return clabel != nullptr ? clabel->GetText() : QString();
}

bool Pressed(QWidget* button)
{
    auto* styled = qobject_cast<CButtonStyle*>(button);
    return styled != nullptr && styled->IsPressed();
}
} // namespace

bool CE2eDriver::ParseArguments(const QStringList& arguments, Options& options, QString& error)
{
    for (qsizetype i = 0; i < arguments.size(); ++i)
    {
        const QString& name = arguments[i];
        if (name == QLatin1String("--udp") || name == QLatin1String("--rtp"))
        {
            options.rtp = name == QLatin1String("--rtp");
            continue;
        }
        if (i + 1 >= arguments.size())
        {
            error = QStringLiteral("%1 needs a value").arg(name);
            return false;
        }
        const QString value = arguments[++i];
        bool ok = true;
        const QStringList textNames = {"--role", "--stop-file", "--shot-dir", "--shot-suffix"};
        QString* const texts[] = {&options.role, &options.stopFile, &options.shotDir, &options.shotSuffix};
        const QStringList numberNames = {"--port",          "--passes",  "--ring",      "--megabytes",
                                         "--jump-permille", "--seconds", "--timeout-ms"};
        int* const numbers[] = {&options.port,         &options.passes,  &options.ringFiles, &options.megabytes,
                                &options.jumpPermille, &options.seconds, &options.timeoutMs};
        if (textNames.contains(name))
            *texts[textNames.indexOf(name)] = value;
        else if (numberNames.contains(name))
            *numbers[numberNames.indexOf(name)] = value.toInt(&ok);
        else if (name == QLatin1String("--file"))
            options.file = QFileInfo(value).absoluteFilePath();
        else if (name == QLatin1String("--window-size"))
        {
            const QStringList size = value.split(QLatin1Char('x'));
            ok = size.size() == 2;
            if (ok)
                options.windowWidth = size[0].toInt(&ok);
            if (ok)
                options.windowHeight = size[1].toInt(&ok);
        }
        else
        {
            error = QStringLiteral("unknown option %1").arg(name);
            return false;
        }
        if (!ok)
        {
            error = QStringLiteral("%1: \"%2\" is not a number").arg(name, value);
            return false;
        }
    }
    if (options.role != QLatin1String("play") && options.role != QLatin1String("record"))
        error = QStringLiteral("--role must be play or record");
    else if (options.file.isEmpty())
        error = QStringLiteral("--file is required");
    else if (options.port <= 0 || options.port > 65535)
        error = QStringLiteral("--port must be 1..65535");
    else if (options.role == QLatin1String("record") && options.stopFile.isEmpty())
        error = QStringLiteral("--stop-file is required for the record role");
    else if (options.ringFiles < 1 || options.ringFiles > 100 || options.passes < 1 || options.megabytes < 1 ||
             options.seconds < 0)
        error = QStringLiteral("--ring must be 1..100, --passes and --megabytes at least 1");
    return error.isEmpty();
}

bool CE2eDriver::Fail(const QString& what)
{
    m_failed = true;
    std::fprintf(stderr, "e2e %s: FAILED: %s\n", qPrintable(m_options.role), qPrintable(what));
    std::fflush(stderr);
    return false;
}

bool CE2eDriver::WaitFor(const std::function<bool()>& done, int timeoutMs, const QString& what)
{
    QElapsedTimer timer;
    timer.start();
    while (!done())
    {
        if (timer.elapsed() > timeoutMs)
            return Fail(QStringLiteral("timed out after %1 ms waiting for %2").arg(timeoutMs).arg(what));
        QTest::qWait(kPollMs);
    }
    return true;
}

void CE2eDriver::Shot(QWidget* window, const QString& name)
{
    if (m_options.shotDir.isEmpty())
        return;
    QTest::qWait(500); // the layouts and the trees settle
    Save(window, name);
}

void CE2eDriver::Save(QWidget* window, const QString& name)
{
    const QString path = QStringLiteral("%1/%2%3.png").arg(m_options.shotDir, name, m_options.shotSuffix);
    if (!window->grab().save(path))
        Fail(QStringLiteral("cannot write %1").arg(path));
    else
        Say(QStringLiteral("picture %1").arg(path));
}

void CE2eDriver::ShotIndicators(QWidget* window, QWidget* tab)
{
    // The clean loopback stream counts nothing: the picture shows example
    // counts, put into the panel just before the grab (the next refresh
    // shows the real ones again).
    auto* panel = tab->findChild<CIndicatorPanel*>();
    if (panel == nullptr || m_options.shotDir.isEmpty())
        return;
    using Indicator = CTr101290Counters::Indicator;
    CTr101290Counters example;
    example[Indicator::CcError] = 3;
    example[Indicator::PcrRepetitionError] = 12;
    example.active[static_cast<std::size_t>(Indicator::PcrRepetitionError)] = true;
    example[Indicator::CrcError] = 1;
    panel->ShowCounters(example);
    Save(window, QStringLiteral("tr101290-panel"));
}

bool CE2eDriver::Click(QWidget* widget, const char* what)
{
    if (widget == nullptr)
        return Fail(QStringLiteral("%1 not found").arg(QLatin1String(what)));
    if (!widget->isEnabled() || !widget->isVisible())
        return Fail(QStringLiteral("%1 is not clickable (enabled %2, visible %3)")
                        .arg(QLatin1String(what))
                        .arg(widget->isEnabled())
                        .arg(widget->isVisible()));
    QTest::mouseClick(widget, Qt::LeftButton, Qt::NoModifier, widget->rect().center());
    return true;
}

bool CE2eDriver::TypeInto(QWidget* edit, const QString& text, const char* what)
{
    if (edit == nullptr)
        return Fail(QStringLiteral("%1 not found").arg(QLatin1String(what)));
    QTest::mouseClick(edit, Qt::LeftButton, Qt::NoModifier, edit->rect().center());
    QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(edit, Qt::Key_Delete);
    QTest::keyClicks(edit, text);
    auto* line = qobject_cast<QLineEdit*>(edit);
    if (line != nullptr && line->text() != text)
        return Fail(QStringLiteral("%1 shows \"%2\" after typing \"%3\"").arg(QLatin1String(what), line->text(), text));
    return true;
}

bool CE2eDriver::SelectComboText(QWidget* widget, const QString& text)
{
    auto* combo = qobject_cast<QComboBox*>(widget);
    if (combo == nullptr)
        return Fail(QStringLiteral("mode list not found"));
    const int wanted = combo->findText(text);
    if (wanted < 0)
        return Fail(QStringLiteral("the mode list has no \"%1\"").arg(text));
    combo->setFocus();
    // The arrow keys step through a closed drop-down list, as on the keyboard.
    for (int step = 0; step < combo->count() && combo->currentIndex() != wanted; ++step)
        QTest::keyClick(combo, combo->currentIndex() < wanted ? Qt::Key_Down : Qt::Key_Up);
    if (combo->currentIndex() != wanted)
        return Fail(QStringLiteral("the mode list did not move to \"%1\"").arg(text));
    return true;
}

bool CE2eDriver::SelectTab(CXTabCtrl* tabs, const QString& caption)
{
    QTabBar* bar = tabs->TabBar();
    for (int i = 0; i < bar->count(); ++i)
    {
        if (bar->tabText(i) != caption)
            continue;
        if (tabs->GetCurSel() != i)
            QTest::mouseClick(bar, Qt::LeftButton, Qt::NoModifier, bar->tabRect(i).center());
        return WaitFor([tabs, i] { return tabs->GetCurSel() == i && tabs->GetTabWindow(i)->isVisible(); },
                       kStepTimeoutMs, QStringLiteral("the %1 tab").arg(caption));
    }
    return Fail(QStringLiteral("no tab \"%1\"").arg(caption));
}

bool CE2eDriver::WithModal(const std::function<bool(QWidget*)>& handler, const std::function<void()>& open,
                           const QString& what)
{
    bool handled = false;
    bool stuck = false;
    QString stuckWindow;
    QElapsedTimer since;
    since.start();
    QElapsedTimer sinceAnswer;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        QWidget* modal = QApplication::activeModalWidget();
        // A file dialog still listing its folder on a busy machine can miss the first
        // answer and stay open: answer again while it does.
        const bool answerAgain = handled && sinceAnswer.elapsed() > kAnswerAgainMs;
        if ((!handled || answerAgain) && modal != nullptr && modal->isVisible() && since.elapsed() <= kModalTimeoutMs &&
            handler(modal))
        {
            handled = true;
            sinceAnswer.start();
            return;
        }
        if (since.elapsed() > kModalTimeoutMs && modal != nullptr)
        {
            // Never leave the run hanging on a window nobody answers.
            stuck = true;
            stuckWindow = QStringLiteral("%1 \"%2\"").arg(modal->metaObject()->className(), modal->windowTitle());
            if (auto* files = qobject_cast<QFileDialog*>(modal))
                stuckWindow += QStringLiteral(" in %1 with %2")
                                   .arg(files->directory().absolutePath(), files->selectedFiles().join(", "));
            if (auto* dialog = qobject_cast<QDialog*>(modal))
                dialog->reject();
            else
                modal->close();
        }
    });
    poll.start(kPollMs);
    open();
    poll.stop();
    if (stuck)
        return Fail(QStringLiteral("%1 stayed open (%2)").arg(what, stuckWindow));
    if (!handled)
        return Fail(QStringLiteral("%1 did not appear").arg(what));
    return true;
}

bool CE2eDriver::FillFileDialog(QWidget* modal, const QString& path)
{
    auto* dialog = qobject_cast<QFileDialog*>(modal);
    if (dialog == nullptr)
        return false;
    // Selected and accepted as the dialog's own Open/Save does it: keystrokes into
    // Qt's name field navigate on every '/' and its completion keeps the Return.
    // selectFile goes to the folder but leaves the name field alone once that has the
    // focus (which it gets when the dialog shows, sooner or later on a busy machine):
    // the name goes in as a user would put it there, the same way every time.
    auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    if (name == nullptr)
        return false;
    name->setFocus();
    dialog->selectFile(path);
    name->setText(QFileInfo(path).fileName());
    QMetaObject::invokeMethod(dialog, "accept");
    return true;
}

void CE2eDriver::WatchMessageBoxes()
{
    // A message box is a fault here: the run must go through without one.
    auto* watch = new QTimer(qApp);
    QObject::connect(watch, &QTimer::timeout, [this] {
        for (QWidget* widget : QApplication::topLevelWidgets())
        {
            auto* box = qobject_cast<QMessageBox*>(widget);
            if (box == nullptr || !box->isVisible())
                continue;
            Fail(QStringLiteral("message box \"%1\"").arg(box->text()));
            box->accept();
        }
    });
    watch->start(100);
}

void CE2eDriver::Run()
{
    WatchMessageBoxes();
    COrvaneDlg* main = nullptr;
    if (WaitFor(
            [&main] {
                main = MainWindow();
                return main != nullptr;
            },
            kStepTimeoutMs, QStringLiteral("the main window")))
    {
        CXTabCtrl* tabs = Find<CXTabCtrl>(main, "tabCtrl");
        if (m_options.windowWidth > 0)
            main->resize(m_options.windowWidth, m_options.windowHeight);
        if (tabs == nullptr)
            Fail(QStringLiteral("no tab control"));
        else if (m_options.role == QLatin1String("play"))
            RunPlay(main, tabs);
        else
            RunRecord(main, tabs);
    }
    Say(QStringLiteral("%1: %2").arg(m_options.role, m_failed ? QStringLiteral("FAILED") : QStringLiteral("DONE")));
    // As the user ends the program: the window's close box.
    if (main != nullptr)
        main->close();
    else
        QApplication::exit(1);
}

bool CE2eDriver::SetPortAndMode(QWidget* tab)
{
    return TypeInto(Find<QLineEdit>(tab, "portEdit"), QString::number(m_options.port), "port") &&
           SelectComboText(Find<QComboBox>(tab, "modeCombo"),
                           m_options.rtp ? QStringLiteral("RTP") : QStringLiteral("UDP"));
}

bool CE2eDriver::ChooseFile(QWidget* tab, const char* button, const QString& what)
{
    const QString file = m_options.file;
    QWidget* open = Find<QWidget>(tab, button);
    if (!WithModal([file](QWidget* modal) { return FillFileDialog(modal, file); }, [&] { Click(open, button); }, what))
        return false;
    const QString shown = LabelText(Find<QWidget>(tab, "fileNameLabel"));
    return shown == QFileInfo(file).fileName() || Fail(QStringLiteral("the file label shows \"%1\"").arg(shown));
}

bool CE2eDriver::PressLoop(QWidget* tab)
{
    QWidget* loop = Find<QWidget>(tab, "loopButton");
    return (Click(loop, "Loop") && Pressed(loop)) || Fail(QStringLiteral("Loop is not pressed"));
}

bool CE2eDriver::RunPlay(QWidget* main, CXTabCtrl* tabs)
{
    if (!SelectTab(tabs, QStringLiteral("Play")))
        return false;
    QWidget* tab = Find<QWidget>(main, "CPlayToNetworkDlg");
    if (tab == nullptr)
        return Fail(QStringLiteral("no Play tab"));

    // Output: 127.0.0.1, the port, the mode.
    auto* address = Find<CIpAddressCtrl>(tab, "ipAddress");
    if (address == nullptr)
        return Fail(QStringLiteral("no address field"));
    const QStringList loopback = {QStringLiteral("127"), QStringLiteral("0"), QStringLiteral("0"), QStringLiteral("1")};
    for (int i = 0; i < 4; ++i)
        if (!TypeInto(address->Field(i), loopback[i], "address field"))
            return false;
    if (address->GetAddress() != 0x7F000001u)
        return Fail(QStringLiteral("the address field holds %1").arg(address->GetAddress(), 8, 16));
    // Open: the file dialog as the user fills it.
    if (!SetPortAndMode(tab) || !ChooseFile(tab, "openButton", QStringLiteral("the file dialog")))
        return false;
    Shot(main, QStringLiteral("play-tab"));

    // Loop, PCR and continuity restamping; TOT/TDT through its dialog, starting with the current time.
    if (!PressLoop(tab))
        return false;
    for (const char* name : {"pcrCheck", "continuityCheck"})
    {
        auto* check = Find<QCheckBox>(tab, name);
        if (!Click(check, name) || !check->isChecked())
            return Fail(QStringLiteral("%1 is not ticked").arg(QLatin1String(name)));
    }
    auto* totTdt = Find<QCheckBox>(tab, "totTdtCheck");
    const auto answerTotTdt = [this](QWidget* modal) {
        if (modal->objectName() != QLatin1String("CTotTdtDlg"))
            return false;
        Click(Find<QWidget>(modal, "currentTimeRadio"), "Current time");
        Shot(modal, QStringLiteral("tot-tdt-dialog"));
        Click(Find<QWidget>(modal, "okButton"), "OK");
        return true;
    };
    if (!WithModal(
            answerTotTdt, [&] { Click(totTdt, "TOT/TDT"); }, QStringLiteral("the TOT/TDT dialog")))
        return false;
    if (totTdt == nullptr || !totTdt->isChecked())
        return Fail(QStringLiteral("TOT/TDT is not ticked after OK"));

    // Play until the loop count shows the passes, then Stop.
    QWidget* play = Find<QWidget>(tab, "playButton");
    QWidget* stop = Find<QWidget>(tab, "stopButton");
    QWidget* loopCount = Find<QWidget>(tab, "loopCountLabel");
    QWidget* status = Find<QWidget>(tab, "statusLabel");
    if (!Click(play, "Play") ||
        !WaitFor([&] { return Pressed(play) && !Pressed(stop); }, kStepTimeoutMs, QStringLiteral("the play to start")))
        return false;
    if (tabs->IsTabEnabled(0))
        return Fail(QStringLiteral("the Record tab stays selectable while playing"));
    if (!m_options.shotDir.isEmpty())
    {
        QTest::qWait(3'000); // the trees fill from the stream
        Shot(main, QStringLiteral("play-tab-playing"));
    }
    QStringList statuses;
    if (m_options.jumpPermille >= 0 && !DragSlider(tab, play))
        return false;
    const int passes = m_options.passes;
    const bool played = WaitFor(
        [&] {
            const QString text = LabelText(status);
            if (!statuses.contains(text))
                statuses << text;
            return LabelText(loopCount).toInt() >= passes || !Pressed(play);
        },
        m_options.timeoutMs, QStringLiteral("%1 passes").arg(passes));
    Say(QStringLiteral("play: loop count %1, elapsed %2, Ts time %3, status seen: %4")
            .arg(LabelText(loopCount), LabelText(Find<QWidget>(tab, "elapsedTimeLabel")),
                 LabelText(Find<QWidget>(tab, "tsTimeLabel")), statuses.join(QStringLiteral(" | "))));
    if (played && !Pressed(play))
        return Fail(QStringLiteral("the play ended by itself"));
    if (!Click(stop, "Stop") || !WaitFor([&] { return Pressed(stop) && !Pressed(play) && tabs->IsTabEnabled(0); },
                                         kStepTimeoutMs, QStringLiteral("the play to stop")))
        return false;
    return played;
}

bool CE2eDriver::DragSlider(QWidget* tab, QWidget* play)
{
    // In the pass after the first: the position slider's handle dragged with the mouse to the
    // wanted per mille and released there, which makes the play jump.
    auto* slider = Find<QSlider>(tab, "positionSlider");
    QWidget* loopCount = Find<QWidget>(tab, "loopCountLabel");
    if (slider == nullptr || !WaitFor([&] { return LabelText(loopCount).toInt() >= 1 || !Pressed(play); },
                                      m_options.timeoutMs, QStringLiteral("the first pass")))
        return false;
    QStyleOptionSlider option;
    option.initFrom(slider);
    option.orientation = slider->orientation();
    option.minimum = slider->minimum();
    option.maximum = slider->maximum();
    option.sliderPosition = slider->sliderPosition();
    option.sliderValue = slider->value();
    option.tickPosition = slider->tickPosition();
    option.tickInterval = slider->tickInterval();
    option.subControls = QStyle::SC_SliderGroove | QStyle::SC_SliderHandle;
    QStyle* style = slider->style();
    const QRect handle = style->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle, slider);
    const QRect groove = style->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderGroove, slider);
    const int span = groove.width() - handle.width();
    const int from = handle.center().x();
    const int to = groove.x() + handle.width() / 2 +
                   QStyle::sliderPositionFromValue(slider->minimum(), slider->maximum(), m_options.jumpPermille, span);
    const int y = handle.center().y();
    const int before = slider->value();
    QTest::mousePress(slider, Qt::LeftButton, Qt::NoModifier, QPoint(from, y));
    for (int step = 1; step <= 10; ++step)
        QTest::mouseMove(slider, QPoint(from + (to - from) * step / 10, y), 20);
    QTest::mouseRelease(slider, Qt::LeftButton, Qt::NoModifier, QPoint(to, y), 20);
    const int after = slider->value();
    Say(QStringLiteral("play: slider dragged from %1 to %2").arg(before).arg(after));
    if (std::abs(after - m_options.jumpPermille) > 50)
        return Fail(
            QStringLiteral("the slider stands at %1 after the drag to %2").arg(after).arg(m_options.jumpPermille));
    return true;
}

bool CE2eDriver::RunRecord(QWidget* main, CXTabCtrl* tabs)
{
    if (!SelectTab(tabs, QStringLiteral("Record")))
        return false;
    QWidget* tab = Find<QWidget>(main, "CRecFromNetworkDlg");
    if (tab == nullptr)
        return Fail(QStringLiteral("no Record tab"));
    Shot(main, QStringLiteral("main-window"));

    // Network: the port and the mode, then Open.
    if (!SetPortAndMode(tab))
        return false;
    auto* networkOpen = Find<QPushButton>(tab, "networkOpenButton");
    if (!Click(networkOpen, "network Open") || networkOpen->text() != QLatin1String("Close"))
        return Fail(QStringLiteral("the network did not open"));

    // Output file through the save dialog; 1 MiB per file; a ring of N files.
    if (!ChooseFile(tab, "fileOpenButton", QStringLiteral("the save dialog")))
        return false;
    const bool bySeconds = m_options.seconds > 0;
    if (!Click(Find<QWidget>(tab, bySeconds ? "secondsRadio" : "megabytesRadio"), bySeconds ? "Seconds" : "MBytes") ||
        !TypeInto(Find<QLineEdit>(tab, "recordingSizeEdit"),
                  QString::number(bySeconds ? m_options.seconds : m_options.megabytes), "size"))
        return false;
    if (!PressLoop(tab))
        return false;
    auto* upDown = Find<CUpDownButton>(tab, "loopCountUpDown");
    QWidget* ringLabel = Find<QWidget>(tab, "loopCountLabel");
    if (upDown == nullptr)
        return Fail(QStringLiteral("no loop count arrows"));
    for (int step = 0; step < 200 && LabelText(ringLabel).toInt() != m_options.ringFiles; ++step)
        if (!Click(LabelText(ringLabel).toInt() < m_options.ringFiles ? upDown->UpButton() : upDown->DownButton(),
                   "loop count arrow"))
            return false;
    if (LabelText(ringLabel).toInt() != m_options.ringFiles)
        return Fail(QStringLiteral("the loop count shows %1").arg(LabelText(ringLabel)));

    // Record; the harness starts the player once this says READY.
    QWidget* record = Find<QWidget>(tab, "recordButton");
    QWidget* stop = Find<QWidget>(tab, "stopButton");
    if (!Click(record, "Record") ||
        !WaitFor([&] { return Pressed(record) && stop->isEnabled() && !record->isEnabled(); }, kStepTimeoutMs,
                 QStringLiteral("the recording to start")))
        return false;
    Say(QStringLiteral("READY"));

    QStringList statuses;
    QString packetSize;
    QString bitRate;
    QElapsedTimer recording;
    recording.start();
    bool shot = m_options.shotDir.isEmpty();
    const QString stopFile = m_options.stopFile;
    const bool stopped = WaitFor(
        [&] {
            const QString text = LabelText(Find<QWidget>(tab, "statusLabel"));
            if (!statuses.contains(text))
                statuses << text;
            for (auto [name, value] : {std::pair{"packetSizeValue", &packetSize}, std::pair{"bitRateValue", &bitRate}})
                if (LabelText(Find<QWidget>(tab, name)) != QLatin1String("-"))
                    *value = LabelText(Find<QWidget>(tab, name));
            if (!shot && !bitRate.isEmpty() && recording.elapsed() > 4'000)
            {
                shot = true;
                Shot(main, QStringLiteral("record-tab-recording"));
                ShotIndicators(main, tab);
            }
            return QFileInfo::exists(stopFile) || !Pressed(record);
        },
        m_options.timeoutMs, QStringLiteral("the stop file"));
    Say(QStringLiteral("record: packet size %1, bit rate %2 Mb/s, %3, status seen: %4")
            .arg(packetSize, bitRate, LabelText(Find<QWidget>(tab, "megabytesLabel")),
                 statuses.join(QStringLiteral(" | "))));
    if (stopped && !Pressed(record))
        return Fail(QStringLiteral("the recording ended by itself"));
    if (!Click(stop, "Stop") ||
        !WaitFor([&] { return record->isEnabled() && !Pressed(record) && tabs->IsTabEnabled(1); }, kStepTimeoutMs,
                 QStringLiteral("the recording to stop")))
        return false;
    if (packetSize != QLatin1String("188"))
        return Fail(QStringLiteral("the packet size field showed \"%1\", not 188").arg(packetSize));
    return stopped;
}
