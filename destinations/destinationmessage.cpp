#include "destinations/destinationmessage.h"

#include "destinations/messagetemplate.h"
#include "model/modelnames.h"
#include "platform/safetext.h"

#include <QStringList>

#include <array>

namespace {

constexpr QStringView defaultTitle = u"{event}: {name}";
constexpr QStringView defaultBody = u"{name} ({mac}) {event} at {address}, {time}";
constexpr QStringView defaultLine = u"{event}: {name} at {address}";

// A device's text may be long; a line of a message holds at most this much of it.
constexpr qsizetype maxTextLength = 200;

QString oneLine(const QString &text)
{
    return terminalText(text.left(maxTextLength));
}

QString timeText(const QDateTime &time)
{
    return time.toUTC().toString(Qt::ISODate);
}

// "3 missing, 1 new at roof": the counts in the events' order of the watch.
QString summary(const QList<DestinationChange> &changes, const QString &site)
{
    constexpr std::array<WatchEvent::Kind, 6> kinds{WatchEvent::Kind::Missing, WatchEvent::Kind::New, WatchEvent::Kind::Back,
                                                    WatchEvent::Kind::Moved, WatchEvent::Kind::Flapping, WatchEvent::Kind::Steady};
    QStringList counts;
    for (WatchEvent::Kind kind : kinds) {
        const auto count = std::count_if(changes.begin(), changes.end(), [&](const DestinationChange &c) { return c.event.kind == kind; });
        if (count > 0)
            counts.append(QStringLiteral("%1 %2").arg(count).arg(QLatin1StringView(watchEventName(kind))));
    }
    const QString joined = counts.join(QStringLiteral(", "));
    return site.isEmpty() ? joined : QStringLiteral("%1 at %2").arg(joined, oneLine(site));
}

} // namespace

QString changeVariable(const DestinationChange &change, const QString &site, QStringView name)
{
    const DeviceRecord &record = *change.event.device;
    const QString mac = deviceMac(record).value_or(QString());
    if (name == u"event")
        return QString::fromLatin1(watchEventName(change.event.kind));
    if (name == u"name") {
        for (const QString &candidate : {change.label, record.text(DeviceKey::hostname), deviceAddress(record)}) {
            if (!candidate.trimmed().isEmpty())
                return oneLine(candidate);
        }
        return mac;
    }
    if (name == u"label")
        return oneLine(change.label);
    if (name == u"hostname")
        return oneLine(record.text(DeviceKey::hostname));
    if (name == u"address")
        return oneLine(deviceAddress(record));
    if (name == u"mac")
        return oneLine(mac);
    if (name == u"model") {
        const QString type = record.text(DeviceKey::deviceType);
        return oneLine(modelName(type).value_or(type));
    }
    if (name == u"serial")
        return oneLine(record.text(DeviceKey::serialNumber));
    if (name == u"tag")
        return oneLine(record.text(DeviceKey::tag));
    if (name == u"site")
        return oneLine(site);
    if (name == u"time")
        return timeText(change.time);
    if (name == u"since")
        return timeText(change.since.isValid() ? change.since : change.time);
    return {};
}

std::optional<DestinationMessage> destinationMessage(const Destination &destination, const QList<DestinationChange> &changes,
                                                     const QString &site)
{
    DestinationMessage message;
    message.site = site;
    for (const DestinationChange &change : changes) {
        if (destination.events.contains(change.event.kind))
            message.changes.append(change);
    }
    if (message.changes.isEmpty())
        return std::nullopt;
    message.missing = std::any_of(message.changes.begin(), message.changes.end(),
                                  [](const DestinationChange &c) { return c.event.kind == WatchEvent::Kind::Missing; });
    const auto expand = [&](const QString &given, QStringView fallback, const DestinationChange &change) {
        return expandTemplate(given.isEmpty() ? fallback : QStringView(given),
                              [&](QStringView name) { return changeVariable(change, site, name); });
    };
    if (message.changes.size() == 1) {
        message.title = expand(destination.title, defaultTitle, message.changes.first());
        message.text = expand(destination.body, defaultBody, message.changes.first());
        return message;
    }
    message.title = summary(message.changes, site);
    QStringList lines;
    for (qsizetype i = 0; i < std::min(message.changes.size(), DestinationMessage::maxLines); ++i)
        lines.append(expand(destination.line, defaultLine, message.changes.at(i)));
    if (message.changes.size() > DestinationMessage::maxLines)
        lines.append(QStringLiteral("and %1 more").arg(message.changes.size() - DestinationMessage::maxLines));
    message.text = lines.join(u'\n');
    return message;
}

DestinationMessage testMessage(const Destination &destination, const QString &site, const QDateTime &now)
{
    DeviceRecord record;
    record.setValue(DeviceKey::hostname, QStringLiteral("test-device"));
    record.setValue(DeviceKey::ipAddress, QStringLiteral("192.0.2.1"));
    record.setValue(DeviceKey::macAddress, QStringLiteral("00:00:5e:00:53:01"));
    DestinationChange change{{WatchEvent::Kind::New, std::make_shared<const DeviceRecord>(record), {}, true}, now, now,
                             QStringLiteral("Test message")};
    Destination takesAll = destination;
    takesAll.events = {WatchEvent::Kind::New};
    return *destinationMessage(takesAll, {change}, site);
}
