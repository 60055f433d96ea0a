#pragma once
//! @file CLinkFields.h
//! What the Play and Record tabs' link fields hold for SRT and RIST, and the
//! transport made of them with the tab's address and port. A plain struct, so
//! that both tabs turn their fields into settings the same way (and the same
//! way as orvane-cli's URLs): SRT through CSrtSettings directly, RIST through
//! the rist:// URL librist's own parser checks (CRistSettings::Parse).

#include "common/LinkField.h"
#include "engine/CRistSettings.h"
#include "engine/CSrtSettings.h"
#include "engine/IDatagramInput.h"
#include "engine/IDatagramOutput.h"

#include <cstdint>
#include <memory>
#include <string>

struct CLinkFields
{
    using Kind = LinkKind;
    using Field = LinkField;

    static constexpr std::int32_t kDefaultBufferMs = 1'000; // librist's tools' default

    Kind kind = Kind::None;
    CSrtSettings::Mode srtMode = CSrtSettings::Mode::Caller;
    std::int32_t latencyMs = CSrtSettings::kDefaultLatencyMs;
    std::string passphrase; //!< empty: not encrypted
    std::string streamId;
    bool ristListener = false;
    CRistSettings::Profile profile = CRistSettings::Profile::Main;
    std::int32_t bufferMs = kDefaultBufferMs;
    std::string secret; //!< empty: not encrypted (main profile only)

    //! The SRT settings for @p host (the peer; a listener's local address, empty: any) and @p port.
    //! @return false with @p error and @p field naming what is wrong.
    bool MakeSrt(const std::string& host, std::uint16_t port, CSrtSettings& settings, std::string& error,
                 Field& field) const;
    //! The rist:// URL for @p host and @p port (a listener's "@", the buffer, the secret, the profile).
    std::string RistUrl(const std::string& host, std::uint16_t port) const;
    bool MakeRist(const std::string& host, std::uint16_t port, CRistSettings& settings, std::string& error,
                  Field& field) const;

    //! Checks the fields of the kind with @p host and @p port (None: nothing to check).
    //! @return false with @p error and @p field naming what is wrong.
    bool Check(const std::string& host, std::uint16_t port, std::string& error, Field& field) const;

    //! The sender's output (Play) or the receiver's input (Record) of the kind;
    //! null with @p error and @p field when the fields are refused (or kind is None).
    std::unique_ptr<IDatagramOutput> MakeOutput(const std::string& host, std::uint16_t port, std::string& error,
                                                Field& field) const;
    std::unique_ptr<IDatagramInput> MakeInput(const std::string& host, std::uint16_t port, std::string& error,
                                              Field& field) const;
    //! "SRT", "RIST" or "".
    const char* Name() const;
};
