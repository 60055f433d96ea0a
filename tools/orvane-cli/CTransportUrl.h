#pragma once
//! @file CTransportUrl.h
//! The transports orvane-cli takes as a URL in place of a UDP address:
//! srt:// (libsrt) and rist:// (librist). Makes the sender's output or the
//! receiver's input for a URL, so that play, record and monitor treat every
//! transport alike: the same checks, status line, summary and exit status.

#include "engine/IDatagramInput.h"
#include "engine/IDatagramOutput.h"

#include <memory>
#include <string>
#include <string_view>

class CTransportUrl
{
public:
    //! True when @p text is a transport URL (srt:// or rist://).
    static bool IsTransport(std::string_view text);

    //! Parses @p url and makes the transport for it. @return false with
    //! @p error saying what is wrong with the URL.
    bool MakeOutput(std::string_view url, std::string& error);
    bool MakeInput(std::string_view url, std::string& error);

    //! "SRT" or "RIST".
    const char* Name() const { return m_name; }
    //! The URL as shown (secrets masked).
    const std::string& DisplayUrl() const { return m_displayUrl; }
    //! What MakeOutput made (null before).
    IDatagramOutput* Output() const { return m_output.get(); }
    //! What MakeInput made (null before).
    IDatagramInput* Input() const { return m_input.get(); }

private:
    template<typename RistMade, typename SrtMade, typename Made>
    bool Make(std::string_view url, std::string& error, std::unique_ptr<Made>& made);

    const char* m_name = "";
    std::string m_displayUrl;
    std::unique_ptr<IDatagramOutput> m_output;
    std::unique_ptr<IDatagramInput> m_input;
};
