#include "CTransportUrl.h"

#include "engine/CRistInput.h"
#include "engine/CRistOutput.h"
#include "engine/CSrtInput.h"
#include "engine/CSrtOutput.h"

#include <type_traits>

bool CTransportUrl::IsTransport(std::string_view text)
{
    return CSrtSettings::IsSrtUrl(text) || CRistSettings::IsRistUrl(text);
}

// Parses @p url as RIST or SRT and makes the transport for it into @p made.
template<typename RistMade, typename SrtMade, typename Made>
bool CTransportUrl::Make(std::string_view url, std::string& error, std::unique_ptr<Made>& made)
{
    const auto use = [&](auto& settings, const char* name) {
        using Settings = std::decay_t<decltype(settings)>;
        if (!Settings::Parse(url, settings, error))
            return false;
        m_name = name;
        m_displayUrl = settings.ToDisplayUrl();
        if constexpr (std::is_same_v<Settings, CRistSettings>)
            made = std::make_unique<RistMade>(settings);
        else
            made = std::make_unique<SrtMade>(settings);
        return true;
    };
    CRistSettings rist;
    CSrtSettings srt;
    return CRistSettings::IsRistUrl(url) ? use(rist, "RIST") : use(srt, "SRT");
}

bool CTransportUrl::MakeOutput(std::string_view url, std::string& error)
{
    return Make<CRistOutput, CSrtOutput>(url, error, m_output);
}

bool CTransportUrl::MakeInput(std::string_view url, std::string& error)
{
    return Make<CRistInput, CSrtInput>(url, error, m_input);
}
