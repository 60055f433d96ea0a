#include "common/CUniqueFd.h"

#include <unistd.h>

void CUniqueFd::Reset(int fd)
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = fd;
}
