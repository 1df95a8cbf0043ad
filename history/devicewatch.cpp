#include "history/devicewatch.h"

#include "model/deviceexport.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <algorithm>

namespace {

// A JSON text of one value: a value inside an array, without the brackets.
QByteArray jsonText(const QJsonValue &value)
{
    return QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact).chopped(1).sliced(1);
}

} // namespace

const char *watchEventName(WatchEvent::Kind kind)
{
    switch (kind) {
    case WatchEvent::Kind::New:
        return "new";
    case WatchEvent::Kind::Missing:
        return "missing";
    case WatchEvent::Kind::Moved:
        return "moved";
    case WatchEvent::Kind::Back:
        break;
    }
    return "back";
}

DeviceWatch::DeviceWatch(const DeviceHistory &history)
{
    if (!history.lastCompletedDiscovery().isValid())
        return;
    m_started = true;
    for (const QString &mac : history.newestFirst())
        m_missing.insert(mac, 0);
    for (const QString &mac : history.lastDiscoveryDevices()) {
        const HistoryEntry entry = *history.entry(mac);
        m_missing.remove(mac);
        m_present.insert(mac, {entry.record, entry.lastAddress});
    }
}

QList<WatchEvent> DeviceWatch::update(const DeviceList &found, bool askedEveryone)
{
    ++m_run;
    const DeviceList devices = distinctDevices(found);
    QList<WatchEvent> events;
    QSet<QString> seen;
    for (const Device &device : devices) {
        const QString mac = *deviceIdentity(*device);
        const QString address = deviceAddress(*device);
        seen.insert(mac);
        const auto present = m_present.constFind(mac);
        if (present != m_present.cend()) {
            if (hasMoved(present->address, address))
                events.append({WatchEvent::Kind::Moved, device, present->address});
        } else if (m_missing.remove(mac)) {
            events.append({WatchEvent::Kind::Back, device, {}});
        } else if (m_started) {
            events.append({WatchEvent::Kind::New, device, {}});
        }
        m_present.insert(mac, {device, address});
    }
    m_started = true;
    if (!askedEveryone)
        return events;

    QStringList gone;
    for (auto it = m_present.begin(); it != m_present.end(); ++it) {
        if (seen.contains(it.key()))
            continue;
        if (it->absentOnce)
            gone.append(it.key());
        it->absentOnce = true;
    }
    std::sort(gone.begin(), gone.end());
    for (const QString &mac : gone) {
        events.append({WatchEvent::Kind::Missing, m_present.take(mac).record, {}});
        m_missing.insert(mac, m_run);
    }
    forgetOldestMissing();
    return events;
}

void DeviceWatch::forgetOldestMissing()
{
    if (m_missing.size() <= maxRemembered)
        return;
    QList<std::pair<quint64, QString>> byRun;
    for (auto it = m_missing.cbegin(); it != m_missing.cend(); ++it)
        byRun.append({it.value(), it.key()});
    std::sort(byRun.begin(), byRun.end());
    for (qsizetype i = 0; i < byRun.size() - maxRemembered; ++i)
        m_missing.remove(byRun.at(i).second);
}

QByteArray watchEventLine(const WatchEvent &event, const QDateTime &time, const LabelOf &labelOf)
{
    QByteArray line = "{\"time\":" + jsonText(historyTimeText(time)) + ",\"event\":\"" + watchEventName(event.kind)
                      + "\",\"device\":" + jsonText(printedRecord(*event.device, labelOf));
    if (event.kind == WatchEvent::Kind::Moved)
        line += ",\"from\":" + jsonText(event.from);
    return line + "}\n";
}
