#pragma once
//! @file CAlignedBuffer.h
//! One page-aligned block of stream memory (anonymous mmap):
//! committed once per stream, released when the stream stops. Move-only.

#include <cstddef>
#include <cstdint>

class CAlignedBuffer
{
public:
    CAlignedBuffer() = default;
    ~CAlignedBuffer();
    CAlignedBuffer(CAlignedBuffer&& other) noexcept;
    CAlignedBuffer& operator=(CAlignedBuffer&& other) noexcept;
    CAlignedBuffer(const CAlignedBuffer&) = delete;
    CAlignedBuffer& operator=(const CAlignedBuffer&) = delete;

    //! Releases any block held, then maps @p bytes of zeroed, page-aligned memory.
    //! @return false when the system refuses the mapping (the buffer is then empty).
    bool Allocate(std::size_t bytes);
    void Release();

    std::uint8_t* Data() const { return m_data; }
    std::size_t Size() const { return m_size; }
    bool Empty() const { return m_data == nullptr; }

private:
    std::uint8_t* m_data = nullptr;
    std::size_t m_size = 0;
};
