#include "engine/CSrtSettings.h"

#include <charconv>

namespace
{
int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

//! %XX decoded; false on a broken escape.
bool Unescape(std::string_view text, std::string& out)
{
    out.clear();
    for (std::size_t i = 0; i < text.size(); ++i)
    {
        if (text[i] != '%')
        {
            out += text[i];
            continue;
        }
        if (i + 2 >= text.size())
            return false;
        const int high = HexDigit(text[i + 1]);
        const int low = HexDigit(text[i + 2]);
        if (high < 0 || low < 0)
            return false;
        out += static_cast<char>(high * 16 + low);
        i += 2;
    }
    return true;
}

bool ParseInt(std::string_view text, std::int64_t& value)
{
    const char* end = text.data() + text.size();
    const auto result = std::from_chars(text.data(), end, value);
    return !text.empty() && result.ec == std::errc() && result.ptr == end;
}
} // namespace

const char* CSrtSettings::ModeName(Mode mode)
{
    switch (mode)
    {
    case Mode::Caller:
        return "caller";
    case Mode::Listener:
        return "listener";
    case Mode::Rendezvous:
        return "rendezvous";
    }
    return "";
}

bool CSrtSettings::Parse(std::string_view url, CSrtSettings& settings, std::string& error)
{
    const auto fail = [&error](std::string text) {
        error = std::move(text);
        return false;
    };
    if (!IsSrtUrl(url))
        return fail("not an SRT URL: expected srt://HOST:PORT?OPTIONS");
    std::string_view rest = url.substr(6);
    const std::size_t query = rest.find('?');
    std::string_view authority = rest.substr(0, query);
    const std::string_view options = query == std::string_view::npos ? std::string_view() : rest.substr(query + 1);
    if (!authority.empty() && authority.back() == '/')
        authority.remove_suffix(1);

    CSrtSettings s;
    std::string_view portText;
    if (!authority.empty() && authority.front() == '[')
    {
        const std::size_t close = authority.find(']');
        if (close == std::string_view::npos || authority.substr(close + 1, 1) != ":")
            return fail("bad address \"" + std::string(authority) + "\": expected [IPv6]:PORT");
        s.host = std::string(authority.substr(1, close - 1));
        portText = authority.substr(close + 2);
    }
    else
    {
        const std::size_t colon = authority.rfind(':');
        if (colon == std::string_view::npos)
            return fail("no port in \"" + std::string(url) + "\": expected srt://HOST:PORT or srt://:PORT");
        s.host = std::string(authority.substr(0, colon));
        portText = authority.substr(colon + 1);
        if (s.host.find(':') != std::string::npos)
            return fail("bad address \"" + s.host + "\": an IPv6 address goes in brackets, [ADDR]:PORT");
    }
    std::int64_t number = 0;
    if (!ParseInt(portText, number) || number < 1 || number > 65'535)
        return fail("bad port \"" + std::string(portText) + "\": expected 1-65535");
    s.port = static_cast<std::uint16_t>(number);

    bool modeGiven = false;
    std::size_t at = 0;
    while (at < options.size())
    {
        std::size_t amp = options.find('&', at);
        if (amp == std::string_view::npos)
            amp = options.size();
        const std::string_view pair = options.substr(at, amp - at);
        at = amp + 1;
        if (pair.empty())
            continue;
        const std::size_t eq = pair.find('=');
        const std::string key(pair.substr(0, eq));
        std::string value;
        if (eq == std::string_view::npos || !Unescape(pair.substr(eq + 1), value))
            return fail("bad option \"" + std::string(pair) + "\": expected KEY=VALUE");
        if (key == "mode")
        {
            if (value == "caller" || value == "client")
                s.mode = Mode::Caller;
            else if (value == "listener" || value == "server")
                s.mode = Mode::Listener;
            else if (value == "rendezvous")
                s.mode = Mode::Rendezvous;
            else
                return fail("bad mode \"" + value + "\": expected caller, listener or rendezvous");
            modeGiven = true;
        }
        else if (key == "latency")
        {
            if (!ParseInt(value, number) || number < 0 || number > kMaxLatencyMs)
                return fail("bad latency \"" + value + "\": expected 0-60000 ms");
            s.latencyMs = static_cast<std::int32_t>(number);
        }
        else if (key == "passphrase")
        {
            if (!value.empty() && (value.size() < kMinPassphrase || value.size() > kMaxPassphrase))
                return fail("bad passphrase: SRT needs 10 to 79 characters, this one has " +
                            std::to_string(value.size()));
            s.passphrase = value;
        }
        else if (key == "pbkeylen")
        {
            if (!ParseInt(value, number) || (number != 0 && number != 16 && number != 24 && number != 32))
                return fail("bad pbkeylen \"" + value + "\": expected 16, 24 or 32");
            s.keyLength = static_cast<std::int32_t>(number);
        }
        else if (key == "streamid")
        {
            if (value.size() > kMaxStreamId)
                return fail("bad streamid: at most 512 characters");
            s.streamId = value;
        }
        else if (key == "conntimeo")
        {
            if (!ParseInt(value, number) || number < 100 || number > 60'000)
                return fail("bad conntimeo \"" + value + "\": expected 100-60000 ms");
            s.connectTimeoutMs = static_cast<std::int32_t>(number);
        }
        else if (key == "port")
        {
            if (!ParseInt(value, number) || number < 1 || number > 65'535)
                return fail("bad local port \"" + value + "\": expected 1-65535");
            s.localPort = static_cast<std::uint16_t>(number);
        }
        else if (key == "transtype")
        {
            if (value != "live")
                return fail("bad transtype \"" + value + "\": only live carries a transport stream in time");
        }
        else
        {
            return fail("unknown option \"" + key +
                        "\": known are mode, latency, passphrase, pbkeylen, streamid, conntimeo, port, transtype");
        }
    }
    if (!modeGiven)
        s.mode = s.host.empty() ? Mode::Listener : Mode::Caller;
    if (s.host.empty() && s.mode != Mode::Listener)
        return fail(std::string("a ") + ModeName(s.mode) + " needs the peer's address: srt://HOST:PORT");
    if (s.localPort != 0 && s.mode == Mode::Listener)
        return fail("port= is the local port of a caller or rendezvous; a listener's is in srt://:PORT");
    if (s.keyLength != 0 && s.passphrase.empty())
        return fail("pbkeylen needs a passphrase");
    settings = std::move(s);
    error.clear();
    return true;
}

std::string CSrtSettings::ToDisplayUrl() const
{
    const bool v6 = host.find(':') != std::string::npos;
    std::string url = "srt://" + (v6 ? "[" + host + "]" : host) + ":" + std::to_string(port) + "?mode=" +
                      ModeName(mode) + "&latency=" + std::to_string(latencyMs);
    if (!passphrase.empty())
        url += "&passphrase=***";
    if (keyLength != 0)
        url += "&pbkeylen=" + std::to_string(keyLength);
    if (!streamId.empty())
        url += "&streamid=" + streamId;
    if (localPort != 0)
        url += "&port=" + std::to_string(localPort);
    return url;
}
