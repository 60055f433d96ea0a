// The TR 101 290 panel: the light of each indicator from its count and its
// "active now" flag, and each row's count, name and rule.
// The tabs' use of it: CRecFromNetworkDlgTest and CPlayToNetworkDlgTest.

#include "controls/CIndicatorPanel.h"

#include "GuiTest.h"

namespace
{
using Light = CIndicatorPanel::Light;

QLabel* RowLabel(const CIndicatorPanel& panel, const CTr101290Counters::Info& info, const char* part)
{
    return panel.findChild<QLabel*>(QString::fromLatin1(info.key) + QLatin1String(part));
}
} // namespace

class CIndicatorPanelTest : public QObject
{
    Q_OBJECT

private slots:
    void lightFollowsCountAndActivity()
    {
        const struct
        {
            const char* name;
            bool hasData;
            std::uint64_t count;
            bool active, live;
            Light light;
        } cases[] = {{"no data, even with a count", false, 5, true, true, Light::NoData},
                     {"never seen", true, 0, false, true, Light::Clear},
                     {"seen earlier", true, 2, false, true, Light::Seen},
                     {"active now", true, 2, true, true, Light::Active},
                     {"a file has no now", true, 2, true, false, Light::Seen},
                     {"a clean file", true, 0, false, false, Light::Clear}};
        for (const auto& c : cases)
        {
            QVERIFY2(CIndicatorPanel::LightOf(c.hasData, c.count, c.active, c.live) == c.light, c.name);
            // The panel paints the same light in each row.
            CIndicatorPanel panel;
            CTr101290Counters counters;
            counters.count.fill(c.count);
            counters.active.fill(c.active);
            if (c.hasData)
                panel.ShowCounters(counters, c.live);
            for (const auto& info : CTr101290Counters::kInfo)
                QVERIFY2(panel.LightAt(info.indicator) == c.light &&
                             RowLabel(panel, info, "Light")
                                 ->styleSheet()
                                 .contains(CIndicatorPanel::ColourOf(c.light).name()) &&
                             panel.ToolTipOf(info.indicator).contains(CIndicatorPanel::TextOf(c.light)),
                         c.name);
        }
    }

    void everyRowShowsItsOwnCountNameAndRule()
    {
        CIndicatorPanel panel;
        // Distinct counts, every third one active: a row showing another row's figures shows.
        CTr101290Counters counters;
        for (std::size_t i = 0; i < CTr101290Counters::kCount; ++i)
        {
            counters.count[i] = 1000 + i;
            counters.active[i] = i % 3 == 0;
        }
        panel.ShowCounters(counters);
        for (std::size_t i = 0; i < CTr101290Counters::kCount; ++i)
        {
            const auto& info = CTr101290Counters::kInfo[i];
            QCOMPARE(RowLabel(panel, info, "Count")->text() + " " + RowLabel(panel, info, "Name")->text(),
                     QString::number(1000 + i) + " " + info.name);
            QCOMPARE(panel.LightAt(info.indicator), i % 3 == 0 ? Light::Active : Light::Seen);
            const QString tip = panel.ToolTipOf(info.indicator);
            QVERIFY2(tip.contains(QString::fromLatin1(info.rule)) && tip.contains(QString::fromLatin1(info.name)) &&
                         tip.contains(QStringLiteral("priority %1").arg(info.priority)),
                     qPrintable(tip));
            QCOMPARE(RowLabel(panel, info, "Light")->toolTip(), tip);
        }
        panel.Clear();
        for (const auto& info : CTr101290Counters::kInfo)
            QVERIFY(panel.CountText(info.indicator) == "-" && panel.LightAt(info.indicator) == Light::NoData);
    }
};

ORVANE_GUI_TEST(CIndicatorPanelTest)
#include "CIndicatorPanelTest.moc"
