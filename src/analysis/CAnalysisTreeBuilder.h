#pragma once
//! @file CAnalysisTreeBuilder.h
//! Turns an analysis snapshot into the two trees the user reads: programs (with
//! service names, PMT and PCR PIDs and their streams) and PIDs (with their use,
//! bit rate and error counters, after a summary of the whole stream).

#include "analysis/CAnalysisSnapshot.h"
#include "analysis/ITreeSink.h"

#include <map>
#include <string>
#include <vector>

class CAnalysisTreeBuilder
{
public:
    //! Red and green as colour references 0x00BBGGRR.
    static constexpr std::uint32_t kRed = 0x000000FF;
    static constexpr std::uint32_t kGreen = 0x0000FF00;

    //! @param separator digit grouping of counts and rates ("." or the user's).
    explicit CAnalysisTreeBuilder(std::string separator) : m_separator(std::move(separator)) {}

    std::vector<CTreeNode> BuildProgramTree(const CAnalysisSnapshot& snapshot) const;
    std::vector<CTreeNode> BuildPidTree(const CAnalysisSnapshot& snapshot) const;

    //! "PID 0x0100 (256)".
    static std::string PidText(std::uint16_t pid);
    //! "2024-01-01 12:00:00 UTC".
    static std::string TimeText(std::int64_t secondsSince1970);

private:
    //! What each PID carries, from the tables ("PAT", "PMT of program 3", "H.264 video, program 1"...).
    static std::map<std::uint16_t, std::string> PidUses(const CAnalysisSnapshot& snapshot);
    std::string Rate(double bitsPerSecond) const;
    std::string Count(std::uint64_t value) const;

    std::string m_separator;
};
