// The analysis trees keep what the user opened and where the user scrolled across
// refreshes; a label shows "&" as it is; a picture that cannot load says so.

#include "GuiTest.h"
#include "controls/CLabel.h"
#include "controls/CPicture.h"
#include "controls/CQtTreeSink.h"

#include <QPainter>
#include <QScrollBar>
#include <QTreeWidget>

#include <algorithm>

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
} // namespace

class ControlsTest : public QObject
{
    Q_OBJECT

private slots:
    // The trees are refreshed twice a second while a stream plays or arrives:
    // what the user opened and where the user scrolled must stay, in both tabs.
    void treeSinksKeepExpandedLinesAndScrollPositionAcrossRefreshes()
    {
        {
            QTreeWidget tree;
            tree.setHeaderHidden(true);
            tree.resize(165, 234);
            CQtTreeSink sink(&tree);
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
            sink.Clear(); // a new recording starts with empty trees
            QCOMPARE(tree.topLevelItemCount(), 0);
        }
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
        QVERIFY(without > 0);
        QVERIFY2(with - without >= label.fontMetrics().horizontalAdvance('&') - 2,
                 qPrintable(QString("ink %1 px with the & and %2 px without").arg(with).arg(without)));
    }

    void missingPictureSaysSoAndDrawsNothing()
    {
        CFakeUiServices ui;
        CPicture picture;
        QVERIFY(!picture.LoadFromResource(999, "GIF"));
        QCOMPARE(ui.m_messages.size(), std::size_t{1});
        QCOMPARE(ui.m_messages[0].caption, QString("CPicture Error"));
        QCOMPARE(ui.m_messages[0].text, QString("FindResource() Failed\t"));
        QCOMPARE(picture.GetWidth(), 0);
        QImage device(10, 10, QImage::Format_RGB32);
        QVERIFY(!picture.UpdateSizeOnDC(&device));
        QPainter painter(&device);
        QVERIFY(!picture.Draw(&painter, 0, 0, 10, 10, 0, 0));
    }
};

ORVANE_GUI_TEST(ControlsTest)
#include "ControlsTest.moc"
