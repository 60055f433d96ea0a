#include "engine/CLinkFields.h"

#include "engine/CRistInput.h"
#include "engine/CRistOutput.h"
#include "engine/CSrtInput.h"
#include "engine/CSrtOutput.h"

namespace
{
bool Refuse(std::string& error, CLinkFields::Field& field, std::string text, CLinkFields::Field which)
{
    error = std::move(text);
    field = which;
    return false;
}

//! %XX for what would end a URL value (& ? = # % and spaces).
std::string Escape(const std::string& text)
{
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (const char c : text)
    {
        const auto byte = static_cast<unsigned char>(c);
        if (byte <= ' ' || byte >= 0x7F || c == '&' || c == '?' || c == '=' || c == '#' || c == '%')
        {
            out += '%';
            out += kHex[byte >> 4];
            out += kHex[byte & 15];
        }
        else
            out += c;
    }
    return out;
}

//! The output or the input of @p link's kind; null with @p error and @p field when refused (or None).
template<typename Made, typename SrtMade, typename RistMade>
std::unique_ptr<Made> MakeLink(const CLinkFields& link, const std::string& host, std::uint16_t port, std::string& error,
                               CLinkFields::Field& field)
{
    CSrtSettings srt;
    CRistSettings rist;
    if (link.kind == CLinkFields::Kind::Srt && link.MakeSrt(host, port, srt, error, field))
        return std::make_unique<SrtMade>(srt);
    if (link.kind == CLinkFields::Kind::Rist && link.MakeRist(host, port, rist, error, field))
        return std::make_unique<RistMade>(rist);
    return nullptr;
}
} // namespace

const char* CLinkFields::Name() const
{
    return kind == Kind::Srt ? "SRT" : kind == Kind::Rist ? "RIST" : "";
}

bool CLinkFields::MakeSrt(const std::string& host, std::uint16_t port, CSrtSettings& settings, std::string& error,
                          Field& field) const
{
    if (port == 0)
        return Refuse(error, field, "SRT needs a port between 1 and 65535.", Field::Port);
    if (host.empty() && srtMode != CSrtSettings::Mode::Listener)
        return Refuse(error, field,
                      std::string("An SRT ") + CSrtSettings::ModeName(srtMode) + " needs the peer's address.",
                      Field::Address);
    if (latencyMs < 0 || latencyMs > CSrtSettings::kMaxLatencyMs)
        return Refuse(error, field, "The SRT latency must be 0 to 60000 ms.", Field::Latency);
    if (!passphrase.empty() &&
        (passphrase.size() < CSrtSettings::kMinPassphrase || passphrase.size() > CSrtSettings::kMaxPassphrase))
        return Refuse(error, field,
                      "The SRT passphrase needs 10 to 79 characters (this one has " +
                          std::to_string(passphrase.size()) + "), or none for no encryption.",
                      Field::Passphrase);
    if (streamId.size() > CSrtSettings::kMaxStreamId)
        return Refuse(error, field, "The SRT stream id takes at most 512 characters.", Field::StreamId);
    settings = CSrtSettings{.mode = srtMode,
                            .host = host,
                            .port = port,
                            .latencyMs = latencyMs,
                            .passphrase = passphrase,
                            .streamId = streamId};
    return true;
}

std::string CLinkFields::RistUrl(const std::string& host, std::uint16_t port) const
{
    const bool v6 = host.find(':') != std::string::npos;
    std::string url = std::string("rist://") + (ristListener ? "@" : "") + (v6 ? "[" + host + "]" : host) + ":" +
                      std::to_string(port) + "?buffer=" + std::to_string(bufferMs);
    if (!secret.empty())
        url += "&secret=" + Escape(secret) + "&aes-type=128";
    url += std::string("&profile=") + CRistSettings::ProfileName(profile);
    return url;
}

bool CLinkFields::MakeRist(const std::string& host, std::uint16_t port, CRistSettings& settings, std::string& error,
                           Field& field) const
{
    if (port == 0)
        return Refuse(error, field, "RIST needs a port between 1 and 65535.", Field::Port);
    if (host.empty() && !ristListener)
        return Refuse(error, field, "A RIST caller needs the peer's address.", Field::Address);
    if (!secret.empty() && profile != CRistSettings::Profile::Main)
        return Refuse(error, field, "A RIST secret needs the main profile (the simple profile is not encrypted).",
                      Field::Secret);
    std::string why;
    if (!CRistSettings::Parse(RistUrl(host, port), settings, why))
        return Refuse(error, field, why, host.empty() ? Field::Port : Field::Address);
    return true;
}

bool CLinkFields::Check(const std::string& host, std::uint16_t port, std::string& error, Field& field) const
{
    CSrtSettings srt;
    CRistSettings rist;
    return kind == Kind::Srt    ? MakeSrt(host, port, srt, error, field)
           : kind == Kind::Rist ? MakeRist(host, port, rist, error, field)
                                : true;
}

std::unique_ptr<IDatagramOutput> CLinkFields::MakeOutput(const std::string& host, std::uint16_t port,
                                                         std::string& error, Field& field) const
{
    return MakeLink<IDatagramOutput, CSrtOutput, CRistOutput>(*this, host, port, error, field);
}

std::unique_ptr<IDatagramInput> CLinkFields::MakeInput(const std::string& host, std::uint16_t port, std::string& error,
                                                       Field& field) const
{
    return MakeLink<IDatagramInput, CSrtInput, CRistInput>(*this, host, port, error, field);
}
