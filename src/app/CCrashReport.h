#pragma once
//! @file CCrashReport.h
//! Problem reports: a fatal signal (segmentation fault, abort, bus error,
//! floating-point or illegal instruction) or a failed allocation writes a report
//! with the subject "Problem report for Orvane", the version, the time and a
//! backtrace to one file under the user's data directory. The next start finds
//! it (TakePendingReport) and offers to show it.
//!
//! The signal handler only uses async-signal-safe calls on memory prepared by
//! Install, then lets the signal end the process as it would have.

#include <string>

class CCrashReport
{
public:
    static constexpr const char* kSubject = "Problem report for Orvane";
    static constexpr const char* kReportFileName = "problem-report.txt";

    //! Installs the handlers; reports go to @p directory (created if needed).
    static bool Install(const std::string& directory, const std::string& version);
    //! Restores the default handlers (at process exit).
    static void Uninstall();
    //! Routes failed allocations through a report: the allocation then fails as usual (std::bad_alloc).
    static void InstallNewHandler();
    //! Writes a report now with @p reason; true when written.
    static bool GenerateErrorReport(const char* reason);
    //! The path of the report file ("" before Install).
    static std::string ReportPath();
    //! If a report is waiting from an earlier run, renames it out of the way (so it is
    //! offered once) and returns its new path; "" otherwise.
    static std::string TakePendingReport(const std::string& directory);
};
