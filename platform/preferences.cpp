#include "platform/preferences.h"

#include <QSettings>

Preferences &Preferences::standard()
{
    static Preferences preferences;
    return preferences;
}

void Preferences::registerDefaults(const QVariantMap &defaults)
{
    m_registered.insert(defaults);
}

QVariant Preferences::value(const QString &key) const
{
    const QVariant stored = QSettings().value(key);
    return stored.isValid() ? stored : m_registered.value(key);
}

void Preferences::setValue(const QString &key, const QVariant &value)
{
    QSettings().setValue(key, value);
}

bool Preferences::isStored(const QString &key) const
{
    return QSettings().contains(key);
}
