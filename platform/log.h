#pragma once

#include "platform/safetext.h"

#include <QByteArray>
#include <QLoggingCategory>
#include <QString>

#include <cstdint>
#include <initializer_list>
#include <variant>

// One logging category per area; every line goes out at info level.
Q_DECLARE_LOGGING_CATEGORY(lcApp)
Q_DECLARE_LOGGING_CATEGORY(lcModel)
Q_DECLARE_LOGGING_CATEGORY(lcDiscovery)
Q_DECLARE_LOGGING_CATEGORY(lcProbes)
Q_DECLARE_LOGGING_CATEGORY(lcScan)

// One argument of a log line. Texts serve "%@" and "%s"; integers "%d", "%02d" and
// "%lu"; doubles "%f" (six decimals). A text or bytes may come from anyone, so each is
// shown as the log shows a stranger's text (safetext.h); the line's own words are not.
class LogArg final {
public:
    LogArg(const QString &text) : m_value(terminalText(text)) {}
    LogArg(const QByteArray &bytes) : m_value(safeBytes(bytes)) {}
    LogArg(int number) : m_value(std::int64_t{number}) {}
    LogArg(long number) : m_value(std::int64_t{number}) {}
    LogArg(long long number) : m_value(std::int64_t{number}) {}
    LogArg(unsigned number) : m_value(std::uint64_t{number}) {}
    LogArg(unsigned long number) : m_value(std::uint64_t{number}) {}
    LogArg(unsigned long long number) : m_value(std::uint64_t{number}) {}
    LogArg(double number) : m_value(number) {}

    QString format(char conversion, int zeroPadWidth) const;

private:
    std::variant<QString, std::int64_t, std::uint64_t, double> m_value;
};

// Expands a printf-style format that uses only %@, %s, %d, %02d, %lu, %f and %%.
// A conversion without an argument is written as it stands.
QString formatLogLine(const char *format, std::initializer_list<LogArg> args);

void writeLogLine(const QLoggingCategory &category, const QString &line);

// An area's category, as Q_DECLARE_LOGGING_CATEGORY declares it: lcScan, lcProbes, ...
using LogCategory = const QLoggingCategory &(*)();

// Writes one line to the log of the given area. Safe from any thread.
template <typename... Args>
void logLine(LogCategory category, const char *format, const Args &...args)
{
    if (category().isInfoEnabled())
        writeLogLine(category(), formatLogLine(format, {LogArg(args)...}));
}

// A line that stays below the log lines on a terminal's standard error and is rewritten in
// place, such as a count of work done: each log line is written above it. Setting another
// text replaces it; finishing leaves it standing as an ordinary line and ends it. Only for
// a standard error that is a terminal, and only with the handler below. Any thread.
void setLogStatusLine(const QString &text);
void finishLogStatusLine();

// Routes every log line to standard error (time, program, pid:thread prefix) and to
// syslog. Call once, from main, before any other thread starts.
void installLogHandler();
