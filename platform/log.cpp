#include "platform/log.h"

#include <QCoreApplication>
#include <QLocale>

#include <cstdio>
#include <ctime>
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
            // The text up to the next conversion, at once.
            const char *end = p;
            while (end[1] && end[1] != '%')
                ++end;
            line += QLatin1StringView(p, end + 1);
            p = end;
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

// Without a syslog socket (a container, a sandbox), each syslog() call would try to connect
// anew; the lines then go to standard error only.
bool toSyslog = false;

// "2026-12-08 09:14:03.271", local time.
QByteArray timeStamp()
{
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    tm local{};
    localtime_r(&now.tv_sec, &local);
    char text[32];
    const std::size_t length = std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    std::snprintf(text + length, sizeof text - length, ".%03ld", now.tv_nsec / 1'000'000);
    return QByteArray(text);
}

void writeStandardError(const QByteArray &bytes)
{
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
    std::fflush(stderr);
}

void handleMessage(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    const QByteArray text = message.toUtf8();
    // The program, process and thread: the same for every line of a thread.
    thread_local const QByteArray source = ' ' + QCoreApplication::applicationName().toUtf8() + '['
                                           + QByteArray::number(getpid()) + ':' + QByteArray::number(gettid()) + "] ";
    // One write per line so that lines from several threads never interleave.
    QByteArray whole = timeStamp() + source + text + '\n';
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
    if (toSyslog)
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
    toSyslog = access("/dev/log", W_OK) == 0;
    if (toSyslog)
        openlog("devicefinder", LOG_PID, LOG_USER);
    qInstallMessageHandler(handleMessage);
}
