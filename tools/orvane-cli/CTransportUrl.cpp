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

// Parses @p url as RIST or SRT and makes the output or the input for it.
template<typename MakeFn> bool CTransportUrl::Parse(std::string_view url, std::string& error, MakeFn make)
{
    if (CRistSettings::IsRistUrl(url))
    {
        CRistSettings rist;
        if (!CRistSettings::Parse(url, rist, error))
            return false;
        m_name = "RIST";
        m_displayUrl = rist.ToDisplayUrl();
        make(rist);
        return true;
    }
    CSrtSettings srt;
    if (!CSrtSettings::Parse(url, srt, error))
        return false;
    m_name = "SRT";
    m_displayUrl = srt.ToDisplayUrl();
    make(srt);
    return true;
}

bool CTransportUrl::MakeOutput(std::string_view url, std::string& error)
{
    return Parse(url, error, [this](const auto& settings) {
        if constexpr (std::is_same_v<std::decay_t<decltype(settings)>, CRistSettings>)
            m_output = std::make_unique<CRistOutput>(settings);
        else
            m_output = std::make_unique<CSrtOutput>(settings);
    });
}

bool CTransportUrl::MakeInput(std::string_view url, std::string& error)
{
    return Parse(url, error, [this](const auto& settings) {
        if constexpr (std::is_same_v<std::decay_t<decltype(settings)>, CRistSettings>)
            m_input = std::make_unique<CRistInput>(settings);
        else
            m_input = std::make_unique<CSrtInput>(settings);
    });
}
