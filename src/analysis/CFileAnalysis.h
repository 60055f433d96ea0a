#pragma once
//! @file CFileAnalysis.h
//! The analysis of a transport stream file when it is opened for play: the head
//! (a little over 10 MiB) and the tail (the last 1 MiB) are read through the
//! caller's CDecodeStream, and the packet count, play time, bit rate (a default by
//! file size when there is no PCR) and the File Information lines are worked out.
//! Reads at most about 11 MiB whatever the file size. Qt-free: the Play tab and
//! `orvane-cli` both call it; the caller then shows the trees with
//! CDecodeStream::UpdateDisplay(1, 1).

#include "analysis/CTr101290Counters.h"
#include "analysis/ITreeSink.h"

#include <cstdint>
#include <string>

class CDecodeStream;

struct CFileAnalysisResult
{
    bool ok = false;           //!< false: the file could not be opened or read
    std::string error;         //!< why not, for the user; when ok, why no packets were found
    std::int64_t fileSize = 0; //!< bytes
    int packetSize = 0;        //!< 188 or 204; 0 = no packets found
    std::int64_t bytesBeforeFirstPacket = 0;
    std::int64_t bytesAfterLastPacket = 0;
    std::int64_t packetCount = 0;
    double bitRate = 0.0;  //!< bit/s: the PCR rate, or the default by file size
    bool pcrFound = false; //!< false: @ref bitRate is the default
    std::int64_t playTimeMs = 0;
    std::int64_t fileTotTdtTime = 0; //!< first TDT/TOT time, s since 1970 (0 = none)
    std::int64_t analysedBytes = 0;  //!< the head fed to the decoder: what its snapshot (TR 101 290 too) covers
    std::string fileNameLabel;       //!< name and extension, without the folder
    CTreeNode fileInformation;       //!< the File Information tree (root and its lines)
};

class CFileAnalysis
{
public:
    static constexpr std::int64_t kHeadBytes = 10 * 1024 * 1024; //!< head reads stop beyond this
    static constexpr std::int64_t kTailBytes = 1024 * 1024;      //!< the tail read
    static constexpr std::int64_t kSmallFileBytes = 1024 * 1024; //!< below: may not loop
    static constexpr double kRateSmallFile = 400'000.0;          //!< bit/s, file < 1 MiB
    static constexpr double kRateMediumFile = 4'000'000.0;       //!< bit/s, file < 10 MiB
    static constexpr double kRateLargeFile = 40'000'000.0;       //!< bit/s, larger files
    static constexpr const char* kMsgNotAFile = "Not a file: only regular files and block devices can be analysed";
    static constexpr const char* kMsgM2tsPackets = "192-byte M2TS packets (with a 4-byte time code) are not supported";

    //! Whether @p data holds 192-byte M2TS packets (a 4-byte time code before
    //! each 188-byte packet): sync bytes 192 bytes apart, five times in a row.
    static bool LooksLikeM2ts(const std::uint8_t* data, std::size_t length);

    //! The rate used when the head holds no PCR.
    static double DefaultBitRate(std::int64_t fileSize);

    //! Analyses @p path with @p decoder (its lists are reset first).
    //! @param separator digit grouping of the File Information lines; the user's
    //!        locale separator when empty.
    //! On failure the result has ok false, the reason in error and the tree
    //! "Error reading file" / "Invalid file"; the caller keeps its previous results.
    //! Only regular files and block devices are read: a named pipe, a socket or
    //! a character device is refused at once (a pipe would never end).
    static CFileAnalysisResult Analyse(const std::string& path, CDecodeStream& decoder,
                                       const std::string& separator = std::string());

    //! The TR 101 290 indicators of the whole file (Analyse reads only its head), read
    //! to the end in 1 MiB chunks through a decoder of its own: as long as the disk takes
    //! to read it, so a job for the command line or a worker thread. @p bytes = bytes read.
    //! @return false when the file cannot be opened or read to its end (errno tells why).
    static bool JudgeWholeFile(const std::string& path, double pidTimeoutSeconds, CTr101290Counters& counters,
                               std::int64_t& bytes);

    //! The File Information tree for a finished analysis (also used by Analyse).
    static CTreeNode FileInformation(const CFileAnalysisResult& result, const std::string& separator);
};
