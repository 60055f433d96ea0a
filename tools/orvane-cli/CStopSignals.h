#pragma once
//! @file CStopSignals.h
//! SIGINT and SIGTERM ask a running play or recording to stop cleanly. On
//! request SIGPIPE (standard output closed, `| head`) and SIGXFSZ (file size
//! limit) are ignored too, so that the write concerned fails with EPIPE or
//! EFBIG and the run stops with a message instead of dying. The handlers that
//! were there before come back when the object goes.

#include <csignal>

class CStopSignals
{
public:
    //! @param ignoreWriteSignals ignore SIGPIPE and SIGXFSZ while the object lives.
    explicit CStopSignals(bool ignoreWriteSignals = false);
    ~CStopSignals();
    CStopSignals(const CStopSignals&) = delete;
    CStopSignals& operator=(const CStopSignals&) = delete;

    //! The signal that asked to stop, 0 while none has.
    static int Received();

private:
    bool m_ignoreWriteSignals;
    struct sigaction m_oldInt
    {
    };
    struct sigaction m_oldTerm
    {
    };
    struct sigaction m_oldPipe
    {
    };
    struct sigaction m_oldFileSize
    {
    };
};
