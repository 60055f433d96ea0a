#include "CStopSignals.h"

#include <atomic>

namespace
{
std::atomic<int> g_received{0};

extern "C" void OnStopSignal(int signal)
{
    g_received.store(signal);
}
} // namespace

CStopSignals::CStopSignals(bool ignoreWriteSignals) : m_ignoreWriteSignals(ignoreWriteSignals)
{
    g_received.store(0);
    struct sigaction action
    {
    };
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, &m_oldInt);
    sigaction(SIGTERM, &action, &m_oldTerm);
    if (!m_ignoreWriteSignals)
        return;
    struct sigaction ignore
    {
    };
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGPIPE, &ignore, &m_oldPipe);
    sigaction(SIGXFSZ, &ignore, &m_oldFileSize);
}

CStopSignals::~CStopSignals()
{
    sigaction(SIGINT, &m_oldInt, nullptr);
    sigaction(SIGTERM, &m_oldTerm, nullptr);
    if (!m_ignoreWriteSignals)
        return;
    sigaction(SIGPIPE, &m_oldPipe, nullptr);
    sigaction(SIGXFSZ, &m_oldFileSize, nullptr);
}

int CStopSignals::Received()
{
    return g_received.load();
}
