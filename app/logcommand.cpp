#include "app/logcommand.h"

#include "app/output.h"
#include "history/presencelog.h"
#include "labels/devicelabels.h"
#include "labels/labelsformat.h"
#include "model/deviceexport.h"
#include "platform/safejson.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>

std::optional<QDateTime> sinceTime(const QString &text, const QDateTime &now)
{
    static const QRegularExpression span(QStringLiteral("^([1-9][0-9]{0,5})([smhdw])$"));
    if (const QRegularExpressionMatch match = span.match(text); match.hasMatch()) {
        static constexpr std::pair<char16_t, qint64> units[] = {{u's', 1}, {u'm', 60}, {u'h', 3600}, {u'd', 86'400}, {u'w', 604'800}};
        const char16_t unit = match.captured(2).at(0).unicode();
        for (const auto &[letter, seconds] : units)
            if (letter == unit)
                return now.addSecs(-match.captured(1).toLongLong() * seconds);
    }
    // A date, or a date and a time, with or without a zone; without one, local time.
    static const QRegularExpression iso(
        QStringLiteral("^\\d{4}-\\d{2}-\\d{2}(T\\d{2}:\\d{2}(:\\d{2}(\\.\\d{1,3})?)?(Z|[+-]\\d{2}:?\\d{2})?)?$"));
    if (!iso.match(text).hasMatch())
        return std::nullopt;
    const QDateTime time = QDateTime::fromString(text, Qt::ISODateWithMs);
    if (!time.isValid())
        return std::nullopt;
    return time;
}

int runLogCommand(const Command &command, const QString &logPath, const QString &labelsPath, std::FILE *out, std::FILE *err)
{
    std::optional<QString> mac;
    if (!command.argument.isEmpty() && !(mac = macAddressKey(command.argument))) {
        writeMessage(err, QStringLiteral("log: not a MAC address (six pairs of hex digits between ':' or '-'): %1")
                              .arg(command.argument));
        return 2;
    }
    std::optional<QDateTime> since;
    if (!command.sinceText.isEmpty() && !(since = sinceTime(command.sinceText, QDateTime::currentDateTime()))) {
        writeMessage(err, QStringLiteral("log: --since takes a time in ISO 8601 (2026-12-08T09:00, local time without a "
                                         "zone) or a span back from now (90s, 30m, 24h, 7d, 2w), not '%1'")
                              .arg(command.sinceText));
        return 2;
    }
    PresenceReading reading;
    const QList<PresenceEvent> events = PresenceLog(logPath).events(
        [&](const PresenceEvent &event) {
            return (!mac || macAddressKey(event.mac) == mac) && (!since || event.time >= *since);
        },
        &reading);
    if (!reading.readable) {
        writeMessage(err, QStringLiteral("log: the presence log %1 cannot be read: %2").arg(logPath, reading.problem));
        return 1;
    }
    const DeviceLabels labels(labelsPath);
    QByteArray written;
    if (command.format == OutputFormat::Json) {
        QJsonArray array;
        for (const PresenceEvent &event : events) {
            QJsonObject line = event.line;
            if (const QString label = labels.label(event.mac); !label.isEmpty())
                line.insert(QStringLiteral("label"), label);
            array.append(line);
        }
        written = safeJson(QJsonDocument(array));
    } else {
        QList<QStringList> rows{{QStringLiteral("Time"), QStringLiteral("Event"), QStringLiteral("MAC address"),
                                 QStringLiteral("Address"), QStringLiteral("Label"), QStringLiteral("Source"),
                                 QStringLiteral("Site")}};
        for (const PresenceEvent &event : events)
            rows.append({event.time.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")), event.event, event.mac,
                         event.address, labels.label(event.mac), event.source, event.site});
        if (command.format == OutputFormat::Csv) {
            for (const QStringList &row : std::as_const(rows))
                written += csvRow(row).toUtf8();
        } else if (!events.isEmpty()) {
            written = textTable(rows).toUtf8();
        }
    }
    return writeOutput(out, written) ? 0 : 1;
}
