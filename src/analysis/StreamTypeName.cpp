#include "analysis/StreamTypeName.h"

#include <cstdio>

bool IsContentDescriptor(std::uint8_t descriptorTag)
{
    switch (descriptorTag)
    {
    case DescriptorTag::kVbiTeletext:
    case DescriptorTag::kTeletext:
    case DescriptorTag::kSubtitling:
    case DescriptorTag::kAc3:
    case DescriptorTag::kEnhancedAc3:
    case DescriptorTag::kDts:
    case DescriptorTag::kAac:
        return true;
    default:
        return false;
    }
}

std::string StreamTypeName(std::uint8_t streamType, std::uint8_t descriptorHint)
{
    if (streamType == 0x06)
    {
        switch (descriptorHint)
        {
        case DescriptorTag::kAc3:
            return "AC-3 audio";
        case DescriptorTag::kEnhancedAc3:
            return "E-AC-3 audio";
        case DescriptorTag::kDts:
            return "DTS audio";
        case DescriptorTag::kAac:
            return "AAC audio";
        case DescriptorTag::kTeletext:
            return "Teletext";
        case DescriptorTag::kVbiTeletext:
            return "VBI teletext";
        case DescriptorTag::kSubtitling:
            return "DVB subtitles";
        default:
            return "Private data (PES)";
        }
    }
    switch (streamType)
    {
    case 0x01:
        return "MPEG-1 video";
    case 0x02:
        return "MPEG-2 video";
    case 0x03:
        return "MPEG-1 audio";
    case 0x04:
        return "MPEG-2 audio";
    case 0x05:
        return "Private sections";
    case 0x0B:
        return "DSM-CC sections";
    case 0x0F:
        return "AAC audio (ADTS)";
    case 0x10:
        return "MPEG-4 video";
    case 0x11:
        return "AAC audio (LATM)";
    case 0x15:
        return "Metadata (PES)";
    case 0x1B:
        return "H.264 video";
    case 0x1C:
        return "MPEG-4 audio";
    case 0x24:
        return "HEVC video";
    case 0x33:
        return "VVC video";
    case 0x81:
        return "AC-3 audio";
    case 0x82:
        return "DTS audio";
    case 0x86:
        return "SCTE-35 splice information";
    case 0x87:
        return "E-AC-3 audio";
    default: {
        char text[32];
        std::snprintf(text, sizeof text, "Stream type 0x%02X", streamType);
        return text;
    }
    }
}
