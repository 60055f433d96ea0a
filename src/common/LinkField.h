#pragma once
//! @file LinkField.h
//! Which link a tab's Mode box chose and which of its fields a refusal names:
//! shared by the link's values (engine/CLinkFields) and its widgets
//! (controls/CLinkFieldsCtrl), so that a tab hands one to the other as it is.

#include <cstdint>

enum class LinkKind : std::uint8_t
{
    None, //!< UDP or RTP: no link
    Srt,
    Rist,
};

//! The field a refusal names, so that the tab can focus it.
enum class LinkField : std::uint8_t
{
    None,
    Address,
    Port,
    Latency,
    Passphrase,
    StreamId,
    Profile,
    Buffer,
    Secret,
};
