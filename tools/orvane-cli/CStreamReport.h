#pragma once
//! @file CStreamReport.h
//! What orvane-cli reports once a second about a stream, in two forms: a JSON
//! line (`monitor` and `record` with --json) and the Prometheus text served at
//! /metrics (--metrics). The names are an interface: dashboards and scripts are
//! written against them (docs/monitoring-output.md).

#include "analysis/CAnalysisSnapshot.h"
#include "analysis/CTr101290Counters.h"
#include "engine/CDvbIpRecvThread.h"
#include "engine/TransportStats.h"

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

class CStreamReport
{
public:
    //! A received stream (monitor, record); counters are cumulative from the start.
    struct Receive
    {
        std::chrono::system_clock::time_point time;
        double bitRate = 0.0;    //!< transport-stream bytes received in the last second, bit/s
        double pcrBitRate = 0.0; //!< the analysis' PCR bit rate, bit/s; 0 = none yet
        std::uint64_t packets = 0;
        CDvbIpRecvThread::Mdi mdi;
        CDvbIpRecvThread::Counters counters;
        CTr101290Counters tr101290;
        std::vector<CPidEntry> pids;
        TransportStats transport; //!< SRT's link figures; not valid over plain UDP
    };

    //! A play to the network.
    struct Play
    {
        double bitRate = 0.0;         //!< the play's rate, bit/s
        double fifoLevelRatio = 0.0;  //!< 0..1 of the sender's FIFO
        std::uint64_t sendErrors = 0; //!< datagrams the kernel refused
        std::int64_t loops = 0;
        std::uint64_t sentBytes = 0;
        TransportStats transport; //!< SRT's link figures; not valid over plain UDP
    };

    //! One JSON object on one line (no newline).
    static std::string JsonLine(const Receive& r);
    //! /metrics of a received stream; @p mode is "monitor" or "record".
    static std::string ReceiveMetrics(const std::string& stream, const std::string& mode, const Receive& r);
    static std::string PlayMetrics(const std::string& stream, const Play& p);

    //! The link's part of a status line: state, peer, RTT, rates, retransmitted,
    //! lost, dropped, buffer, reconnects; while not connected the last error.
    //! Empty when @p t is not valid.
    static std::string TransportText(const TransportStats& t);
    //! The "srt" object of a JSON line (nlohmann's dump of it).
    static std::string TransportJson(const TransportStats& t);

    //! @p text as a label value of the text format: backslash, double quote and newline escaped.
    static std::string EscapeLabel(const std::string& text);
    //! "2026-12-07T08:00:00.123Z".
    static std::string IsoTime(std::chrono::system_clock::time_point time);
};
