// The analysis trees keep what the user opened and where the user scrolled across refreshes.

#include "GuiTest.h"
#include "controls/CQtTreeSink.h"

#include <QScrollBar>
#include <QTreeWidget>

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
};

ORVANE_GUI_TEST(ControlsTest)
#include "ControlsTest.moc"
