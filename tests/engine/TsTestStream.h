#pragma once
//! @file TsTestStream.h
//! Test helpers for the play path: numbered transport-stream packets written to
//! files, and a bounded wait.
//!
//! Packet n carries PID 0x100, continuity counter n mod 16 and its number in
//! 6-bit digits; no payload byte is 0x47, so only real packet starts look like
//! sync bytes to the sender's resynchronisation.

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace tstest
{
constexpr std::uint32_t kPacket = 188;
constexpr std::uint16_t kDataPid = 0x100;
constexpr std::uint16_t kNullPid = 0x1FFF;
constexpr std::int64_t kNullIndex = -1;
constexpr std::int64_t kOtherIndex = -2;

inline void FillPacket(std::uint8_t* p, std::uint64_t n)
{
    p[0] = 0x47;
    p[1] = static_cast<std::uint8_t>(kDataPid >> 8);
    p[2] = static_cast<std::uint8_t>(kDataPid & 0xFF);
    p[3] = static_cast<std::uint8_t>(0x10 | (n & 0x0F));
    for (std::uint32_t d = 0; d < 5; ++d)
        p[4 + d] = static_cast<std::uint8_t>((n >> (6 * d)) & 0x3F);
    for (std::uint32_t j = 9; j < kPacket; ++j)
        p[j] = static_cast<std::uint8_t>((n * 7 + j) & 0x3F);
}

inline std::vector<std::uint8_t> MakePackets(std::uint64_t count, std::uint64_t first = 0)
{
    std::vector<std::uint8_t> v(count * kPacket);
    for (std::uint64_t i = 0; i < count; ++i)
        FillPacket(v.data() + i * kPacket, first + i);
    return v;
}

inline void WriteFile(const std::string& path, const std::vector<std::uint8_t>& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

//! The packet's number, kNullIndex for a null packet, kOtherIndex for anything else.
inline std::int64_t Classify(const std::uint8_t* p)
{
    if (p[0] != 0x47)
        return kOtherIndex;
    const std::uint16_t pid = static_cast<std::uint16_t>(((p[1] & 0x1F) << 8) | p[2]);
    if (pid == kNullPid)
        return kNullIndex;
    if (pid != kDataPid)
        return kOtherIndex;
    std::int64_t n = 0;
    for (std::uint32_t d = 0; d < 5; ++d)
        n |= std::int64_t{p[4 + d]} << (6 * d);
    std::uint8_t expect[kPacket];
    FillPacket(expect, static_cast<std::uint64_t>(n));
    return std::equal(expect, expect + kPacket, p) ? n : kOtherIndex;
}

//! Polls @p pred until it holds; false when @p limit passes first.
template<typename Pred> bool WaitFor(Pred pred, std::chrono::milliseconds limit = std::chrono::seconds(10))
{
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!pred())
    {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

//! A directory under the test temp dir, removed with its files at the end.
class TempDir
{
public:
    TempDir()
    {
        std::string templ = "/tmp/orvane-play-XXXXXX";
        if (mkdtemp(templ.data()) != nullptr)
            m_path = templ;
    }
    ~TempDir()
    {
        for (const auto& f : m_files)
            std::remove(f.c_str());
        rmdir(m_path.c_str());
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    std::string File(const std::string& name)
    {
        m_files.push_back(m_path + "/" + name);
        return m_files.back();
    }
    const std::string& Path() const { return m_path; }

private:
    std::string m_path;
    std::vector<std::string> m_files;
};
} // namespace tstest
