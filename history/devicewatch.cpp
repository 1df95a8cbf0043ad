#include "history/devicewatch.h"

#include "model/deviceexport.h"
#include "platform/safejson.h"

#include <QMap>

#include <algorithm>

void DeviceWatch::startQuietly(const DeviceHistory &history)
{
    const QStringList known = history.newestFirst();
    m_quiet = QSet<QString>(known.cbegin(), known.cend());
    m_started = !m_quiet.isEmpty();
}

DeviceWatch::DeviceWatch(const DeviceHistory &history, WatchRule rule) : m_rule(rule)
{
    if (!history.lastCompletedDiscovery().isValid()) {
        startQuietly(history);
        return;
    }
    m_started = true;
    for (const QString &mac : history.newestFirst())
        m_missing.insert(mac, {});
    for (const QString &mac : history.lastDiscoveryDevices()) {
        const HistoryEntry entry = *history.entry(mac);
        m_missing.remove(mac);
        m_present.insert(mac, {entry.record, entry.lastAddress, entry.lastSeen});
    }
}

DeviceWatch::DeviceWatch(const DeviceHistory &history, const RunScope &ranges, WatchRule rule, bool discovers)
    : m_rule(rule)
{
    if (!history.lastCompletedRun().isValid()) {
        startQuietly(history);
        return;
    }
    m_started = true;
    const QStringList discovered = discovers ? history.lastDiscoveryDevices() : QStringList();
    for (const QString &mac : history.newestFirst()) {
        const HistoryEntry entry = *history.entry(mac);
        if ((ranges.covers && ranges.covers(entry.lastAddress) && entry.lastSeen >= history.lastCompletedRun())
            || discovered.contains(mac))
            m_present.insert(mac, {entry.record, entry.lastAddress, entry.lastSeen});
        else
            m_missing.insert(mac, {});
    }
}

QList<std::pair<QString, QString>> DeviceWatch::knownDevices(const RunScope &scope) const
{
    QList<std::pair<QDateTime, QString>> byTime;
    for (auto it = m_present.cbegin(); it != m_present.cend(); ++it) {
        if (!it->address.isEmpty() && (scope.isDiscovery() || scope.covers(it->address)))
            byTime.append({it->lastSeen, it.key()});
    }
    std::sort(byTime.begin(), byTime.end(), [](const auto &a, const auto &b) {
        return a.first != b.first ? a.first > b.first : a.second < b.second;
    });
    QList<std::pair<QString, QString>> known;
    for (const auto &[time, mac] : std::as_const(byTime).first(std::min(byTime.size(), maxKnownAsks)))
        known.append({mac, m_present[mac].address});
    return known;
}

QList<WatchEvent> DeviceWatch::update(const DeviceList &found, bool askedEveryone, const QDateTime &now,
                                      const RunScope &scope)
{
    ++m_run;
    const DeviceList devices = distinctDevices(found);
    QList<WatchEvent> events;
    QSet<QString> seen;
    for (const Device &device : devices) {
        const QString mac = *deviceMac(*device);
        const QString address = deviceAddress(*device);
        seen.insert(mac);
        const auto present = m_present.constFind(mac);
        if (present != m_present.cend()) {
            if (hasMoved(present->address, address))
                events.append({WatchEvent::Kind::Moved, device, present->address});
        } else if (m_missing.remove(mac)) {
            WatchEvent back{WatchEvent::Kind::Back, device, {}};
            if (presenceChanged(mac, now, back))
                events.append(back);
        } else if (m_started && !m_quiet.contains(mac)) {
            events.append({WatchEvent::Kind::New, device, {}});
        }
        m_quiet.remove(mac);
        m_present.insert(mac, {device, address, now});
    }
    m_started = true;
    if (askedEveryone) {
        QStringList gone;
        for (auto it = m_present.begin(); it != m_present.end(); ++it) {
            const bool asked = scope.isDiscovery() || scope.covers(it->address);
            if (!seen.contains(it.key()) && asked && ++it->absentRuns >= m_rule.missingAfter)
                gone.append(it.key());
        }
        std::sort(gone.begin(), gone.end());
        for (const QString &mac : gone) {
            const Present last = m_present.take(mac);
            m_missing.insert(mac, {m_run, last.record, last.address, last.lastSeen});
            WatchEvent missing{WatchEvent::Kind::Missing, last.record, {}};
            if (presenceChanged(mac, now, missing))
                events.append(missing);
        }
        forgetOldestMissing();
    }
    addSteadyEvents(now, events);
    events.removeIf([this](const WatchEvent &event) { return !isWatched(event.device); });
    return events;
}

bool DeviceWatch::presenceChanged(const QString &mac, const QDateTime &now, WatchEvent &event)
{
    Flaps &flaps = m_flaps[mac];
    const QDateTime windowStart = now.addSecs(-m_rule.flapWindow.count());
    flaps.changes.removeIf([&](const QDateTime &time) { return time <= windowStart; });
    flaps.changes.append(now);
    if (flaps.flapping)
        return false;
    if (flaps.changes.size() >= m_rule.flapChanges) {
        flaps.flapping = true;
        event.kind = WatchEvent::Kind::Flapping;
    }
    return true;
}

void DeviceWatch::addSteadyEvents(const QDateTime &now, QList<WatchEvent> &events)
{
    const QDateTime windowStart = now.addSecs(-m_rule.flapWindow.count());
    QStringList steady;
    for (auto it = m_flaps.begin(); it != m_flaps.end();) {
        if (!it->changes.isEmpty() && it->changes.last() > windowStart) {
            ++it;
            continue;
        }
        if (it->flapping)
            steady.append(it.key());
        it = m_flaps.erase(it);
    }
    std::sort(steady.begin(), steady.end());
    for (const QString &mac : steady) {
        if (const auto present = m_present.constFind(mac); present != m_present.cend())
            events.append({WatchEvent::Kind::Steady, present->record, {}, true});
        else if (const auto missing = m_missing.constFind(mac); missing != m_missing.cend() && missing->record)
            events.append({WatchEvent::Kind::Steady, missing->record, {}, false});
    }
}

bool DeviceWatch::isWatched(const Device &device) const
{
    return !m_watched || !device || m_watched(deviceMac(*device).value_or(QString()));
}

QList<HistoryEntry> DeviceWatch::missingNow() const
{
    QList<HistoryEntry> missing;
    QStringList macs = m_missing.keys();
    std::sort(macs.begin(), macs.end());
    for (const QString &mac : macs) {
        const Missing &entry = m_missing[mac];
        const auto flaps = m_flaps.constFind(mac);
        if (entry.record && isWatched(entry.record) && (flaps == m_flaps.cend() || !flaps->flapping))
            missing.append({entry.record, entry.address, {}, entry.lastSeen});
    }
    return missing;
}

QList<DeviceWatch::DeviceState> DeviceWatch::devicesNow() const
{
    QMap<QString, DeviceState> byMac;
    for (auto it = m_present.cbegin(); it != m_present.cend(); ++it)
        byMac.insert(it.key(), {it->record, true, it->lastSeen});
    for (auto it = m_missing.cbegin(); it != m_missing.cend(); ++it) {
        if (it->record)
            byMac.insert(it.key(), {it->record, false, it->lastSeen});
    }
    QList<DeviceState> states;
    for (const DeviceState &state : std::as_const(byMac)) {
        if (isWatched(state.record))
            states.append(state);
    }
    return states;
}

void DeviceWatch::forgetOldestMissing()
{
    if (m_missing.size() <= maxRemembered)
        return;
    QList<std::pair<quint64, QString>> byRun;
    for (auto it = m_missing.cbegin(); it != m_missing.cend(); ++it)
        byRun.append({it->run, it.key()});
    std::sort(byRun.begin(), byRun.end());
    for (qsizetype i = 0; i < byRun.size() - maxRemembered; ++i) {
        m_missing.remove(byRun.at(i).second);
        m_flaps.remove(byRun.at(i).second);
    }
}

QByteArray watchEventLine(const WatchEvent &event, const QDateTime &time, const LabelOf &labelOf)
{
    QByteArray line = "{\"time\":" + safeJsonValue(historyTimeText(time)) + ",\"event\":\"" + watchEventName(event.kind)
                      + "\",\"device\":" + safeJsonValue(printedRecord(*event.device, labelOf));
    if (event.kind == WatchEvent::Kind::Moved)
        line += ",\"from\":" + safeJsonValue(event.from);
    if (event.kind == WatchEvent::Kind::Steady)
        line += event.present ? ",\"present\":true" : ",\"present\":false";
    return line + "}\n";
}
