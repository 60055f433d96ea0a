#pragma once
//! @file TimedStream.h
//! A constant-rate stream made packet by packet, for tests that need exact timing:
//! one 188-byte packet per millisecond (1.504 Mbit/s, 27,000 PCR ticks a packet).
//! Slot n: n % 100 == 0 PAT, == 1 PMT (program 1 on kPmtPid); n % 5 == 2 video
//! (kVideoPid, the PCR PID: a PCR every 25 ms, a PES with a PTS every 100 ms);
//! n % 5 == 3 audio (kAudioPid, a PES with a PTS every 50 ms); null packets else.

#include <bitstream/mpeg/pes.h>
#include <bitstream/mpeg/psi.h>
#include <bitstream/mpeg/ts.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <vector>

namespace tstest
{
//! Changes the packets of @ref pid in slots @ref from to @ref to (inclusive).
struct SlotFault
{
    std::uint16_t pid = 0;
    std::uint64_t from = 0, to = 0;
    bool drop = false;           //!< lost (its continuity count used up)
    bool silence = false;        //!< a null packet instead
    bool noPcr = false;          //!< video: no PCR
    bool noPts = false;          //!< no PES start
    std::uint64_t pcrOffset = 0; //!< added to the PCR (27 MHz)
    bool flipCrc = false;        //!< PAT, PMT: a wrong CRC_32
    int tableId = -1;            //!< PAT, PMT: this table_id
    std::size_t xorAt = 0;       //!< byte xorAt of the packet XOR xorMask
    std::uint8_t xorMask = 0;
};

struct TimedStream
{
    static constexpr std::uint16_t kPatPid = 0x000;
    static constexpr std::uint16_t kPmtPid = 0x100;
    static constexpr std::uint16_t kVideoPid = 0x101;
    static constexpr std::uint16_t kAudioPid = 0x102;
    static constexpr std::uint16_t kNullPid = 0x1FFF;

    static std::vector<std::uint8_t> Make(std::uint64_t slots, const std::vector<SlotFault>& faults = {})
    {
        std::vector<std::uint8_t> out;
        std::array<std::uint8_t, 8192> cc{};
        for (std::uint64_t n = 0; n < slots; ++n)
        {
            const std::uint16_t planned = n % 100 == 0   ? kPatPid
                                          : n % 100 == 1 ? kPmtPid
                                          : n % 5 == 2   ? kVideoPid
                                          : n % 5 == 3   ? kAudioPid
                                                         : kNullPid;
            SlotFault s{
                .pid = planned, .noPcr = n % 25 != 2, .noPts = planned == kVideoPid ? n % 100 != 2 : n % 50 != 3};
            s.tableId = planned == kPatPid ? 0x00 : 0x02;
            for (const SlotFault& f : faults)
                if (f.pid == planned && n >= f.from && n <= f.to)
                {
                    s.pid = f.silence ? kNullPid : s.pid;
                    s.drop |= f.drop, s.noPcr |= f.noPcr, s.noPts |= f.noPts, s.flipCrc |= f.flipCrc;
                    s.pcrOffset += f.pcrOffset;
                    s.tableId = f.tableId >= 0 ? f.tableId : s.tableId;
                    s.xorAt = f.xorMask != 0 ? f.xorAt : s.xorAt;
                    s.xorMask |= f.xorMask;
                }
            std::array<std::uint8_t, 188> p{};
            Write(p.data(), n, s, cc[s.pid]++);
            p[s.xorAt] ^= s.xorMask;
            if (!s.drop)
                out.insert(out.end(), p.begin(), p.end());
        }
        return out;
    }

private:
    static void Write(std::uint8_t* p, std::uint64_t n, const SlotFault& s, std::uint8_t cc)
    {
        ts_init(p);
        ts_set_pid(p, s.pid);
        ts_set_cc(p, cc & 0x0F);
        ts_set_payload(p);
        if (s.pid == kNullPid || s.pid == kPatPid || s.pid == kPmtPid)
            std::memset(p + 4, 0xFF, 184);
        if (s.pid == kPatPid || s.pid == kPmtPid)
        {
            // PAT: program 1 on kPmtPid. PMT: PCR on video, H.264 video, MPEG-2 AAC audio.
            static constexpr std::uint8_t kPat[] = {0, 1, 0xC1, 0, 0, 0, 1, 0xE1, 0x00};
            static constexpr std::uint8_t kPmt[] = {0,    1, 0xC1, 0, 0,    0xE1, 0x01, 0xF0, 0, 0x1B,
                                                    0xE1, 1, 0xF0, 0, 0x0F, 0xE1, 0x02, 0xF0, 0};
            const std::size_t body = s.pid == kPatPid ? sizeof kPat : sizeof kPmt;
            ts_set_unitstart(p);
            p[4] = 0; // pointer field
            std::uint8_t* section = p + 5;
            section[0] = static_cast<std::uint8_t>(s.tableId);
            section[1] = 0xB0;
            section[2] = static_cast<std::uint8_t>(body + 4);
            std::memcpy(section + 3, s.pid == kPatPid ? kPat : kPmt, body);
            psi_set_crc(section);
            section[3 + body + 3] ^= s.flipCrc ? 1 : 0;
            return;
        }
        if (s.pid == kNullPid)
            return;
        std::uint8_t* payload = p + 4;
        if (!s.noPcr && s.pid == kVideoPid)
        {
            const std::uint64_t pcr = (n * 27'000 + s.pcrOffset) % ((std::uint64_t{1} << 33) * 300);
            ts_set_adaptation(p, 7);
            tsaf_set_pcr(p, pcr / 300);
            tsaf_set_pcrext(p, static_cast<std::uint16_t>(pcr % 300));
            payload += 8;
        }
        if (s.noPts)
            return;
        ts_set_unitstart(p);
        pes_init(payload);
        pes_set_streamid(payload, s.pid == kVideoPid ? PES_STREAM_ID_VIDEO_MPEG : PES_STREAM_ID_AUDIO_MPEG);
        pes_set_headerlength(payload, 0);
        pes_set_pts(payload, n * 90 + 63'000);
    }
};
} // namespace tstest
