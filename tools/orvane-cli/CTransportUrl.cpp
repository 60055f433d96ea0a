#include "CTransportUrl.h"

#include "engine/CRistInput.h"
#include "engine/CRistOutput.h"
#include "engine/CSrtInput.h"
#include "engine/CSrtOutput.h"

bool CTransportUrl::IsTransport(std::string_view text)
{
    return CSrtSettings::IsSrtUrl(text) || CRistSettings::IsRistUrl(text);
}

bool CTransportUrl::MakeOutput(std::string_view url, std::string& error)
{
    if (CRistSettings::IsRistUrl(url))
    {
        CRistSettings rist;
        if (!CRistSettings::Parse(url, rist, error))
            return false;
        m_name = "RIST";
        m_displayUrl = rist.ToDisplayUrl();
        m_output = std::make_unique<CRistOutput>(rist);
        return true;
    }
    CSrtSettings srt;
    if (!CSrtSettings::Parse(url, srt, error))
        return false;
    m_name = "SRT";
    m_displayUrl = srt.ToDisplayUrl();
    m_output = std::make_unique<CSrtOutput>(srt);
    return true;
}

bool CTransportUrl::MakeInput(std::string_view url, std::string& error)
{
    if (CRistSettings::IsRistUrl(url))
    {
        CRistSettings rist;
        if (!CRistSettings::Parse(url, rist, error))
            return false;
        m_name = "RIST";
        m_displayUrl = rist.ToDisplayUrl();
        m_input = std::make_unique<CRistInput>(rist);
        return true;
    }
    CSrtSettings srt;
    if (!CSrtSettings::Parse(url, srt, error))
        return false;
    m_name = "SRT";
    m_displayUrl = srt.ToDisplayUrl();
    m_input = std::make_unique<CSrtInput>(srt);
    return true;
}
