#pragma once
//! @file CBitrateSampler.h
//! Feeds a tab's bit-rate graph: once a second, while the tab's run is active,
//! takes the analysis object's snapshot into the history and redraws the graph.
//! A new run starts a new history; after a run the graph keeps its last minutes.
//!
//! Ownership: a child of the tab (the tab's analysis object outlives it); owns
//! the history; the graph is a child of the tab's graph host.
//! Threads: window thread only (a QTimer); TakeSnapshot is safe against the
//! reader or record thread.

#include "analysis/CBitrateHistory.h"
#include "controls/CBitrateGraph.h"

#include <QObject>
#include <QPointer>
#include <QTimer>

#include <cstdint>
#include <functional>

class CDecodeStream;
class QWidget;

class CBitrateSampler : public QObject
{
    Q_OBJECT

public:
    static constexpr int kSampleMs = 1000;
    //! The object name of the place a tab keeps for its graph.
    static constexpr const char* kHostName = "bitrateGraphHost";

    using RunningFn = std::function<bool()>;
    using NowMsFn = std::function<std::int64_t()>;

    //! Puts a graph into @p tab's child named kHostName and starts sampling
    //! @p analysis while @p running says so. @return the sampler, or null when
    //! the tab has no such child; a second call returns the first sampler.
    static CBitrateSampler* Attach(QWidget* tab, CDecodeStream& analysis, RunningFn running);

    CBitrateSampler(CDecodeStream& analysis, RunningFn running, CBitrateGraph* graph, QObject* parent);
    ~CBitrateSampler() override;

    //! The timer's work, callable directly.
    void Sample();
    //! Milliseconds of the steady clock by default. A caller with a clock of
    //! its own drives the samples too: the timer stops (no tick between two
    //! driven samples) and the history starts anew (times of two clocks do not
    //! compare).
    void SetClock(NowMsFn now)
    {
        m_now = std::move(now);
        m_timer.stop();
        m_history.Clear();
    }

    const CBitrateHistory& History() const { return m_history; }
    CBitrateGraph* Graph() const { return m_graph; }
    const QTimer& Timer() const { return m_timer; }

private:
    CDecodeStream& m_analysis;
    RunningFn m_running;
    NowMsFn m_now;
    QPointer<CBitrateGraph> m_graph;
    CBitrateHistory m_history;
    bool m_wasRunning = false;
    QTimer m_timer;
};
