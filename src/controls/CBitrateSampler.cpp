#include "controls/CBitrateSampler.h"

#include "analysis/CDecodeStream.h"
#include "common/CSteadyClock.h"
#include "controls/CBitrateGraph.h"

#include <QVBoxLayout>
#include <QWidget>

CBitrateSampler* CBitrateSampler::Attach(QWidget* tab, CDecodeStream& analysis, RunningFn running)
{
    auto* host = tab->findChild<QWidget*>(QLatin1String(kHostName));
    if (host == nullptr)
        return nullptr;
    if (auto* existing = tab->findChild<CBitrateSampler*>(QString(), Qt::FindDirectChildrenOnly))
        return existing;
    auto* graph = new CBitrateGraph(host);
    graph->setObjectName(QStringLiteral("bitrateGraph"));
    QLayout* layout = host->layout();
    if (layout == nullptr)
    {
        layout = new QVBoxLayout(host);
        layout->setContentsMargins(0, 0, 0, 0);
    }
    layout->addWidget(graph);
    return new CBitrateSampler(analysis, std::move(running), graph, tab);
}

CBitrateSampler::CBitrateSampler(CDecodeStream& analysis, RunningFn running, CBitrateGraph* graph, QObject* parent)
    : QObject(parent), m_analysis(analysis), m_running(std::move(running)),
      m_now([] { return CSteadyClock::NowNs() / 1'000'000; }), m_graph(graph)
{
    m_timer.setObjectName(QStringLiteral("bitrateTimer"));
    connect(&m_timer, &QTimer::timeout, this, &CBitrateSampler::Sample);
    if (m_graph != nullptr)
        m_graph->SetHistory(&m_history);
    m_timer.start(kSampleMs);
}

CBitrateSampler::~CBitrateSampler()
{
    m_timer.stop();
    if (m_graph != nullptr)
        m_graph->SetHistory(nullptr);
}

void CBitrateSampler::Sample()
{
    if (!m_running())
    {
        m_wasRunning = false;
        return;
    }
    if (!m_wasRunning)
    {
        // A new run: its own minutes, counted from its own start.
        m_history.Clear();
        m_wasRunning = true;
        if (m_graph != nullptr)
            m_graph->Refresh();
    }
    if (m_history.Add(m_analysis.TakeSnapshot(), m_now()) && m_graph != nullptr)
        m_graph->Refresh();
}
