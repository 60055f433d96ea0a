// The bit-rate graph drawn from a known history: the stack's layers and top at
// their pixel rows, the legend and its colours, colours that stay with their
// PID and round axis steps. The sampler in the tabs: CRecFromNetworkDlgTest and
// CPlayToNetworkDlgTest.

#include "controls/CBitrateGraph.h"

#include "GuiTest.h"
#include "support/PidCounters.h"

#include <cmath>
#include <set>

using tstest::SteadyCounters;

namespace
{
constexpr double kBitsPerPacket = 188 * 8;

//! A history of @p seconds samples of PIDs sending steadily.
void FillSteady(CBitrateHistory& history, const tstest::PidPackets& perSecond, std::uint64_t seconds,
                std::uint64_t from = 0)
{
    for (std::uint64_t s = from; s <= from + seconds; ++s)
        history.Add(SteadyCounters(perSecond, s), static_cast<std::int64_t>(s) * 1'000);
}

QColor ColourOf(const CBitrateGraph& graph, const QString& text)
{
    for (const auto& entry : graph.Legend())
        if (entry.text == text)
            return entry.colour;
    return {};
}

QStringList LegendTexts(const CBitrateGraph& graph)
{
    QStringList texts;
    for (const auto& entry : graph.Legend())
        texts << entry.text;
    return texts;
}

//! The pixel row where the stack reaches @p bits.
int RowOf(const CBitrateGraph& graph, double bits)
{
    const QRect plot = graph.PlotRect();
    return plot.bottom() + 1 - static_cast<int>(std::lround(plot.height() * bits / graph.AxisMaximum()));
}
} // namespace

class CBitrateGraphTest : public QObject
{
    Q_OBJECT

private slots:
    void layersAndTotalAtTheirRows()
    {
        CBitrateHistory history(60);
        // 4.512 and 1.504 Mbit/s: 6.016 in all, on an axis up to 8 Mbit/s.
        FillSteady(history, {{0x100, 3'000}, {0x200, 1'000}}, 60);
        CBitrateGraph graph;
        graph.resize(640, 300);
        graph.SetHistory(&history);
        QCOMPARE(LegendTexts(graph), QStringList({"0x0100", "0x0200", "Total"}));
        QCOMPARE(graph.AxisMaximum(), 8'000'000.0);

        const QImage image = graph.grab().toImage();
        const QColor lower = ColourOf(graph, "0x0100");
        const QColor upper = ColourOf(graph, "0x0200");
        QVERIFY(lower != upper);
        const QRect plot = graph.PlotRect();
        const int x = plot.left() + plot.width() * 45 / 100;
        const int top = RowOf(graph, 4'000 * kBitsPerPacket);
        const int boundary = RowOf(graph, 3'000 * kBitsPerPacket);
        QVERIFY(image.pixelColor(x, plot.bottom() - 2) == lower && image.pixelColor(x, boundary + 3) == lower);
        QVERIFY(image.pixelColor(x, boundary - 3) == upper && image.pixelColor(x, top + 4) == upper);
        bool line = false;
        for (int y = top - 1; y <= top + 1; ++y)
            line = line || image.pixelColor(x, y) == CBitrateGraph::TotalColour();
        QVERIFY(line);
        const QColor above = image.pixelColor(x, top - 4);
        QVERIFY(above != lower && above != upper && above != CBitrateGraph::TotalColour());

        // The legend is drawn beside the plot in the same colours.
        int swatches = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int lx = plot.right() + 2; lx < image.width(); ++lx)
                swatches += image.pixelColor(lx, y) == lower || image.pixelColor(lx, y) == upper ? 1 : 0;
        QVERIFY(swatches > 0);
    }

    void manyPidsGoToOtherAndKeepTheirColours()
    {
        CBitrateHistory history(60);
        tstest::PidPackets perSecond;
        for (std::uint16_t pid = 0x30; pid < 0x30 + 12; ++pid)
            perSecond.emplace_back(pid, 100 + pid); // 0x3B sends most
        FillSteady(history, perSecond, 10);
        CBitrateGraph graph;
        graph.resize(640, 400);
        graph.SetHistory(&history);
        const QStringList legend = LegendTexts(graph);
        QCOMPARE(legend.size(), static_cast<qsizetype>(CBitrateGraph::kMaxLayers) + 2);
        QCOMPARE(QStringList({legend.front()}) + legend.mid(legend.size() - 2),
                 QStringList({"0x003B", "Other", "Total"}));
        std::set<QRgb> colours;
        for (const auto& entry : graph.Legend())
            colours.insert(entry.colour.rgb());
        QCOMPARE(colours.size(), CBitrateGraph::kMaxLayers + 2);

        // 0x30 grows to lead: it moves to the bottom, the others keep their colours.
        const QColor before = ColourOf(graph, "0x0035");
        for (std::uint64_t s = 11; s <= 60; ++s)
        {
            auto counters = SteadyCounters(perSecond, s);
            counters.pids[0].stats.packets += (s - 10) * 10'000;
            counters.totalPackets += (s - 10) * 10'000;
            history.Add(counters, static_cast<std::int64_t>(s) * 1'000);
        }
        graph.Refresh();
        QVERIFY(LegendTexts(graph).front() == "0x0030" && !LegendTexts(graph).contains("0x0034"));
        QCOMPARE(ColourOf(graph, "0x0035"), before);
        QVERIFY(ColourOf(graph, "0x0030") != ColourOf(graph, "0x003B"));
    }

    void rateAxisStepsAreRound_data()
    {
        QTest::addColumn<double>("peak");
        QTest::addColumn<double>("step");
        QTest::newRow("6.016 Mbit/s") << 6.016 << 2.0;
        QTest::newRow("exactly 5") << 5.0 << 1.0;
        QTest::newRow("below 1") << 0.3 << 0.1;
        QTest::newRow("one") << 1.0 << 0.2;
        QTest::newRow("37.5") << 37.5 << 10.0;
        QTest::newRow("nothing") << 0.0 << 1.0;
        QTest::newRow("ten gigabit") << 9'800.0 << 2'000.0;
    }
    void rateAxisStepsAreRound()
    {
        QFETCH(double, peak);
        QFETCH(double, step);
        QCOMPARE(CBitrateGraph::TickStep(peak, 5), step);
    }
};

ORVANE_GUI_TEST(CBitrateGraphTest)
#include "CBitrateGraphTest.moc"
