#include "common/CTimerSlack.h"

#include <sys/prctl.h>

CTimerSlack::CTimerSlack(std::uint64_t slackNs) : m_saved(Current()), m_wanted(slackNs)
{
    prctl(PR_SET_TIMERSLACK, m_wanted, 0, 0, 0);
}

CTimerSlack::~CTimerSlack()
{
    prctl(PR_SET_TIMERSLACK, m_saved, 0, 0, 0);
}

void CTimerSlack::Refresh()
{
    if (Current() != m_wanted)
        prctl(PR_SET_TIMERSLACK, m_wanted, 0, 0, 0);
}

std::uint64_t CTimerSlack::Current()
{
    const int r = prctl(PR_GET_TIMERSLACK, 0, 0, 0, 0);
    return r < 0 ? 0 : static_cast<std::uint64_t>(r);
}
