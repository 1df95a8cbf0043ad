#include "platform/toolfiles.h"

#include <QStandardPaths>

QString dataFile(const QString &name)
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + QStringLiteral("/devicefinder/") + name;
}

QString configFile(const QString &name)
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + QStringLiteral("/devicefinder/")
           + name;
}
