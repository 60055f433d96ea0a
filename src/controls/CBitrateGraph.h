#pragma once
//! @file CBitrateGraph.h
//! The bit rate of the last minutes as stacked areas, one per PID with the
//! highest rates (the rest stacked as "Other"), under the total as a line; a
//! time axis ending at the newest sample, a Mbit/s axis, and a legend with the
//! PID numbers. Drawn with QPainter; it follows its parent's layout in size.
//!
//! A PID keeps its colour while it stays among the PIDs drawn. Each sample is
//! drawn as a step over the time it was measured in (since the one before).
//!
//! Threads: window thread only. The history belongs to the caller.

#include "analysis/CBitrateHistory.h"

#include <QColor>
#include <QRect>
#include <QString>
#include <QWidget>

#include <cstdint>
#include <vector>

class QPainter;

class CBitrateGraph : public QWidget
{
    Q_OBJECT

public:
    //! PIDs drawn on their own, bottom first by mean rate; the rest is "Other".
    static constexpr std::size_t kMaxLayers = 8;

    struct CLegendEntry
    {
        QString text; //!< "0x0100", "Other" or "Total"
        QColor colour;
    };

    explicit CBitrateGraph(QWidget* parent = nullptr);

    //! The history drawn (null: none); it outlives the graph or is reset first.
    void SetHistory(const CBitrateHistory* history);
    //! Takes the history's new samples into account and repaints.
    void Refresh();

    //! The legend as drawn: the PIDs from the bottom of the stack up, "Other"
    //! when other PIDs carried data, then "Total".
    std::vector<CLegendEntry> Legend() const;
    //! Where the stack is drawn, in widget coordinates.
    QRect PlotRect() const;
    //! The rate at the top of the plot, bit/s: a whole number of axis steps.
    double AxisMaximum() const;
    //! The Mbit/s between two ticks of the rate axis: 1, 2 or 5 times a power of
    //! ten, the smallest giving at most @p maxTicks steps up to @p peak Mbit/s.
    static double TickStep(double peak, int maxTicks);
    //! The colour of the @p index th PID colour (distinct for kMaxLayers).
    static QColor LayerColour(std::size_t index);
    static QColor OtherColour() { return {186, 176, 172}; }
    static QColor TotalColour() { return {0, 0, 0}; }

    QSize sizeHint() const override { return {480, 180}; }
    QSize minimumSizeHint() const override { return {80, 16}; } // squeezed on small screens, grows with the window

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    struct CLayer
    {
        std::uint16_t pid = 0;
        std::size_t colour = 0;
    };

    int LegendWidth() const;
    //! The time-axis step in seconds for a window of @p windowSeconds.
    int TimeStep(int windowSeconds) const;
    void DrawAxes(QPainter& painter, const QRect& plot, double maximum) const;
    void DrawStack(QPainter& painter, const QRect& plot, double maximum) const;
    void DrawLegend(QPainter& painter, const QRect& plot) const;

    const CBitrateHistory* m_history = nullptr;
    std::vector<CLayer> m_layers;
    bool m_otherSeen = false;
};
