#pragma once
//! @file StreamTypeName.h
//! Readable names of PMT stream types (ISO/IEC 13818-1 table 2-34, ATSC, DVB).

#include <cstdint>
#include <string>

//! PMT descriptors that say what a private (stream type 0x06) stream carries.
namespace DescriptorTag
{
constexpr std::uint8_t kRegistration = 0x05;
constexpr std::uint8_t kLanguage = 0x0A;
constexpr std::uint8_t kServiceDescriptor = 0x48;
constexpr std::uint8_t kVbiTeletext = 0x46;
constexpr std::uint8_t kTeletext = 0x56;
constexpr std::uint8_t kSubtitling = 0x59;
constexpr std::uint8_t kAc3 = 0x6A;
constexpr std::uint8_t kEnhancedAc3 = 0x7A;
constexpr std::uint8_t kDts = 0x7B;
constexpr std::uint8_t kAac = 0x7C;
} // namespace DescriptorTag

//! "H.264 video", "AC-3 audio"... @p descriptorHint refines private streams;
//! unknown types give "Stream type 0xNN".
std::string StreamTypeName(std::uint8_t streamType, std::uint8_t descriptorHint);

//! True when @p descriptorTag names the content of a private stream.
bool IsContentDescriptor(std::uint8_t descriptorTag);
