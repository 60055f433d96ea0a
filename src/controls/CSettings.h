#pragma once
//! @file CSettings.h
//! The per-user settings of the program: QSettings with the organisation
//! "Local AppWizard-Generated Applications" and the executable's base name as
//! application (an INI file under ~/.config on Linux). Sections "Play" and
//! "Record" belong to the tabs; "Discovery" holds where discovery requests go.

#include <QString>

class CSettings
{
public:
    static constexpr const char* kOrganization = "Local AppWizard-Generated Applications";

    //! The stored integer, or @p defaultValue when it is missing or not a number.
    static int GetProfileInt(const QString& section, const QString& entry, int defaultValue);
    static bool WriteProfileInt(const QString& section, const QString& entry, int value);
    static QString GetProfileString(const QString& section, const QString& entry, const QString& defaultValue);
    static bool WriteProfileString(const QString& section, const QString& entry, const QString& value);
};
