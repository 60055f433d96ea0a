// The TR 101 290 panel: the light of each indicator from its count and its
// "active now" flag, and each row's count, name and rule.
// The tabs' use of it: CRecFromNetworkDlgTest and CPlayToNetworkDlgTest.

#include "controls/CIndicatorPanel.h"

#include "GuiTest.h"

#include <QLabel>

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
    void lightFollowsCountAndActivity_data()
    {
        QTest::addColumn<bool>("hasData");
        QTest::addColumn<int>("count");
        QTest::addColumn<bool>("active");
        QTest::addColumn<bool>("live");
        QTest::addColumn<int>("lightValue");
        QTest::newRow("no data, even with a count") << false << 5 << true << true << int(Light::NoData);
        QTest::newRow("never seen") << true << 0 << false << true << int(Light::Clear);
        QTest::newRow("seen earlier") << true << 2 << false << true << int(Light::Seen);
        QTest::newRow("active now") << true << 2 << true << true << int(Light::Active);
        QTest::newRow("a file has no now") << true << 2 << true << false << int(Light::Seen);
        QTest::newRow("a clean file") << true << 0 << false << false << int(Light::Clear);
    }
    void lightFollowsCountAndActivity()
    {
        QFETCH(bool, hasData);
        QFETCH(int, count);
        QFETCH(bool, active);
        QFETCH(bool, live);
        QFETCH(int, lightValue);
        const auto light = static_cast<Light>(lightValue);
        QCOMPARE(CIndicatorPanel::LightOf(hasData, static_cast<std::uint64_t>(count), active, live), light);
        // The panel paints the same light in each row.
        CIndicatorPanel panel;
        CTr101290Counters counters;
        counters.count.fill(static_cast<std::uint64_t>(count));
        counters.active.fill(active);
        if (hasData)
            panel.ShowCounters(counters, live);
        for (const auto& info : CTr101290Counters::kInfo)
            QVERIFY(panel.LightAt(info.indicator) == light &&
                    RowLabel(panel, info, "Light")->styleSheet().contains(CIndicatorPanel::ColourOf(light).name()) &&
                    panel.ToolTipOf(info.indicator).contains(CIndicatorPanel::TextOf(light)));
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
            QCOMPARE(RowLabel(panel, info, "Count")->text(), QString::number(1000 + i));
            QCOMPARE(panel.LightAt(info.indicator), i % 3 == 0 ? Light::Active : Light::Seen);
            QCOMPARE(RowLabel(panel, info, "Name")->text(), QString::fromLatin1(info.name));
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
