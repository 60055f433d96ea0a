#pragma once
//! @file CIndicatorPanel.h
//! The ETSI TR 101 290 priority 1 and 2 indicators of a stream, one row each:
//! a light, the standard's name and the count since the start of the run; the
//! row's tooltip gives the rule and what the light means now.
//!
//! The lights:
//! - grey: no data yet (no run, no packets, or the analyser is off);
//! - green: never seen in this run;
//! - amber: seen in this run, but not in the last second;
//! - red: seen in the last second of the stream (active now).
//! A file's summary (ShowCounters with live false) has no "now": green or amber.
//!
//! Maps counters to lights and nothing else; the tab decides when to refresh.
//! Threads: window thread only.

#include "analysis/CTr101290Counters.h"

#include <QColor>
#include <QString>
#include <QWidget>

#include <array>
#include <cstdint>

class QLabel;

class CIndicatorPanel : public QWidget
{
    Q_OBJECT

public:
    using Indicator = CTr101290Counters::Indicator;

    enum class Light : std::uint8_t
    {
        NoData, //!< grey
        Clear,  //!< green
        Seen,   //!< amber
        Active, //!< red
    };

    //! The light of one indicator: NoData without data, Active when seen in the
    //! last second (a live stream only), Seen when counted earlier, else Clear.
    static Light LightOf(bool hasData, std::uint64_t count, bool active, bool live = true);
    static QColor ColourOf(Light light);
    //! "no data yet", "never seen", "seen earlier in this run", "active now".
    static QString TextOf(Light light);

    //! @param columns 2: priority 2 beside priority 1; 1: below it.
    explicit CIndicatorPanel(QWidget* parent = nullptr, int columns = 2);

    //! Puts a panel into @p host (its layout, or a new one) inside a frameless
    //! scroll area: on a small window the rows scroll instead of raising the
    //! window's smallest size. @return the panel (owned by @p host's children).
    static CIndicatorPanel* Attach(QWidget* host, int columns = 2);

    //! The width that shows every row whole beside a vertical scroll bar.
    int FullWidth() const;

    //! Shows @p counters; @p live false for a stream that has ended (a file).
    void ShowCounters(const CTr101290Counters& counters, bool live = true);
    //! No data: every light grey, every count "-".
    void Clear();

    Light LightAt(Indicator indicator) const { return m_rows[Index(indicator)].state; }
    QString CountText(Indicator indicator) const;
    QString ToolTipOf(Indicator indicator) const;

private:
    struct Row
    {
        QLabel* light = nullptr;
        QLabel* name = nullptr;
        QLabel* count = nullptr;
        Light state = Light::NoData;
    };

    static std::size_t Index(Indicator indicator) { return static_cast<std::size_t>(indicator); }
    //! Repaints only what changed: the status timer calls this every second.
    void ShowRow(std::size_t index, Light state, const QString& count);

    std::array<Row, CTr101290Counters::kCount> m_rows{};
};
