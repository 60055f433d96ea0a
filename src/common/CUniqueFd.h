#pragma once
//! @file CUniqueFd.h
//! Move-only owner of a file descriptor or socket: closed exactly once.

#include <utility>

class CUniqueFd
{
public:
    CUniqueFd() = default;
    explicit CUniqueFd(int fd) : m_fd(fd) {}
    ~CUniqueFd() { Reset(); }
    CUniqueFd(CUniqueFd&& other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}
    CUniqueFd& operator=(CUniqueFd&& other) noexcept
    {
        if (this != &other)
            Reset(std::exchange(other.m_fd, -1));
        return *this;
    }
    CUniqueFd(const CUniqueFd&) = delete;
    CUniqueFd& operator=(const CUniqueFd&) = delete;

    int Get() const { return m_fd; }
    bool Valid() const { return m_fd >= 0; }
    //! Closes the descriptor held (if any) and takes @p fd.
    void Reset(int fd = -1);
    int Release() { return std::exchange(m_fd, -1); }

private:
    int m_fd = -1;
};
