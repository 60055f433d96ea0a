// The icon button, the label, the picture and the position slider.

#include "GuiTest.h"
#include "controls/CButtonStyle.h"
#include "controls/CDVBSlider.h"
#include "controls/CLabel.h"
#include "controls/CPicture.h"
#include "play/CQtTreeSink.h"
#include "record/CRecTreeSink.h"

#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTreeWidget>

namespace
{
//! Counts the paint events a widget receives.
class PaintCounter : public QObject
{
public:
    int m_paints = 0;

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint)
            ++m_paints;
        return false;
    }
};

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

QImage DeviceAt(int dpi)
{
    QImage image(1, 1, QImage::Format_RGB32);
    const int dotsPerMeter = static_cast<int>(dpi / 0.0254 + 0.5);
    image.setDotsPerMeterX(dotsPerMeter);
    image.setDotsPerMeterY(dotsPerMeter);
    return image;
}
} // namespace

class ControlsTest : public QObject
{
    Q_OBJECT

private slots:
    void latchingButtonKeepsItsStateAndCountsADoubleClickTwice()
    {
        CButtonStyle button;
        button.resize(60, 40);
        button.SetLatching(true);
        QSignalSpy clicks(&button, &QPushButton::clicked);
        button.show();
        QVERIFY(QTest::qWaitForWindowExposed(&button));

        QTest::mouseClick(&button, Qt::LeftButton);
        QVERIFY(button.IsPressed()); // stays pressed after the release
        QCOMPARE(clicks.count(), 1);
        QTest::mouseClick(&button, Qt::LeftButton);
        QVERIFY(!button.IsPressed());
        QCOMPARE(clicks.count(), 2);

        // What the window system delivers for a double click: press, release, double click, release.
        const QPointF at(10, 10);
        for (auto type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease, QEvent::MouseButtonDblClick,
                          QEvent::MouseButtonRelease})
        {
            const auto buttons = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton;
            QMouseEvent event(type, at, button.mapToGlobal(at), Qt::LeftButton, buttons, Qt::NoModifier);
            QApplication::sendEvent(&button, &event);
        }
        QCOMPARE(clicks.count(), 4);  // the second click of a double click is a click of its own
        QVERIFY(!button.IsPressed()); // flipped twice
    }

    void plainButtonIsPressedOnlyWhileHeld()
    {
        CButtonStyle button;
        button.resize(60, 40);
        button.show();
        QVERIFY(QTest::qWaitForWindowExposed(&button));
        QTest::mousePress(&button, Qt::LeftButton);
        QVERIFY(button.IsPressed());
        QVERIFY(button.DrawState() >= 2);
        QTest::mouseRelease(&button, Qt::LeftButton);
        QVERIFY(!button.IsPressed());
    }

    void hoverFollowsEnterAndLeave()
    {
        CButtonStyle button;
        button.resize(60, 40);
        button.show();
        QVERIFY(QTest::qWaitForWindowExposed(&button));
        QTest::mouseMove(&button, QPoint(10, 10));
        QVERIFY(button.IsHover());
        QCOMPARE(button.DrawState(), 1);
        QEvent leave(QEvent::Leave);
        QApplication::sendEvent(&button, &leave);
        QVERIFY(!button.IsHover());
        QCOMPARE(button.DrawState(), 0);
    }

    void buttonDrawsItsIconShiftedWhilePressed()
    {
        CButtonStyle button;
        button.resize(60, 40);
        QPixmap pixmap(32, 32);
        pixmap.fill(Qt::red);
        button.SetIcons(QIcon(pixmap), QIcon(pixmap));
        button.SetPressed(true);
        const QImage pressed = button.grab().toImage();
        button.SetPressed(false);
        const QImage idle = button.grab().toImage();
        QCOMPARE(idle.pixelColor(0, 3), QColor(Qt::red));
        QVERIFY(pressed.pixelColor(0, 3) != QColor(Qt::red)); // moved one pixel right and down
        QCOMPARE(pressed.pixelColor(1, 4), QColor(Qt::red));
    }

    void labelRepaintsOnlyWhenTheTextChanges()
    {
        QWidget parent;
        parent.resize(200, 60);
        auto* label = new CLabel(&parent);
        label->setGeometry(10, 10, 120, 24);
        PaintCounter counter;
        label->installEventFilter(&counter);
        parent.show();
        QVERIFY(QTest::qWaitForWindowExposed(&parent));
        label->SetText("0:00:01");
        QVERIFY(WaitFor([&] { return counter.m_paints > 0; }));
        QTest::qWait(50);
        const int paints = counter.m_paints;
        const int redraws = label->RedrawCount();
        for (int i = 0; i < 5; ++i)
            label->SetText("0:00:01");
        QTest::qWait(50);
        QCOMPARE(label->RedrawCount(), redraws);
        QCOMPARE(counter.m_paints, paints);
        label->SetText("0:00:02");
        QCOMPARE(label->GetText(), QString("0:00:02"));
        QVERIFY(WaitFor([&] { return counter.m_paints > paints; }));
    }

    void labelBackgroundIsSolidOrTransparent()
    {
        QWidget parent;
        parent.setAutoFillBackground(true);
        QPalette palette = parent.palette();
        palette.setColor(QPalette::Window, QColor(0, 255, 0));
        parent.setPalette(palette);
        parent.resize(200, 60);
        auto* label = new CLabel(&parent);
        label->setGeometry(10, 10, 120, 24);
        label->SetText("No errors detected and a text far longer than the label");

        QCOMPARE(parent.grab().toImage().pixelColor(11, 11), label->palette().color(QPalette::Button));
        label->SetBkColor(QColor(0, 0, 255));
        QCOMPARE(parent.grab().toImage().pixelColor(11, 11), QColor(0, 0, 255));
        label->SetTransparent(true);
        QCOMPARE(parent.grab().toImage().pixelColor(11, 11), QColor(0, 255, 0));
        // One line, clipped at the label's edges: nothing is drawn below it.
        QCOMPARE(parent.grab().toImage().pixelColor(60, 40), QColor(0, 255, 0));
    }

    void pictureLoadsTheBannerAtItsSize()
    {
        CFakeUiServices ui;
        CPicture picture;
        QVERIFY(picture.LoadFromResource(135, "GIF"));
        QCOMPARE(picture.GetWidth(), 4096);
        QCOMPARE(picture.GetHeight(), 64);
        QVERIFY(picture.GetDataSize() > 0);
        QImage at96 = DeviceAt(96);
        QVERIFY(picture.UpdateSizeOnDC(&at96));
        QCOMPARE(picture.GetWidth(), 4096);
        QCOMPARE(picture.GetHeight(), 64);
        QImage at192 = DeviceAt(192);
        QVERIFY(picture.UpdateSizeOnDC(&at192));
        QCOMPARE(picture.GetWidth(), 8192);
        QCOMPARE(picture.GetHeight(), 128);
        // Loading again replaces the first picture.
        QVERIFY(picture.LoadFromResource(135, "GIF"));
        QCOMPARE(picture.GetWidth(), 4096);
        QVERIFY(ui.m_messages.empty());
    }

    void aMissingPictureSaysSoAndDrawsNothing()
    {
        CFakeUiServices ui;
        CPicture picture;
        QVERIFY(!picture.LoadFromResource(999, "GIF"));
        QCOMPARE(ui.m_messages.size(), std::size_t{1});
        QCOMPARE(ui.m_messages[0].caption, QString("CPicture Error"));
        QCOMPARE(ui.m_messages[0].text, QString("FindResource() Failed\t"));
        QCOMPARE(picture.GetWidth(), 0);
        QCOMPARE(picture.GetHeight(), 0);
        QImage device = DeviceAt(96);
        QVERIFY(!picture.UpdateSizeOnDC(&device));
        QPainter painter(&device);
        QVERIFY(!picture.Draw(&painter, 0, 0, 10, 10, 0, 0));

        // Bytes that are no picture: no picture, no crash.
        const std::uint8_t garbage[] = {'G', 'I', 'F', '8', '9', 'a', 0xFF, 0xFF};
        QVERIFY(picture.LoadFromBuffer(garbage, sizeof(garbage)));
        QVERIFY(!picture.IsLoaded());
    }

    // The trees are refreshed twice a second while a stream plays or arrives:
    // what the user opened and where the user scrolled must stay, in both tabs.
    void treeSinksKeepExpandedLinesAndScrollPositionAcrossRefreshes()
    {
        for (const bool recordTab : {false, true})
        {
            QTreeWidget tree;
            tree.setHeaderHidden(true);
            tree.resize(165, 234);
            CQtTreeSink playSink(&tree);
            CRecTreeSink recordSink(&tree);
            ITreeSink& sink = recordTab ? static_cast<ITreeSink&>(recordSink) : playSink;
            tree.show();
            QVERIFY(QTest::qWaitForWindowExposed(&tree));

            sink.ShowTree(PidTree(40));
            QVERIFY(tree.topLevelItem(0)->isExpanded()); // as the analysis asks
            tree.topLevelItem(30)->setExpanded(true);    // as the user clicks
            QTest::qWait(20);
            QVERIFY(tree.verticalScrollBar()->maximum() > 0);
            QVERIFY2(tree.horizontalScrollBar()->maximum() > 0, "a long line scrolls instead of being cut off");
            tree.verticalScrollBar()->setValue(tree.verticalScrollBar()->maximum() / 2);
            tree.horizontalScrollBar()->setValue(tree.horizontalScrollBar()->maximum());
            const int top = tree.verticalScrollBar()->value();
            const int left = tree.horizontalScrollBar()->value();

            sink.ShowTree(PidTree(40));
            QVERIFY(tree.topLevelItem(30)->isExpanded());
            QVERIFY(!tree.topLevelItem(29)->isExpanded());
            QCOMPARE(tree.verticalScrollBar()->value(), top);
            QCOMPARE(tree.horizontalScrollBar()->value(), left);

            // A shorter tree: the view goes as far as it can, nothing breaks.
            sink.ShowTree(PidTree(2));
            QCOMPARE(tree.topLevelItemCount(), 3);
            QVERIFY(tree.verticalScrollBar()->value() <= tree.verticalScrollBar()->maximum());
        }
    }

    void sliderReportsDraggingAndRelease()
    {
        CDVBSlider slider;
        slider.resize(300, 30);
        slider.setRange(0, 1000);
        QSignalSpy released(&slider, &CDVBSlider::ReleasedCapture);
        slider.show();
        QVERIFY(QTest::qWaitForWindowExposed(&slider));
        QTest::mousePress(&slider, Qt::LeftButton, {}, QPoint(150, 15));
        QVERIFY(slider.IsDragging());
        QCOMPARE(released.count(), 0);
        QTest::mouseRelease(&slider, Qt::LeftButton, {}, QPoint(150, 15));
        QVERIFY(!slider.IsDragging());
        QCOMPARE(released.count(), 1);
    }
};

ORVANE_GUI_TEST(ControlsTest)
#include "ControlsTest.moc"
