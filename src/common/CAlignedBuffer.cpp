#include "common/CAlignedBuffer.h"

#include <sys/mman.h>

#include <utility>

CAlignedBuffer::~CAlignedBuffer()
{
    Release();
}

CAlignedBuffer::CAlignedBuffer(CAlignedBuffer&& other) noexcept
    : m_data(std::exchange(other.m_data, nullptr)), m_size(std::exchange(other.m_size, 0))
{
}

CAlignedBuffer& CAlignedBuffer::operator=(CAlignedBuffer&& other) noexcept
{
    if (this != &other)
    {
        Release();
        m_data = std::exchange(other.m_data, nullptr);
        m_size = std::exchange(other.m_size, 0);
    }
    return *this;
}

bool CAlignedBuffer::Allocate(std::size_t bytes)
{
    Release();
    if (bytes == 0)
        return false;
    void* p = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED)
        return false;
    m_data = static_cast<std::uint8_t*>(p);
    m_size = bytes;
    return true;
}

void CAlignedBuffer::Release()
{
    if (m_data != nullptr)
        munmap(m_data, m_size);
    m_data = nullptr;
    m_size = 0;
}
