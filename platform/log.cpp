#include "platform/log.h"

#include <QCoreApplication>
#include <QDateTime>

#include <cstdio>
#include <mutex>
#include <syslog.h>
#include <unistd.h>

Q_LOGGING_CATEGORY(lcApp, "devicefinder.app")
Q_LOGGING_CATEGORY(lcModel, "devicefinder.model")
Q_LOGGING_CATEGORY(lcDiscovery, "devicefinder.discovery")
Q_LOGGING_CATEGORY(lcProbes, "devicefinder.probes")
Q_LOGGING_CATEGORY(lcScan, "devicefinder.scan")

QString LogArg::format(char conversion, int zeroPadWidth) const
{
    return std::visit(
        [&](const auto &value) -> QString {
            using T = std::decay_t<decltype(value)>;
            if constexpr (std::is_same_v<T, QString>) {
                return value;
            } else if constexpr (std::is_same_v<T, double>) {
                if (conversion == 'f')
                    return QString::number(value, 'f', 6);
                return QString::number(value, 'g', QLocale::FloatingPointShortest);
            } else {
                // %02d pads the digits, not the sign: -1 stays "-1", as printf writes it.
                return QStringLiteral("%1").arg(value, zeroPadWidth, 10, QLatin1Char('0'));
            }
        },
        m_value);
}

QString formatLogLine(const char *format, std::initializer_list<LogArg> args)
{
    QString line;
    auto next = args.begin();
    for (const char *p = format; *p; ++p) {
        if (*p != '%') {
            line += QLatin1Char(*p);
            continue;
        }
        const char *start = p++;
        int width = 0;
        if (*p == '0') {
            for (++p; *p >= '0' && *p <= '9'; ++p)
                width = width * 10 + (*p - '0');
        }
        if (*p == 'l')
            ++p;
        const char conversion = *p;
        if (conversion == '%') {
            line += QLatin1Char('%');
        } else if (conversion != '\0' && QByteArrayView("@sdufi").contains(conversion) && next != args.end()) {
            line += (next++)->format(conversion, width);
        } else {
            line += QLatin1StringView(start, conversion ? p + 1 : p);
        }
        if (conversion == '\0')
            break;
    }
    return line;
}

void writeLogLine(const QLoggingCategory &category, const QString &line)
{
    QMessageLogger(nullptr, 0, nullptr, category.categoryName()).info().noquote() << line;
}

namespace {

// Back to the start of the line, and the line cleared.
constexpr char clearLine[] = "\r\x1b[K";

std::mutex statusMutex;
QByteArray statusLine; // guarded by statusMutex

void writeStandardError(const QByteArray &bytes)
{
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
    std::fflush(stderr);
}

void handleMessage(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    const QByteArray text = message.toUtf8();
    const QByteArray stamp = QDateTime::currentDateTime()
                                 .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"))
                                 .toLatin1();
    // One write per line so that lines from several threads never interleave.
    QByteArray whole = stamp + ' ' + QCoreApplication::applicationName().toUtf8() + '['
                       + QByteArray::number(getpid()) + ':' + QByteArray::number(gettid()) + "] " + text
                       + '\n';
    {
        const std::lock_guard lock(statusMutex);
        if (!statusLine.isEmpty())
            whole = clearLine + whole + statusLine;
        writeStandardError(whole);
    }

    const int priority = type == QtDebugMsg      ? LOG_DEBUG
                         : type == QtInfoMsg     ? LOG_INFO
                         : type == QtWarningMsg  ? LOG_WARNING
                                                 : LOG_ERR;
    syslog(priority, "%s", text.constData());
    if (type == QtFatalMsg)
        abort();
}

} // namespace

void setLogStatusLine(const QString &text)
{
    const std::lock_guard lock(statusMutex);
    statusLine = text.toUtf8();
    writeStandardError(clearLine + statusLine);
}

void finishLogStatusLine()
{
    const std::lock_guard lock(statusMutex);
    if (statusLine.isEmpty())
        return;
    statusLine.clear();
    writeStandardError(QByteArrayLiteral("\n"));
}

void installLogHandler()
{
    openlog("devicefinder", LOG_PID, LOG_USER);
    qInstallMessageHandler(handleMessage);
}
