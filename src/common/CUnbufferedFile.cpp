#include "common/CUnbufferedFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

bool CUnbufferedFile::Create(const std::string& path)
{
    Close();
    m_written = 0;
    m_createFailure = CreateFailure::System;
    // No O_TRUNC here: the file is emptied only once it is known to be ours.
    // O_NONBLOCK keeps a named pipe without reader from blocking the open.
    constexpr int kFlags = O_WRONLY | O_CREAT | O_CLOEXEC | O_NONBLOCK;
    int fd = ::open(path.c_str(), kFlags | O_DIRECT, 0644);
    m_direct = fd >= 0;
    if (fd < 0 && errno == EINVAL)
        fd = ::open(path.c_str(), kFlags, 0644); // the file system refuses O_DIRECT
    if (fd < 0)
    {
        if (errno == ENXIO || errno == EISDIR)
            m_createFailure = CreateFailure::NotRegular; // a directory, or a pipe nobody reads
        return false;
    }
    CUniqueFd file(fd);
    // Closing the descriptor must not change the errno that says why.
    const auto fail = [&](CreateFailure why, int error) {
        file.Reset();
        m_createFailure = why;
        errno = error;
        return false;
    };
    struct stat st
    {
    };
    if (::fstat(fd, &st) != 0)
        return fail(CreateFailure::System, errno);
    if (!S_ISREG(st.st_mode))
        return fail(CreateFailure::NotRegular, S_ISDIR(st.st_mode) ? EISDIR : EINVAL);
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0)
        return fail(errno == EWOULDBLOCK ? CreateFailure::Locked : CreateFailure::System, errno);
    if (::ftruncate(fd, 0) != 0)
        return fail(CreateFailure::System, errno);
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0)
        ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    m_fd = std::move(file);
    m_createFailure = CreateFailure::None;
    return true;
}

bool CUnbufferedFile::IsLinked() const
{
    struct stat st
    {
    };
    return !m_fd.Valid() || ::fstat(m_fd.Get(), &st) != 0 || st.st_nlink > 0;
}

bool CUnbufferedFile::DropDirect()
{
    const int flags = ::fcntl(m_fd.Get(), F_GETFL);
    if (flags < 0 || ::fcntl(m_fd.Get(), F_SETFL, flags & ~O_DIRECT) < 0)
        return false;
    m_direct = false;
    return true;
}

bool CUnbufferedFile::Write(const void* data, std::uint64_t n)
{
    if (!m_fd.Valid())
    {
        errno = EBADF;
        return false;
    }
    const auto* p = static_cast<const std::uint8_t*>(data);
    // Bounded: every round either writes at least one byte or ends.
    while (n > 0)
    {
        const ssize_t done = ::write(m_fd.Get(), p, n);
        if (done < 0)
        {
            if (errno == EINTR)
                continue;
            if (errno == EINVAL && m_direct && DropDirect())
                continue; // misaligned remainder after a short write: finish buffered
            return false;
        }
        if (done == 0)
        {
            errno = ENOSPC;
            return false;
        }
        m_written += static_cast<std::uint64_t>(done);
        p += done;
        n -= static_cast<std::uint64_t>(done);
    }
    return true;
}

bool CUnbufferedFile::WriteTail(void* data, std::uint64_t n, std::uint32_t sectorBytes)
{
    if (n == 0)
        return true;
    if (!m_direct || sectorBytes == 0)
        return Write(data, n);
    const std::uint64_t padded = (n + sectorBytes - 1) / sectorBytes * sectorBytes;
    std::memset(static_cast<std::uint8_t*>(data) + n, 0, padded - n);
    const std::uint64_t before = m_written;
    const bool ok = Write(data, padded);
    // Cut the padding off again (and anything a failed write left half done).
    const std::uint64_t real = before + std::min(n, m_written - before);
    if (::ftruncate(m_fd.Get(), static_cast<off_t>(real)) != 0)
        return false;
    m_written = real;
    return ok;
}

bool CUnbufferedFile::Close()
{
    if (!m_fd.Valid())
        return true;
    const int fd = m_fd.Release();
    return ::close(fd) == 0;
}

std::uint32_t CUnbufferedFile::QuerySectorSize(const std::string& directory)
{
    struct statx st
    {
    };
    const std::string dir = directory.empty() ? std::string(".") : directory;
    if (::statx(AT_FDCWD, dir.c_str(), 0, STATX_DIOALIGN, &st) != 0 || (st.stx_mask & STATX_DIOALIGN) == 0)
        return kDefaultSectorBytes;
    const std::uint32_t align = std::max(st.stx_dio_mem_align, st.stx_dio_offset_align);
    // A power of two no larger than a page keeps the block layout sane.
    if (align == 0 || (align & (align - 1)) != 0 || align > 65'536)
        return kDefaultSectorBytes;
    return std::max<std::uint32_t>(align, kDefaultSectorBytes);
}
