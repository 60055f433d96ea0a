#include "engine/FecPacket.h"

#include <bitstream/ietf/rtp.h>
#include <bitstream/smpte/2022_1_fec.h>

namespace fec
{
bool Parse(std::span<const std::uint8_t> datagram, Header& out)
{
    if (datagram.size() < kOverheadBytes || datagram.size() > kMaxFecBytes || !rtp_check_hdr(datagram.data()))
        return false;
    const std::uint8_t* rtp = datagram.data();
    const std::uint8_t* f = rtp + kRtpHeaderBytes;
    const std::uint8_t typeIndex = f[12] & 0x3F; // type and index: 0 for XOR
    if (!smpte_fec_check_extension(f) || smpte_fec_get_mask(f) != 0 || smpte_fec_check_n(f) || typeIndex != 0)
        return false;
    out.stream = smpte_fec_check_d(f) ? Stream::Row : Stream::Column;
    out.snBase = smpte_fec_get_snbase_low(f);
    out.offset = smpte_fec_get_offset(f);
    out.count = smpte_fec_get_na(f);
    if (out.stream == Stream::Column)
    {
        if (out.offset < kMinColumns || out.offset > kMaxColumns || out.count < kMinRows || out.count > kMaxRows ||
            out.offset * out.count > kMaxMatrix)
            return false;
    }
    else if (out.offset != 1 || out.count < kMinColumns || out.count > kMaxColumns)
        return false;
    out.recovery.length = smpte_fec_get_length_rec(f);
    out.recovery.pxcc = rtp[0] & 0x3F;
    out.recovery.marker = rtp[1] >> 7;
    out.recovery.type = smpte_fec_get_pt_recovery(f);
    out.recovery.timestamp = smpte_fec_get_ts_recovery(f);
    out.payload = datagram.subspan(kOverheadBytes);
    return true;
}

void WriteHeaders(std::uint8_t* packet, std::uint16_t sequence, std::uint32_t rtpTimestamp, std::uint32_t ssrc,
                  const Header& h)
{
    std::memset(packet, 0, kOverheadBytes);
    rtp_set_hdr(packet);
    packet[0] |= h.recovery.pxcc & 0x3F;
    rtp_set_type(packet, kPayloadType);
    if (h.recovery.marker)
        rtp_set_marker(packet);
    rtp_set_seqnum(packet, sequence);
    rtp_set_timestamp(packet, rtpTimestamp);
    rtp_set_int_ssrc(packet, ssrc);
    std::uint8_t* f = packet + kRtpHeaderBytes;
    smpte_fec_set_snbase_low(f, h.snBase);
    smpte_fec_set_length_rec(f, h.recovery.length);
    smpte_fec_set_extension(f);
    smpte_fec_set_pt_recovery(f, h.recovery.type);
    smpte_fec_set_mask(f, 0);
    smpte_fec_set_ts_recovery(f, h.recovery.timestamp);
    if (h.stream == Stream::Row)
        smpte_fec_set_d(f);
    smpte_fec_set_offset(f, h.offset);
    smpte_fec_set_na(f, h.count);
    smpte_fec_set_snbase_ext(f, 0);
}
} // namespace fec
