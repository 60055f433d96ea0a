#include "controls/CIndicatorPanel.h"

#include <QGridLayout>
#include <QLabel>
#include <QScrollArea>
#include <QStyle>
#include <QVBoxLayout>

namespace
{
constexpr int kLightPx = 12;
const QString kNoCount = QStringLiteral("-");

QString LightStyle(const QColor& colour)
{
    return QStringLiteral("background-color: %1; border: 1px solid %2; border-radius: %3px;")
        .arg(colour.name(), colour.darker(160).name())
        .arg(kLightPx / 2);
}
} // namespace

int CIndicatorPanel::FullWidth() const
{
    return sizeHint().width() + style()->pixelMetric(QStyle::PM_ScrollBarExtent);
}

CIndicatorPanel::Light CIndicatorPanel::LightOf(bool hasData, std::uint64_t count, bool active, bool live)
{
    if (!hasData)
        return Light::NoData;
    if (live && active)
        return Light::Active;
    return count != 0 ? Light::Seen : Light::Clear;
}

QColor CIndicatorPanel::ColourOf(Light light)
{
    switch (light)
    {
    case Light::Clear:
        return {0, 190, 0};
    case Light::Seen:
        return {255, 170, 0};
    case Light::Active:
        return {230, 0, 0};
    case Light::NoData:
        break;
    }
    return {170, 170, 170};
}

QString CIndicatorPanel::TextOf(Light light)
{
    switch (light)
    {
    case Light::Clear:
        return QStringLiteral("never seen");
    case Light::Seen:
        return QStringLiteral("seen earlier in this run");
    case Light::Active:
        return QStringLiteral("active now");
    case Light::NoData:
        break;
    }
    return QStringLiteral("no data yet");
}

CIndicatorPanel::CIndicatorPanel(QWidget* parent, int columns) : QWidget(parent)
{
    setObjectName(QStringLiteral("indicatorPanel"));
    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->setHorizontalSpacing(6);
    grid->setVerticalSpacing(2);
    // Per priority a heading, then a row per indicator: light, name, count.
    // Beside: priority 2 from column 4 (column 3 is the gap); else below priority 1.
    const bool beside = columns > 1;
    int rowsOfPriority1 = 0;
    for (const auto& info : CTr101290Counters::kInfo)
        rowsOfPriority1 += info.priority == 1 ? 1 : 0;
    int next[2] = {0, beside ? 0 : rowsOfPriority1 + 1};
    const int firstColumn[2] = {0, beside ? 4 : 0};
    for (int p = 0; p < 2; ++p)
    {
        auto* heading = new QLabel(QStringLiteral("TR 101 290 priority %1").arg(p + 1), this);
        heading->setObjectName(QStringLiteral("priority%1Heading").arg(p + 1));
        QFont bold = heading->font();
        bold.setBold(true);
        heading->setFont(bold);
        grid->addWidget(heading, next[p]++, firstColumn[p], 1, 3);
    }
    for (std::size_t i = 0; i < CTr101290Counters::kCount; ++i)
    {
        const auto& info = CTr101290Counters::kInfo[i];
        const int p = info.priority - 1;
        const QString key = QString::fromLatin1(info.key);
        Row& r = m_rows[i];
        r.light = new QLabel(this);
        r.light->setObjectName(key + QStringLiteral("Light"));
        r.light->setFixedSize(kLightPx, kLightPx);
        r.name = new QLabel(QString::fromLatin1(info.name), this);
        r.name->setObjectName(key + QStringLiteral("Name"));
        r.count = new QLabel(kNoCount, this);
        r.count->setObjectName(key + QStringLiteral("Count"));
        r.count->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        r.count->setMinimumWidth(r.count->fontMetrics().horizontalAdvance(QStringLiteral("0000000")));
        const int row = next[p]++;
        grid->addWidget(r.light, row, firstColumn[p], Qt::AlignVCenter);
        grid->addWidget(r.name, row, firstColumn[p] + 1);
        grid->addWidget(r.count, row, firstColumn[p] + 2);
        r.state = Light::Active; // anything but NoData, so that Clear paints every row
    }
    if (beside)
        grid->setColumnMinimumWidth(3, 2 * kLightPx);
    // Spare room goes right of the counts and below the rows.
    grid->setColumnStretch(beside ? 7 : 3, 1);
    grid->setRowStretch(grid->rowCount(), 1);
    Clear();
}

CIndicatorPanel* CIndicatorPanel::Attach(QWidget* host, int columns)
{
    auto* scroll = new QScrollArea(host);
    scroll->setObjectName(QStringLiteral("indicatorScroll"));
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    scroll->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    scroll->setMinimumHeight(1); // the rows scroll; the window's smallest size stays
    auto* panel = new CIndicatorPanel(nullptr, columns);
    scroll->setWidget(panel);
    // The tab's own background, not the scroll area's.
    panel->setAutoFillBackground(false);
    scroll->viewport()->setAutoFillBackground(false);
    QLayout* layout = host->layout();
    if (layout == nullptr)
    {
        layout = new QVBoxLayout(host);
        layout->setContentsMargins(0, 0, 0, 0);
    }
    layout->addWidget(scroll);
    return panel;
}

void CIndicatorPanel::ShowRow(std::size_t index, Light state, const QString& count)
{
    Row& r = m_rows[index];
    if (r.count->text() != count)
        r.count->setText(count);
    if (r.state == state)
        return;
    r.state = state;
    r.light->setStyleSheet(LightStyle(ColourOf(state)));
    const auto& info = CTr101290Counters::kInfo[index];
    const QString tip = QStringLiteral("%1 (priority %2): %3.\nLight: %4 (green never seen, amber seen earlier, "
                                       "red in the last second, grey no data yet).")
                            .arg(QString::fromLatin1(info.name))
                            .arg(info.priority)
                            .arg(QString::fromLatin1(info.rule), TextOf(state));
    for (QLabel* label : {r.light, r.name, r.count})
        label->setToolTip(tip);
}

void CIndicatorPanel::ShowCounters(const CTr101290Counters& counters, bool live)
{
    for (std::size_t i = 0; i < CTr101290Counters::kCount; ++i)
        ShowRow(i, LightOf(true, counters.count[i], counters.active[i], live), QString::number(counters.count[i]));
}

void CIndicatorPanel::Clear()
{
    for (std::size_t i = 0; i < CTr101290Counters::kCount; ++i)
        ShowRow(i, Light::NoData, kNoCount);
}

QString CIndicatorPanel::CountText(Indicator indicator) const
{
    return m_rows[Index(indicator)].count->text();
}

QString CIndicatorPanel::ToolTipOf(Indicator indicator) const
{
    return m_rows[Index(indicator)].name->toolTip();
}
