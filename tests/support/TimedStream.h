#pragma once
//! @file TimedStream.h
//! A constant-rate stream made slot by slot, for tests that need its timing exact:
//! one 188-byte packet per millisecond (1.504 Mbit/s, 27,000 PCR ticks a packet).
//! Slot n: n % 100 == 0 PAT, == 1 PMT (program 1 on kPmtPid); n % 5 == 2 video
//! (kVideoPid, the PCR PID: a PCR every 25 ms, a PES with a PTS every 100 ms);
//! n % 5 == 3 audio (kAudioPid, a PES with a PTS every 50 ms); null packets else.
//! A fault hook may change each slot's plan before its bytes are made.

#include <bitstream/mpeg/psi.h>
#include <bitstream/mpeg/ts.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <functional>
#include <vector>

namespace tstest
{
struct SlotPlan
{
    std::uint64_t slot = 0;      //!< = ms of stream time
    std::uint16_t pid = 0x1FFF;  //!< a real PID set to 0x1FFF sends a null packet instead
    bool pcr = false;            //!< video: carries a PCR
    bool pesStart = false;       //!< video, audio: starts a PES with a PTS
    std::uint64_t pcrOffset = 0; //!< added to the PCR (27 MHz)
    std::uint8_t tableId = 0xFF; //!< PAT, PMT: their table_id (the right one by default)
    bool flipCrc = false;        //!< PAT, PMT: the CRC_32 made wrong
    bool drop = false;           //!< the packet is lost (its continuity count is used)
    std::size_t xorAt = 0;       //!< with xorMask: a byte of the packet changed at the end
    std::uint8_t xorMask = 0;
};

struct TimedStream
{
    static constexpr std::uint16_t kPmtPid = 0x100;
    static constexpr std::uint16_t kVideoPid = 0x101;
    static constexpr std::uint16_t kAudioPid = 0x102;
    static constexpr double kRate = 188 * 8 * 1000.0;
    static constexpr std::uint64_t kTicksPerSlot = 27'000;

    static std::vector<std::uint8_t> Make(std::uint64_t slots, const std::function<void(SlotPlan&)>& fault = {})
    {
        std::vector<std::uint8_t> out;
        std::array<std::uint8_t, 8192> cc{};
        for (std::uint64_t n = 0; n < slots; ++n)
        {
            SlotPlan plan;
            plan.slot = n;
            if (n % 100 == 0)
                plan = {.slot = n, .pid = 0x0000, .tableId = 0x00};
            else if (n % 100 == 1)
                plan = {.slot = n, .pid = kPmtPid, .tableId = 0x02};
            else if (n % 5 == 2)
                plan = {.slot = n, .pid = kVideoPid, .pcr = n % 25 == 2, .pesStart = n % 100 == 2};
            else if (n % 5 == 3)
                plan = {.slot = n, .pid = kAudioPid, .pesStart = n % 50 == 3};
            if (fault)
                fault(plan);
            std::array<std::uint8_t, 188> p;
            Packet(p.data(), plan, cc[plan.pid]++);
            p[plan.xorAt] ^= plan.xorMask;
            if (!plan.drop)
                out.insert(out.end(), p.begin(), p.end());
        }
        return out;
    }

private:
    static void Packet(std::uint8_t* p, const SlotPlan& plan, std::uint8_t cc)
    {
        std::memset(p, 0, 188);
        ts_init(p);
        ts_set_pid(p, plan.pid);
        ts_set_cc(p, cc & 0x0F);
        ts_set_payload(p);
        if (plan.pid == 0x1FFF)
        {
            std::memset(p + 4, 0xFF, 184);
            return;
        }
        std::size_t at = 4;
        if (plan.pcr)
        {
            ts_set_adaptation(p, 7);
            const std::uint64_t pcr = (plan.slot * kTicksPerSlot + plan.pcrOffset) % ((std::uint64_t{1} << 33) * 300);
            tsaf_set_pcr(p, pcr / 300);
            tsaf_set_pcrext(p, static_cast<std::uint16_t>(pcr % 300));
            at += 8;
        }
        if (plan.pid == 0x0000 || plan.pid == kPmtPid)
        {
            ts_set_unitstart(p);
            std::memset(p + 4, 0xFF, 184);
            p[at++] = 0; // pointer field
            std::uint8_t* s = p + at;
            // PAT: program 1 on kPmtPid. PMT: PCR on video, H.264 video and MPEG-2 AAC audio.
            const std::vector<std::uint8_t> pat = {0x00, 0x01, 0xC1, 0, 0, 0x00, 0x01, 0xE1, 0x00};
            const std::vector<std::uint8_t> pmt = {0x00, 0x01, 0xC1, 0,    0,    0xE1, 0x01, 0xF0, 0x00, 0x1B,
                                                   0xE1, 0x01, 0xF0, 0x00, 0x0F, 0xE1, 0x02, 0xF0, 0x00};
            const std::vector<std::uint8_t>& body = plan.pid == 0 ? pat : pmt;
            s[0] = plan.tableId;
            s[1] = 0xB0;
            s[2] = static_cast<std::uint8_t>(body.size() + 4);
            std::memcpy(s + 3, body.data(), body.size());
            psi_set_crc(s);
            if (plan.flipCrc)
                s[3 + body.size() + 3] ^= 0x01;
            return;
        }
        if (plan.pesStart)
        {
            ts_set_unitstart(p);
            const std::uint64_t pts = plan.slot * 90 + 63'000;
            const std::uint8_t pes[14] = {0x00,
                                          0x00,
                                          0x01,
                                          plan.pid == kVideoPid ? std::uint8_t{0xE0} : std::uint8_t{0xC0},
                                          0x00,
                                          0x00,
                                          0x80,
                                          0x80,
                                          0x05,
                                          static_cast<std::uint8_t>(0x21 | ((pts >> 29) & 0x0E)),
                                          static_cast<std::uint8_t>(pts >> 22),
                                          static_cast<std::uint8_t>(0x01 | ((pts >> 14) & 0xFE)),
                                          static_cast<std::uint8_t>(pts >> 7),
                                          static_cast<std::uint8_t>(0x01 | ((pts << 1) & 0xFE))};
            std::memcpy(p + at, pes, sizeof pes);
        }
    }
};
} // namespace tstest
