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

CStopSignals::CStopSignals()
{
    g_received.store(0);
    struct sigaction action
    {
    };
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, &m_oldInt);
    sigaction(SIGTERM, &action, &m_oldTerm);
}

CStopSignals::~CStopSignals()
{
    sigaction(SIGINT, &m_oldInt, nullptr);
    sigaction(SIGTERM, &m_oldTerm, nullptr);
}

int CStopSignals::Received()
{
    return g_received.load();
}
