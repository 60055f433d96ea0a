#include "controls/CBitrateGraph.h"

#include <QFontMetrics>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <array>
#include <cmath>

namespace
{
constexpr double kBitsPerMegabit = 1'000'000.0;
constexpr int kMaxRateTicks = 5;
constexpr int kMaxTimeTicks = 6;
constexpr int kGap = 6;           // px between the parts
constexpr int kSwatch = 10;       // px, legend colour box
constexpr int kTotalPenWidth = 2; // px

// Colours told apart also by most colour-blind readers (Tableau 10).
constexpr std::array<QRgb, CBitrateGraph::kMaxLayers> kLayerColours = {
    0x4E79A7, 0xF28E2B, 0x59A14F, 0xE15759, 0x76B7B2, 0xEDC948, 0xB07AA1, 0xFF9DA7,
};

QString PidText(std::uint16_t pid)
{
    return QStringLiteral("0x") + QString::number(pid, 16).toUpper().rightJustified(4, QLatin1Char('0'));
}

QString TimeText(int secondsAgo)
{
    if (secondsAgo == 0)
        return QStringLiteral("now");
    if (secondsAgo % 60 == 0)
        return QStringLiteral("-%1 min").arg(secondsAgo / 60);
    return QStringLiteral("-%1 s").arg(secondsAgo);
}

QString RateText(double megabits)
{
    return QString::number(megabits, 'g', 6);
}
} // namespace

CBitrateGraph::CBitrateGraph(QWidget* parent) : QWidget(parent)
{
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void CBitrateGraph::SetHistory(const CBitrateHistory* history)
{
    m_history = history;
    Refresh();
}

void CBitrateGraph::Refresh()
{
    const std::vector<std::uint16_t> top =
        m_history != nullptr ? m_history->TopPids(kMaxLayers) : std::vector<std::uint16_t>{};
    // A PID that stays drawn keeps its colour; a new one takes a free colour.
    std::vector<CLayer> layers;
    std::array<bool, kMaxLayers> used{};
    for (const std::uint16_t pid : top)
        for (const CLayer& old : m_layers)
            if (old.pid == pid)
                used[old.colour] = true;
    for (const std::uint16_t pid : top)
    {
        const auto old =
            std::find_if(m_layers.begin(), m_layers.end(), [pid](const CLayer& l) { return l.pid == pid; });
        if (old != m_layers.end())
        {
            layers.push_back(*old);
            continue;
        }
        const auto free = static_cast<std::size_t>(std::find(used.begin(), used.end(), false) - used.begin());
        used[free] = true;
        layers.push_back({pid, free});
    }
    m_layers = std::move(layers);

    m_otherSeen = false;
    if (m_history != nullptr)
        for (const CBitrateHistory::CSample& sample : m_history->Samples())
        {
            double drawn = 0.0;
            for (const CLayer& layer : m_layers)
                drawn += CBitrateHistory::PidRate(sample, layer.pid);
            // Below one bit/s is rounding, not a PID.
            m_otherSeen = m_otherSeen || sample.totalBitsPerSecond - drawn >= 1.0;
        }
    update();
}

std::vector<CBitrateGraph::CLegendEntry> CBitrateGraph::Legend() const
{
    std::vector<CLegendEntry> legend;
    for (const CLayer& layer : m_layers)
        legend.push_back({PidText(layer.pid), LayerColour(layer.colour)});
    if (m_otherSeen)
        legend.push_back({QStringLiteral("Other"), OtherColour()});
    legend.push_back({QStringLiteral("Total"), TotalColour()});
    return legend;
}

QColor CBitrateGraph::LayerColour(std::size_t index)
{
    return QColor(kLayerColours[index % kLayerColours.size()]);
}

double CBitrateGraph::TickStep(double peak, int maxTicks)
{
    if (!(peak > 0.0) || maxTicks < 1)
        return 1.0;
    double power = std::pow(10.0, std::floor(std::log10(peak / maxTicks)));
    for (;;)
    {
        for (const double factor : {1.0, 2.0, 5.0})
            if (std::ceil(peak / (factor * power) - 1e-9) <= maxTicks)
                return factor * power;
        power *= 10.0;
    }
}

double CBitrateGraph::AxisMaximum() const
{
    const double peak = m_history != nullptr ? m_history->PeakTotal() / kBitsPerMegabit : 0.0;
    const double step = TickStep(peak, kMaxRateTicks);
    const double steps = std::max(1.0, std::ceil(peak / step - 1e-9));
    return steps * step * kBitsPerMegabit;
}

int CBitrateGraph::LegendWidth() const
{
    const QFontMetrics metrics(font());
    int text = metrics.horizontalAdvance(QStringLiteral("0x0000"));
    for (const CLegendEntry& entry : Legend())
        text = std::max(text, metrics.horizontalAdvance(entry.text));
    return kGap + kSwatch + 4 + text + kGap;
}

QRect CBitrateGraph::PlotRect() const
{
    const QFontMetrics metrics(font());
    const double maximum = AxisMaximum() / kBitsPerMegabit;
    const double step = TickStep(maximum, kMaxRateTicks);
    int labels = metrics.horizontalAdvance(QStringLiteral("Mbit/s")) / 2;
    for (double rate = 0.0; rate <= maximum + step / 2; rate += step)
        labels = std::max(labels, metrics.horizontalAdvance(RateText(rate)));
    const int left = kGap + labels + 4;
    const int top = metrics.height() + 4;
    const int bottom = metrics.height() + kGap;
    return QRect(left, top, std::max(1, width() - left - LegendWidth()), std::max(1, height() - top - bottom));
}

int CBitrateGraph::TimeStep(int windowSeconds) const
{
    const QFontMetrics metrics(font());
    const int labelWidth = metrics.horizontalAdvance(QStringLiteral("-10 min")) + kGap;
    const int room = std::max(1, PlotRect().width() / labelWidth);
    for (const int step : {10, 15, 30, 60, 120, 300, 600, 900, 1800, 3600})
        if (windowSeconds / step <= std::min(kMaxTimeTicks, room))
            return step;
    return windowSeconds;
}

void CBitrateGraph::paintEvent(QPaintEvent* /*event*/)
{
    QPainter painter(this);
    painter.fillRect(rect(), palette().window());
    const QRect plot = PlotRect();
    painter.fillRect(plot, palette().base());
    const double maximum = AxisMaximum();
    DrawAxes(painter, plot, maximum);
    DrawStack(painter, plot, maximum);
    painter.setPen(palette().windowText().color());
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(plot.adjusted(-1, -1, 0, 0)); // the frame around, not over, the stack
    DrawLegend(painter, plot);
}

void CBitrateGraph::DrawAxes(QPainter& painter, const QRect& plot, double maximum) const
{
    const QFontMetrics metrics(font());
    const QColor grid = palette().mid().color();
    const QColor text = palette().windowText().color();
    const double top = maximum / kBitsPerMegabit;
    const double step = TickStep(top, kMaxRateTicks);
    painter.setPen(text);
    painter.drawText(QRect(0, 0, plot.left() + 60, plot.top() - 2), Qt::AlignLeft | Qt::AlignBottom,
                     QStringLiteral("Mbit/s"));
    for (int i = 0; i * step <= top + step / 2; ++i)
    {
        const double rate = i * step;
        const int y = plot.bottom() - static_cast<int>(std::lround(rate / top * plot.height()));
        painter.setPen(grid);
        painter.drawLine(plot.left(), y, plot.right(), y);
        painter.setPen(text);
        painter.drawText(QRect(0, y - metrics.height() / 2, plot.left() - 4, metrics.height()),
                         Qt::AlignRight | Qt::AlignVCenter, RateText(rate));
    }

    const int window = m_history != nullptr ? m_history->WindowSeconds() : CBitrateHistory::kDefaultWindowSeconds;
    const int timeStep = TimeStep(window);
    for (int ago = 0; ago <= window; ago += timeStep)
    {
        const int x = plot.right() - static_cast<int>(std::lround(static_cast<double>(ago) / window * plot.width()));
        painter.setPen(grid);
        painter.drawLine(x, plot.top(), x, plot.bottom());
        painter.setPen(text);
        const QString label = TimeText(ago);
        const int labelWidth = metrics.horizontalAdvance(label);
        const int left = std::clamp(x - labelWidth / 2, 0, std::max(0, width() - labelWidth));
        painter.drawText(QRect(left, plot.bottom() + 3, labelWidth, metrics.height()), Qt::AlignCenter, label);
    }
}

void CBitrateGraph::DrawStack(QPainter& painter, const QRect& plot, double maximum) const
{
    if (m_history == nullptr || m_history->IsEmpty())
        return;
    const auto& samples = m_history->Samples();
    const double windowMs = m_history->WindowSeconds() * 1000.0;
    const std::int64_t newest = samples.back().timeMs;
    auto xOf = [&](std::int64_t timeMs) {
        const double ago = std::clamp(static_cast<double>(newest - timeMs), 0.0, windowMs);
        return plot.left() + plot.width() * (1.0 - ago / windowMs);
    };
    auto yOf = [&](double bits) { return plot.bottom() + 1 - plot.height() * std::min(bits, maximum) / maximum; };
    // Each sample covers the time since the one before; the first one a second.
    std::vector<double> starts;
    std::vector<double> ends;
    for (std::size_t i = 0; i < samples.size(); ++i)
    {
        starts.push_back(xOf(i == 0 ? samples[0].timeMs - 1'000 : samples[i - 1].timeMs));
        ends.push_back(xOf(samples[i].timeMs));
    }

    painter.save();
    painter.setClipRect(plot);
    painter.setPen(Qt::NoPen);
    std::vector<double> below(samples.size(), 0.0);
    auto fillLayer = [&](const std::vector<double>& heights, const QColor& colour) {
        QPainterPath path;
        for (std::size_t i = 0; i < samples.size(); ++i)
        {
            const double y = yOf(below[i] + heights[i]);
            if (i == 0)
                path.moveTo(starts[i], y);
            else
                path.lineTo(starts[i], y);
            path.lineTo(ends[i], y);
        }
        for (std::size_t i = samples.size(); i-- > 0;)
        {
            path.lineTo(ends[i], yOf(below[i]));
            path.lineTo(starts[i], yOf(below[i]));
        }
        path.closeSubpath();
        painter.fillPath(path, colour);
        for (std::size_t i = 0; i < samples.size(); ++i)
            below[i] += heights[i];
    };
    std::vector<double> heights(samples.size());
    for (const CLayer& layer : m_layers)
    {
        for (std::size_t i = 0; i < samples.size(); ++i)
            heights[i] = CBitrateHistory::PidRate(samples[i], layer.pid);
        fillLayer(heights, LayerColour(layer.colour));
    }
    for (std::size_t i = 0; i < samples.size(); ++i)
        heights[i] = std::max(0.0, samples[i].totalBitsPerSecond - below[i]);
    fillLayer(heights, OtherColour());

    QPainterPath total;
    for (std::size_t i = 0; i < samples.size(); ++i)
    {
        const double y = yOf(samples[i].totalBitsPerSecond);
        if (i == 0)
            total.moveTo(starts[i], y);
        else
            total.lineTo(starts[i], y);
        total.lineTo(ends[i], y);
    }
    painter.setPen(QPen(TotalColour(), kTotalPenWidth));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(total);
    painter.restore();
}

void CBitrateGraph::DrawLegend(QPainter& painter, const QRect& plot) const
{
    const QFontMetrics metrics(font());
    const int left = plot.right() + 1 + kGap;
    int y = plot.top();
    for (const CLegendEntry& entry : Legend())
    {
        if (y + metrics.height() > height())
            break; // a short graph lists the largest PIDs
        const QRect swatch(left, y + (metrics.height() - kSwatch) / 2, kSwatch, kSwatch);
        if (entry.text == QLatin1String("Total"))
            painter.fillRect(swatch.adjusted(0, kSwatch / 2 - 1, 0, -(kSwatch / 2 - 1)), entry.colour);
        else
            painter.fillRect(swatch, entry.colour);
        painter.setPen(palette().windowText().color());
        painter.drawText(QRect(swatch.right() + 5, y, width() - swatch.right() - 5, metrics.height()),
                         Qt::AlignLeft | Qt::AlignVCenter, entry.text);
        y += metrics.height() + 2;
    }
}
