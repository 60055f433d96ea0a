#pragma once
//! @file IMessageSink.h
//! How the core shows a user-facing message without knowing the front end:
//! the GUI implements it with a message box, orvane-cli with a line on stderr,
//! tests by recording the texts. Called from any thread; implementations marshal
//! to their own thread when they need to.

#include <string>

class IMessageSink
{
public:
    virtual ~IMessageSink() = default;
    //! Shows @p text, a complete message of the system (never a format string).
    virtual void ShowMessage(const std::string& text) = 0;
};
