#pragma once
//! @file CAnalysisSnapshot.h
//! What the analysis knows about a stream at one moment: the programs from the
//! PAT, PMTs and SDT, the per-PID counters and the stream-wide figures. Taken
//! under the analysis lock and turned into trees without it.

#include "analysis/CTr101290Counters.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

//! One elementary stream of a program, from its PMT.
struct CStreamInfo
{
    std::uint16_t pid = 0;
    std::uint8_t streamType = 0;
    std::uint8_t descriptorHint = 0; //!< tag of a descriptor that names the content of a private stream, 0 if none
    std::string language;            //!< ISO 639 code when the PMT gives one
};

//! One program of the PAT, with what its PMT and the SDT say about it.
struct CProgramInfo
{
    std::uint16_t programNumber = 0;
    std::uint16_t pmtPid = 0;
    bool hasPmt = false;
    std::uint16_t pcrPid = 0x1FFF;
    std::vector<CStreamInfo> streams;
};

//! Names of one service, from the SDT (actual transport stream).
struct CServiceInfo
{
    std::string serviceName;
    std::string providerName;
    std::uint8_t serviceType = 0;
};

//! Counters of one PID.
struct CPidStats
{
    std::uint64_t packets = 0;
    std::uint32_t continuityErrors = 0;
    std::uint32_t transportErrors = 0;
    std::uint32_t scrambledPackets = 0;
    std::uint32_t crcErrors = 0; //!< PSI/SI sections with a bad CRC (ignored)
    std::uint8_t lastCc = 0;
    bool ccValid = false;
    bool duplicateSeen = false;
    bool carriesPcr = false;
};

//! A PID that was seen, for display.
struct CPidEntry
{
    std::uint16_t pid = 0;
    CPidStats stats;
    double bitRate = 0.0; //!< bit/s: its share of the recent packets times the stream rate
};

struct CAnalysisSnapshot
{
    int packetSize = 0;
    std::int64_t firstPacketOffset = -1;
    std::uint32_t syncLoss = 0;
    double bitRate = 0.0;
    bool pcrSeen = false;
    std::uint64_t totalPackets = 0;
    std::int64_t firstTime = 0; //!< first TDT/TOT time, s since 1970 (0 = none)
    std::int64_t lastTdt = 0;   //!< latest TDT time (0 = none)
    std::int64_t lastTot = 0;   //!< latest TOT time (0 = none)
    std::uint16_t transportStreamId = 0;
    bool hasPat = false;
    std::uint16_t networkPid = 0;      //!< NIT PID from the PAT (0 = none)
    std::uint32_t programsDropped = 0; //!< programs beyond the tracking limit
    std::map<std::uint16_t, CProgramInfo> programs;
    std::map<std::uint16_t, CServiceInfo> services;
    std::vector<CPidEntry> pids; //!< ascending PID order
    CTr101290Counters tr101290;
};
