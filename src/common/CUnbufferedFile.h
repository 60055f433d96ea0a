#pragma once
//! @file CUnbufferedFile.h
//! Output file written past the page cache (O_DIRECT), the stand-in for
//! FILE_FLAG_NO_BUFFERING. Writes must then come from sector-aligned memory in
//! whole sectors; where the file system refuses O_DIRECT (tmpfs on older
//! kernels, some network file systems) the file is opened buffered instead and
//! every write still works. Move-only; closed exactly once.
//!
//! While open, the file holds an exclusive advisory lock (flock): a second
//! recorder naming the same file is refused before anything in it changes.

#include "common/CUniqueFd.h"

#include <cstdint>
#include <string>

class CUnbufferedFile
{
public:
    static constexpr std::uint32_t kDefaultSectorBytes = 512;

    //! Why the last Create failed.
    enum class CreateFailure
    {
        None,
        Locked,     //!< another writer holds the file's lock
        NotRegular, //!< a directory, device, pipe or socket
        System,     //!< errno says why
    };

    CUnbufferedFile() = default;
    CUnbufferedFile(CUnbufferedFile&&) noexcept = default;
    CUnbufferedFile& operator=(CUnbufferedFile&&) noexcept = default;

    //! Creates @p path for writing, truncating an existing file (CREATE_ALWAYS),
    //! but only once the file is a regular file and its lock is ours: a refused
    //! file keeps its content. @return false when the file cannot be created;
    //! LastCreateFailure() and errno say why.
    bool Create(const std::string& path);
    CreateFailure LastCreateFailure() const { return m_createFailure; }
    //! False once the file has lost its last name (deleted, or its directory removed).
    bool IsLinked() const;
    //! Writes all @p n bytes at the current end. With O_DIRECT, @p data must be
    //! aligned to the sector size and @p n a whole number of sectors, except for
    //! the last write of a file (WriteTail).
    //! @return false with errno set (ENOSPC, EFBIG, EIO...) when not everything
    //! could be written; BytesWritten() then tells how much reached the file.
    bool Write(const void* data, std::uint64_t n);
    //! Writes the last, partial block of a file: the bytes are padded to a whole
    //! sector for the unbuffered write and the file is cut back to its real size.
    //! @p data must have room for the padding (up to @p sectorBytes - 1 bytes).
    bool WriteTail(void* data, std::uint64_t n, std::uint32_t sectorBytes);
    //! Continues the file through the page cache (for a device that cannot keep
    //! up with unbuffered writes). @return false when the system refuses.
    bool UseBuffered() { return !m_direct || DropDirect(); }
    //! Closes the file; false with errno when the final close reports an error.
    bool Close();

    bool IsOpen() const { return m_fd.Valid(); }
    //! True when the file bypasses the page cache.
    bool IsDirect() const { return m_direct; }
    std::uint64_t BytesWritten() const { return m_written; }

    //! Alignment that unbuffered I/O needs on the volume holding @p directory
    //! (statx STATX_DIOALIGN, the larger of memory and offset alignment);
    //! kDefaultSectorBytes when the volume does not tell.
    static std::uint32_t QuerySectorSize(const std::string& directory);

private:
    bool DropDirect();

    CUniqueFd m_fd;
    CreateFailure m_createFailure = CreateFailure::None;
    bool m_direct = false;
    std::uint64_t m_written = 0;
};
