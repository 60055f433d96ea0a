#include "controls/CSettings.h"

#include <QCoreApplication>
#include <QSettings>

namespace
{
QString Key(const QString& section, const QString& entry)
{
    return section + '/' + entry;
}
} // namespace

int CSettings::GetProfileInt(const QString& section, const QString& entry, int defaultValue)
{
    QSettings settings(kOrganization, QCoreApplication::applicationName());
    bool ok = false;
    const int value = settings.value(Key(section, entry)).toInt(&ok);
    return ok ? value : defaultValue;
}

bool CSettings::WriteProfileInt(const QString& section, const QString& entry, int value)
{
    QSettings settings(kOrganization, QCoreApplication::applicationName());
    settings.setValue(Key(section, entry), value);
    settings.sync();
    return settings.status() == QSettings::NoError;
}

QString CSettings::GetProfileString(const QString& section, const QString& entry, const QString& defaultValue)
{
    QSettings settings(kOrganization, QCoreApplication::applicationName());
    const QVariant value = settings.value(Key(section, entry));
    if (!value.isValid())
        return defaultValue;
    // An INI value with unquoted commas reads back as a list: it is still one string.
    if (value.typeId() == QMetaType::QStringList)
        return value.toStringList().join(',');
    return value.toString();
}

bool CSettings::WriteProfileString(const QString& section, const QString& entry, const QString& value)
{
    QSettings settings(kOrganization, QCoreApplication::applicationName());
    settings.setValue(Key(section, entry), value);
    settings.sync();
    return settings.status() == QSettings::NoError;
}
