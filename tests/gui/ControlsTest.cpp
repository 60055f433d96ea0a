// The shared controls through real key and mouse events: the analysis trees keep
// what the user opened and scrolled, the address field takes what is typed and
// pasted, the icon buttons latch on completed clicks only and work from the
// keyboard, the desktop's questions default to No, and a label shows "&" as it is.

#include "GuiTest.h"
#include "controls/CQtTreeSink.h"
#include "controls/CUiServices.h"

namespace
{
//! A PID tree as the analysis gives it: a summary, then many PIDs with details.
std::vector<CTreeNode> PidTree(int pids)
{
    CTreeNode summary;
    summary.text = "Transport stream";
    summary.expanded = true;
    CTreeNode rate;
    rate.text = "Bit rate: 38.500.000 bps, a line far wider than the narrow tree of a tab";
    summary.children.push_back(rate);
    std::vector<CTreeNode> roots{summary};
    for (int pid = 0; pid < pids; ++pid)
    {
        CTreeNode item;
        item.text = "PID " + std::to_string(256 + pid);
        CTreeNode packets;
        packets.text = "Packets: " + std::to_string(pid);
        item.children.push_back(packets);
        roots.push_back(item);
    }
    return roots;
}

//! How far the ink of @p label reaches across, in pixels (0 for none).
int InkWidth(CLabel& label)
{
    const QImage image = label.grab().toImage();
    const QColor background = label.BackgroundColor();
    int left = image.width();
    int right = -1;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (image.pixelColor(x, y) != background)
            {
                left = std::min(left, x);
                right = std::max(right, x);
            }
    return right < left ? 0 : right - left + 1;
}

//! The four fields' texts as typed, dotted.
QString FieldTexts(const CIpAddressCtrl& ip)
{
    QStringList texts;
    for (int i = 0; i < 4; ++i)
        texts.push_back(ip.Field(i)->text());
    return texts.join('.');
}

//! Types @p keys one by one into whichever widget has the focus at that moment ("\b": Backspace).
void TypeKeys(const QString& keys)
{
    for (const QChar key : keys)
        if (key == '\b')
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backspace);
        else
            QTest::keyClick(QApplication::focusWidget(), key.toLatin1());
}

//! Shows @p widgets side by side in @p host.
void ShowInRow(QWidget& host, std::initializer_list<QWidget*> widgets)
{
    auto* layout = new QHBoxLayout(&host);
    for (QWidget* widget : widgets)
        layout->addWidget(widget);
    ShowActive(host);
}

//! Answers the next modal box by @p act on it, from inside its event loop.
void AnswerNextBox(const std::function<void(QMessageBox*)>& act)
{
    QTimer::singleShot(0, [act] {
        QVERIFY(WaitFor([] { return qobject_cast<QMessageBox*>(QApplication::activeModalWidget()) != nullptr; }));
        act(qobject_cast<QMessageBox*>(QApplication::activeModalWidget()));
    });
}
} // namespace

class ControlsTest : public QObject
{
    Q_OBJECT

private slots:
    // The trees are refreshed twice a second while a stream plays or arrives:
    // what the user opened and where the user scrolled must stay, in both tabs.
    void treeSinksKeepExpandedLinesAndScrollPositionAcrossRefreshes()
    {
        QTreeWidget tree;
        tree.setHeaderHidden(true);
        tree.resize(165, 234);
        CQtTreeSink sink(&tree);
        ShowActive(tree);
        QScrollBar* down = tree.verticalScrollBar();
        QScrollBar* across = tree.horizontalScrollBar();

        sink.ShowTree(PidTree(40));
        QVERIFY(tree.topLevelItem(0)->isExpanded()); // as the analysis asks
        tree.topLevelItem(30)->setExpanded(true);    // as the user clicks
        QTest::qWait(20);
        QVERIFY2(down->maximum() > 0 && across->maximum() > 0, "a long line scrolls instead of being cut off");
        down->setValue(down->maximum() / 2);
        across->setValue(across->maximum());
        const int top = down->value();
        const int left = across->value();

        sink.ShowTree(PidTree(40));
        QVERIFY(tree.topLevelItem(30)->isExpanded() && !tree.topLevelItem(29)->isExpanded());
        QVERIFY(down->value() == top && across->value() == left);

        // A shorter tree: the view goes as far as it can, nothing breaks.
        sink.ShowTree(PidTree(2));
        QVERIFY(tree.topLevelItemCount() == 3 && down->value() <= down->maximum());
        sink.Clear(); // a new recording starts with empty trees
        QCOMPARE(tree.topLevelItemCount(), 0);
    }

    // File and device names go into labels: "R&D" must not lose its "&" to a shortcut mark.
    void labelShowsAnAmpersandAsItIs()
    {
        CLabel label;
        label.resize(200, 24);
        label.SetText("RD");
        const int without = InkWidth(label);
        label.SetText("R&D");
        const int with = InkWidth(label);
        QVERIFY2(without > 0 && with - without >= label.fontMetrics().horizontalAdvance('&') - 2,
                 qPrintable(QString("ink %1 px with the & and %2 px without").arg(with).arg(without)));
    }

    // A mistyped destination sends a stream to the wrong place: what is typed is what is kept.
    void addressFieldKeepsWhatIsTyped()
    {
        CIpAddressCtrl ip;
        ShowActive(ip);
        const auto typeFresh = [&ip](const QString& keys) {
            ip.SetAddress(0);
            ip.Field(0)->setFocus();
            ip.Field(0)->selectAll();
            TypeKeys(keys);
        };
        // A dot right after a third digit does not move a second time; none is needed
        // after three digits; a dot moves on from a field that holds a number.
        const std::pair<const char*, const char*> typed[] = {{"239.100.1.1", "239.100.1.1"},
                                                             {"10.0.0.1", "10.0.0.1"},
                                                             {"239255.1.2", "239.255.1.2"},
                                                             {"1..5", "1.0.5.0"}};
        for (const auto& [keys, shown] : typed)
        {
            typeFresh(keys);
            QCOMPARE(FieldTexts(ip), QString(shown));
        }
        typeFresh("");
        QTest::keyClick(ip.Field(0), Qt::Key_Delete);
        TypeKeys(".3"); // but not from an empty one
        QCOMPARE(FieldTexts(ip), QString("3.0.0.0"));

        // Backspace at the start of a field goes back into the previous one, at its end.
        typeFresh("192.168.1.20");
        QCOMPARE(ip.GetAddress(), 0xC0A80114u);
        TypeKeys("\b\b\b");
        QCOMPARE(QApplication::focusWidget(), ip.Field(2));
        TypeKeys("\b7.9");
        QCOMPARE(FieldTexts(ip), QString("192.168.7.9"));
        // Left and Right cross the dots at the field edges.
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Left);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Left);
        QCOMPARE(QApplication::focusWidget(), ip.Field(2));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Right);
        QCOMPARE(QApplication::focusWidget(), ip.Field(3));
    }

    void addressFieldTakesPastedAddresses()
    {
        CIpAddressCtrl ip;
        ShowActive(ip);
        QClipboard* clipboard = QGuiApplication::clipboard();
        const auto paste = [&ip, clipboard](int field, const QString& text) {
            clipboard->setText(text);
            ip.Field(field)->setFocus();
            ip.Field(field)->selectAll();
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_V, Qt::ControlModifier);
        };
        // A whole address fills all four fields, wherever it is pasted.
        paste(2, QStringLiteral(" 10.20.30.40\n"));
        QCOMPARE(FieldTexts(ip), QString("10.20.30.40"));
        QCOMPARE(QApplication::focusWidget(), ip.Field(3));
        // Part of one fills on from the field it lands in.
        paste(2, QStringLiteral("5.6"));
        QCOMPARE(FieldTexts(ip), QString("10.20.5.6"));
        // What is no address changes nothing.
        for (const char* bad : {"1.2.3.999", "1.2.3.4.5", "a.b", "7.8.9"})
        {
            paste(2, QString::fromLatin1(bad));
            QVERIFY2(FieldTexts(ip) == "10.20.5.6", bad);
        }
        // One number pastes into its field as into any line edit.
        paste(1, QStringLiteral("77"));
        QCOMPARE(FieldTexts(ip), QString("10.77.5.6"));
    }

    // Loop must never look latched while the program has it off.
    void latchingButtonFlipsOnACompletedClickOnly()
    {
        QWidget host;
        auto* loop = new CButtonStyle(&host);
        loop->setText("Loop:");
        loop->SetLatching(true);
        auto* open = new CButtonStyle(&host);
        ShowInRow(host, {loop, open});
        std::vector<bool> heard; // the state the owner sees in each click
        QObject::connect(loop, &QPushButton::clicked, [&] { heard.push_back(loop->IsPressed()); });
        const QPoint inside = loop->rect().center();
        const QPoint outside(-20, -20);

        // Press, drag off, release: no click, and no moment where it looks latched.
        QTest::mousePress(loop, Qt::LeftButton, {}, inside);
        QVERIFY(!loop->IsPressed() && (loop->DrawState() & 2) == 0);
        QTest::mouseMove(loop, outside);
        QTest::mouseRelease(loop, Qt::LeftButton, {}, outside);
        QVERIFY(!loop->IsPressed() && (loop->DrawState() & 2) == 0 && heard.empty());

        // A completed click flips it, before the owner hears of it.
        QTest::mouseClick(loop, Qt::LeftButton, {}, inside);
        QVERIFY(heard == std::vector<bool>{true} && (loop->DrawState() & 2) != 0);
        // Latched, a press dragged off leaves it latched.
        QTest::mousePress(loop, Qt::LeftButton, {}, inside);
        QTest::mouseMove(loop, outside);
        QTest::mouseRelease(loop, Qt::LeftButton, {}, outside);
        QVERIFY(loop->IsPressed() && (loop->DrawState() & 2) != 0 && heard.size() == 1);
        // The owner refuses (a file too small to loop): the look follows the owner.
        QObject::connect(loop, &QPushButton::clicked, [&] { loop->SetPressed(true); });
        QTest::mouseClick(loop, Qt::LeftButton, {}, inside);
        QVERIFY(loop->IsPressed() && (loop->DrawState() & 2) != 0);

        // A plain button looks pressed while held and never stays so.
        QTest::mousePress(open, Qt::LeftButton, {}, open->rect().center());
        QVERIFY((open->DrawState() & 2) != 0);
        QTest::mouseRelease(open, Qt::LeftButton, {}, open->rect().center());
        QVERIFY(!open->IsPressed() && (open->DrawState() & 2) == 0);
    }

    // Space on a tab's button: COrvaneDlgTest (Monitor); the tabs' shortcuts: DesktopTest.
    void iconButtonsShowTheFocusAndTakeEnter()
    {
        QWidget host;
        auto* edit = new QLineEdit(&host);
        auto* pause = new CButtonStyle(&host);
        pause->SetLatching(true);
        ShowInRow(host, {edit, pause});
        edit->setFocus();
        const QImage unfocused = pause->grab().toImage();
        QTest::keyClick(edit, Qt::Key_Tab);
        QVERIFY2(QApplication::focusWidget() == pause && pause->ShowsFocus() && pause->grab().toImage() != unfocused,
                 "the focus is visible");
        QTest::keyClick(pause, Qt::Key_Return);
        QVERIFY(pause->IsPressed());
        QTest::keyClick(pause, Qt::Key_Enter, Qt::KeypadModifier);
        QVERIFY(!pause->IsPressed());
    }

    // Enter or Escape on a question never does the thing that cannot be undone.
    void questionsDefaultToNo()
    {
        CUiServices real;
        IUiServices* previous = SetUiServices(&real);
        AnswerNextBox([](QMessageBox* box) { QTest::keyClick(box, Qt::Key_Return); });
        QVERIFY(!UiServices().AskYesNo(nullptr, "Orvane", "Reset?"));
        AnswerNextBox([](QMessageBox* box) { QTest::keyClick(box, Qt::Key_Escape); });
        QVERIFY(!UiServices().AskYesNo(nullptr, "Orvane", "Reset?"));
        AnswerNextBox([](QMessageBox* box) { QTest::mouseClick(box->button(QMessageBox::Yes), Qt::LeftButton); });
        QVERIFY(UiServices().AskYesNo(nullptr, "Orvane", "Reset?"));
        SetUiServices(previous);
    }
};

ORVANE_GUI_TEST(ControlsTest)
#include "ControlsTest.moc"
