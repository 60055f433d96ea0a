#include "engine/CRistSettings.h"

#include "common/CNetAddress.h"

#include <librist/librist.h>

#include <vector>

namespace
{
// The query's items in order, each "name=value" (or "name").
std::vector<std::string> SplitQuery(std::string_view query)
{
    std::vector<std::string> items;
    while (!query.empty())
    {
        const std::size_t end = query.find('&');
        if (end != 0)
            items.emplace_back(query.substr(0, end));
        if (end == std::string_view::npos)
            break;
        query.remove_prefix(end + 1);
    }
    return items;
}

std::string_view Name(std::string_view item)
{
    return item.substr(0, item.find('='));
}

std::string_view Value(std::string_view item)
{
    const std::size_t eq = item.find('=');
    return eq == std::string_view::npos ? std::string_view() : item.substr(eq + 1);
}
} // namespace

const char* CRistSettings::ProfileName(Profile profile)
{
    return profile == Profile::Simple ? "simple" : "main";
}

bool CRistSettings::Parse(std::string_view text, CRistSettings& settings, std::string& error)
{
    const std::string shown(text);
    if (!IsRistUrl(text))
    {
        error = "'" + shown + "' is no rist:// URL";
        return false;
    }
    const std::size_t question = text.find('?');
    const std::string_view address = text.substr(0, question);
    CRistSettings parsed;
    std::string url(address);
    char separator = '?';
    if (question != std::string_view::npos)
        for (const std::string& item : SplitQuery(text.substr(question + 1)))
        {
            if (Name(item) != "profile")
            {
                url += separator + item;
                separator = '&';
                continue;
            }
            const std::string_view value = Value(item);
            if (value == "simple" || value == "0")
                parsed.profile = Profile::Simple;
            else if (value == "main" || value == "1")
                parsed.profile = Profile::Main;
            else if (value == "advanced" || value == "2")
            {
                error = "RIST: the advanced profile is not offered (use simple or main)";
                return false;
            }
            else
            {
                error = "RIST: profile '" + std::string(value) + "' is not simple or main";
                return false;
            }
        }
    std::string_view host = address.substr(7);
    parsed.listener = !host.empty() && host.front() == '@';
    if (parsed.listener)
        host.remove_prefix(1);
    host = host.substr(0, host.find('/'));
    std::uint16_t port = 0;
    if (!CNetAddress::SplitHostPort(host, host, port))
    {
        error = "RIST: '" + shown + "' has no port 1-65535 (rist://HOST:PORT, or rist://@:PORT to listen)";
        return false;
    }
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']')
        host = host.substr(1, host.size() - 2);
    parsed.host = std::string(host);
    parsed.port = port;
    // librist's own parser is the judge of the rest.
    rist_peer_config* config = nullptr;
    if (rist_parse_address2(url.c_str(), &config) != 0 || config == nullptr)
    {
        error = "RIST: librist does not take '" + shown + "' (see ristsender -u for the URL options)";
        return false;
    }
    rist_peer_config_free2(&config);
    parsed.url = std::move(url);
    settings = std::move(parsed);
    return true;
}

std::string CRistSettings::ToDisplayUrl() const
{
    const std::size_t question = url.find('?');
    std::string shown = url.substr(0, question);
    char separator = '?';
    if (question != std::string::npos)
        for (const std::string& item : SplitQuery(std::string_view(url).substr(question + 1)))
        {
            const std::string_view name = Name(item);
            shown += separator;
            shown += name == "secret" || name == "password" ? std::string(name) + "=***" : item;
            separator = '&';
        }
    shown += separator;
    shown += "profile=";
    shown += ProfileName(profile);
    return shown;
}
