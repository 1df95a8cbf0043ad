#include "platform/autostart.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

QString autostartEntryPath()
{
    QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
    // A relative XDG_CONFIG_HOME is to be ignored, as the XDG base directories say.
    if (!QDir::isAbsolutePath(config))
        config = QDir::home().filePath(QStringLiteral(".config"));
    return QDir(config).filePath(QStringLiteral("autostart/devicefinder.desktop"));
}

bool startsAtLogin()
{
    return QFileInfo::exists(autostartEntryPath());
}

std::optional<QString> setStartAtLogin(bool start)
{
    const QString path = autostartEntryPath();
    if (!start) {
        QFile entry(path);
        if (entry.exists() && !entry.remove())
            return entry.errorString();
        return std::nullopt;
    }
    if (!QDir().mkpath(QFileInfo(path).path()))
        return QStringLiteral("the folder %1 cannot be made").arg(QFileInfo(path).path());
    QSaveFile entry(path);
    if (!entry.open(QIODevice::WriteOnly))
        return entry.errorString();
    entry.write("[Desktop Entry]\n"
                "Type=Application\n"
                "Name=Device Finder\n"
                "Comment=Watch for devices on the local network in the tray\n"
                "Exec=devicefinder --hidden\n"
                "Icon=org.devicefinder.DeviceFinder\n"
                "Terminal=false\n");
    if (!entry.commit())
        return entry.errorString();
    return std::nullopt;
}
