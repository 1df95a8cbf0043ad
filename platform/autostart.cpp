#include "platform/autostart.h"

#include "platform/wholefile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

namespace {

// More than any entry of ours, or one the desktop rewrote, holds.
constexpr qint64 maxEntryBytes = 64 * 1024;

} // namespace

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
    QFile entry(autostartEntryPath());
    if (!entry.exists())
        return false;
    // One that cannot be read now is still there, as far as anyone can tell.
    return !entry.open(QIODevice::ReadOnly) || autostartEntryEnabled(entry.read(maxEntryBytes));
}

Result<> setStartAtLogin(bool start)
{
    const QString path = autostartEntryPath();
    if (!start) {
        QFile entry(path);
        if (entry.exists() && !entry.remove())
            return Failure{entry.errorString()};
        return {};
    }
    // The program that wrote it, not whichever one of that name comes first on PATH.
    const QString program = QCoreApplication::applicationFilePath();
    const std::optional<QString> exec = desktopExecArgument(program);
    if (program.isEmpty() || !exec)
        return Failure{QStringLiteral("the program's path cannot be written in an autostart entry")};
    return writeWholeFile(path,
                          "[Desktop Entry]\n"
                          "Type=Application\n"
                          "Name=Device Finder\n"
                          "Comment=Watch for devices on the local network in the tray\n"
                          "Exec=" + exec->toUtf8() + " --hidden\n"
                          "Icon=org.devicefinder.DeviceFinder\n"
                          "Terminal=false\n",
                          FileOwner::Tool);
}

std::optional<QString> desktopExecArgument(const QString &argument)
{
    // Inside double quotes a backslash escapes ", `, $ and \; the file's own escaping of
    // string values then doubles every backslash; a field code's % is written %%.
    QString quoted = QStringLiteral("\"");
    for (const QChar c : argument) {
        if (c.category() == QChar::Other_Control)
            return std::nullopt;
        if (c == u'"' || c == u'`' || c == u'$')
            quoted += QStringLiteral("\\\\");
        else if (c == u'\\')
            quoted += QStringLiteral("\\\\\\");
        else if (c == u'%')
            quoted += u'%';
        quoted += c;
    }
    return quoted + u'"';
}

bool autostartEntryEnabled(const QByteArray &entry)
{
    bool inMainGroup = false;
    for (const QByteArray &rawLine : entry.split('\n')) {
        const QByteArray line = rawLine.trimmed();
        const qsizetype equals = line.indexOf('=');
        if (line.startsWith('['))
            inMainGroup = line == "[Desktop Entry]";
        else if (inMainGroup && equals > 0 && line.left(equals).trimmed() == "Hidden"
                 && line.mid(equals + 1).trimmed() == "true")
            return false;
    }
    return true;
}
