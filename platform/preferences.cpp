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

QString Preferences::setValues(const QVariantMap &values)
{
    QSettings settings;
    QVariantMap before; // an invalid value: not stored
    for (auto it = values.cbegin(); it != values.cend(); ++it) {
        before.insert(it.key(), settings.value(it.key()));
        settings.setValue(it.key(), it.value());
    }
    settings.sync();
    if (settings.status() == QSettings::NoError)
        return {};
    // What this process reads from now on is what the store holds.
    for (auto it = before.cbegin(); it != before.cend(); ++it) {
        if (it->isValid())
            settings.setValue(it.key(), *it);
        else
            settings.remove(it.key());
    }
    return QStringLiteral("the preferences file %1 could not be written").arg(settings.fileName());
}
