#include "history/devicehistory.h"

#include "history/setaside.h"
#include "platform/boundedjson.h"
#include "platform/log.h"
#include "platform/safejson.h"
#include "platform/toolfiles.h"
#include "platform/versioneddocument.h"
#include "platform/wholefile.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>

namespace {

// The file says what it is, so that a file of another kind or version is never read as one.
// Version 1 kept one last completed run, of any kind; version 2 keeps the last completed
// discovery apart from the last completed run, and may hold a clock reading not yet trusted
// ("unconfirmedTime") and the latest confirmed clock jump ("clockJump"), both of which an
// earlier reader of version 2 passes over.
constexpr QStringView formatName = u"devicefinder-history";
constexpr int formatVersion = 2;

// A clock before this has never been set: nothing it says is a time to record.
const QDateTime earliestTrustedTime(QDate(2000, 1, 1), QTime(0, 0), Qt::UTC);

// A clock that reads further than this past the history's latest time is trusted only once a
// later run's clock agrees.
constexpr qint64 trustedStepSeconds = 24 * 3600;

QByteArray compact(const QJsonObject &object)
{
    return safeJson(QJsonDocument(object), QJsonDocument::Compact);
}

// The record as the history keeps it: whole when small, otherwise only its known keys that
// hold short texts; nothing when even that has no MAC address left.
std::optional<QJsonObject> keptRecord(const QJsonObject &record)
{
    const QByteArray json = compact(record);
    const qsizetype nested = measureJson(json).containers - 1; // the record itself is one
    if (json.size() <= DeviceHistory::maxRecordBytes && nested <= DeviceHistory::maxRecordContainers)
        return record;
    QJsonObject kept;
    for (const QStringView key : DeviceKey::deviceKeys) {
        const QJsonValue value = record.value(key);
        if (value.isString() && value.toString().size() <= DeviceHistory::maxKeptTextLength)
            kept.insert(key, value);
    }
    if (!kept.contains(DeviceKey::macAddress))
        return std::nullopt;
    return kept;
}

QJsonObject entryJson(const QString &mac, const HistoryEntry &entry)
{
    return {{QStringLiteral("macAddress"), mac},
            {QStringLiteral("firstSeen"), historyTimeText(entry.firstSeen)},
            {QStringLiteral("lastSeen"), historyTimeText(entry.lastSeen)},
            {QStringLiteral("lastAddress"), entry.lastAddress},
            {QStringLiteral("record"), entry.record->object()}};
}

std::optional<QDateTime> timeOf(const QJsonValue &value)
{
    const QDateTime time = QDateTime::fromString(value.toString(), Qt::ISODate);
    if (!value.isString() || !time.isValid())
        return std::nullopt;
    return time.toUTC();
}

std::optional<std::pair<QString, HistoryEntry>> entryOf(const QJsonValue &value)
{
    const QJsonObject object = value.toObject();
    const QJsonValue mac = object.value(u"macAddress");
    const QJsonObject record = object.value(u"record").toObject();
    const std::optional<QDateTime> firstSeen = timeOf(object.value(u"firstSeen"));
    const std::optional<QDateTime> lastSeen = timeOf(object.value(u"lastSeen"));
    const QJsonValue lastAddress = object.value(u"lastAddress");
    if (!mac.isString() || record.value(DeviceKey::macAddress) != mac || !firstSeen || !lastSeen
        || !lastAddress.isString())
        return std::nullopt;
    return std::pair(mac.toString(), HistoryEntry{std::make_shared<const DeviceRecord>(record),
                                                  lastAddress.toString(), *firstSeen, *lastSeen});
}

// The MAC addresses a run lists, each one known to the history, once; those of entries
// passed over are left out.
std::optional<QStringList> deviceList(const QJsonValue &value, const QHash<QString, HistoryEntry> &entries,
                                      const QSet<QString> &passedOver)
{
    if (!value.isArray())
        return std::nullopt;
    QStringList macs;
    QSet<QString> listed;
    for (const QJsonValue &mac : value.toArray()) {
        if (mac.isString() && passedOver.contains(mac.toString()))
            continue;
        if (!mac.isString() || !entries.contains(mac.toString()) || listed.contains(mac.toString()))
            return std::nullopt;
        listed.insert(mac.toString());
        macs.append(mac.toString());
    }
    return macs;
}

} // namespace

QSet<QString> DeviceChanges::addedIdentities() const
{
    QSet<QString> identities;
    for (const Device &device : added)
        identities.insert(*deviceMac(*device));
    return identities;
}

QHash<QString, QString> DeviceChanges::movedFrom() const
{
    QHash<QString, QString> from;
    for (const MovedDevice &device : moved)
        from.insert(*deviceMac(*device.device), device.from);
    return from;
}

QString DeviceHistory::defaultPath()
{
    return dataFile(QStringLiteral("history.json"));
}

LoadedHistory DeviceHistory::load(const QString &path)
{
    HistoryReading reading;
    const OwnFileReading file = readOwnFile(path, [&reading](const QByteArray &bytes) {
        reading = read(bytes);
        return reading.kind == HistoryReading::Kind::Damaged ? std::optional(reading.problem) : std::nullopt;
    });
    switch (file.status) {
    case OwnFileReading::Status::Missing:
        return {};
    case OwnFileReading::Status::Unreadable:
        // Not what it holds: it is left as it is, and read again the next time.
        return {{}, false, QStringLiteral("%1 cannot be read now: %2").arg(path, file.problem)};
    case OwnFileReading::Status::SetAside:
        logLine(lcModel, "Device history %@ set aside as %@: %@", path, file.asidePath, file.problem);
        return {};
    case OwnFileReading::Status::Damaged:
        // Never written over: the caller says why, once.
        return {{}, false,
                QStringLiteral("%1 is damaged (%2) and could not be set aside: %3").arg(path, file.problem, file.asideProblem)};
    case OwnFileReading::Status::Read:
        break;
    }
    if (reading.kind == HistoryReading::Kind::History)
        return {*reading.history, true, {}};
    return {{}, false, QStringLiteral("%1 is %2").arg(path, reading.problem)};
}

bool DeviceHistory::save(const QString &path) const
{
    const Result<> written = writeWholeFile(path, toJson(), FileOwner::Tool);
    if (!written)
        logLine(lcModel, "Device history %@ could not be written: %@", path, written.reason());
    return bool(written);
}

HistoryReading DeviceHistory::read(const QByteArray &bytes)
{
    const auto damaged = [](const QString &why) { return HistoryReading{HistoryReading::Kind::Damaged, std::nullopt, why}; };
    const VersionedDocument document = readVersionedDocument(bytes, formatName, formatVersion);
    switch (document.kind) {
    case VersionedDocument::Kind::Unparsed:
        return damaged(document.problem);
    case VersionedDocument::Kind::Foreign:
        return {HistoryReading::Kind::Foreign, std::nullopt, QStringLiteral("not a device history")};
    case VersionedDocument::Kind::Newer:
        return {HistoryReading::Kind::Newer, std::nullopt,
                QStringLiteral("a device history of a newer version (%1) of the tool").arg(document.version)};
    case VersionedDocument::Kind::NoVersion:
        return damaged(QStringLiteral("a device history of no known version"));
    case VersionedDocument::Kind::Document:
        break;
    }
    const QJsonObject &root = document.root;
    const qint64 version = document.version;
    const QJsonValue devices = root.value(u"devices");
    if (!devices.isArray() || devices.toArray().size() > maxDevices)
        return damaged(QStringLiteral("no list of at most %1 devices").arg(maxDevices));
    DeviceHistory history;
    QSet<QString> passedOver;
    for (const QJsonValue &value : devices.toArray()) {
        std::optional<std::pair<QString, HistoryEntry>> entry = entryOf(value);
        if (!entry || history.m_entries.contains(entry->first) || passedOver.contains(entry->first))
            return damaged(QStringLiteral("a device entry is malformed or repeated"));
        // An earlier version kept any text as a MAC address; the history knows devices by MAC
        // addresses alone now.
        if (!macAddressKey(entry->first)) {
            passedOver.insert(entry->first);
            continue;
        }
        history.m_entries.insert(entry->first, entry->second);
    }
    // Version 1's last completed run stands for both.
    const QJsonValue discovery = root.value(version == 1 ? u"lastCompletedRun" : u"lastCompletedDiscovery");
    if (!discovery.isNull()) {
        const std::optional<QDateTime> time = timeOf(discovery.toObject().value(u"time"));
        const std::optional<QStringList> seen =
            deviceList(discovery.toObject().value(u"devices"), history.m_entries, passedOver);
        if (!time || !seen)
            return damaged(QStringLiteral("the last completed discovery is malformed or names an unknown device"));
        history.m_discoveryTime = *time;
        history.m_discoveryDevices = *seen;
        history.m_lastRunTime = *time;
    }
    if (version > 1 && !root.value(u"lastCompletedRun").isNull()) {
        const std::optional<QDateTime> time = timeOf(root.value(u"lastCompletedRun"));
        if (!time)
            return damaged(QStringLiteral("the last completed run is malformed"));
        history.m_lastRunTime = *time;
    }
    // Only a reading waiting for the next run: without one that run waits for a second.
    history.m_unconfirmedTime = timeOf(root.value(u"unconfirmedTime")).value_or(QDateTime());
    history.m_clockJump = timeOf(root.value(u"clockJump")).value_or(QDateTime());
    return {HistoryReading::Kind::History, std::move(history), {}};
}

QByteArray DeviceHistory::toJson() const
{
    QJsonArray devices;
    for (const QString &mac : newestFirst())
        devices.append(entryJson(mac, m_entries[mac]));
    QJsonValue discovery(QJsonValue::Null);
    if (m_discoveryTime.isValid())
        discovery = QJsonObject{{QStringLiteral("time"), historyTimeText(m_discoveryTime)},
                                {QStringLiteral("devices"), QJsonArray::fromStringList(m_discoveryDevices)}};
    QJsonObject root = versionedDocumentHead(formatName, formatVersion);
    root.insert(QStringLiteral("lastCompletedRun"),
                m_lastRunTime.isValid() ? QJsonValue(historyTimeText(m_lastRunTime)) : QJsonValue(QJsonValue::Null));
    root.insert(QStringLiteral("lastCompletedDiscovery"), discovery);
    root.insert(QStringLiteral("devices"), devices);
    if (m_unconfirmedTime.isValid())
        root.insert(QStringLiteral("unconfirmedTime"), historyTimeText(m_unconfirmedTime));
    if (m_clockJump.isValid())
        root.insert(QStringLiteral("clockJump"), historyTimeText(m_clockJump));
    return compact(root);
}

DeviceChanges DeviceHistory::changes(const DeviceList &found, bool completed, const RunScope &scope) const
{
    DeviceChanges changes;
    changes.since = scope.isDiscovery() ? m_discoveryTime : m_lastRunTime;
    const DeviceList devices = distinctDevices(found);
    QSet<QString> seenNow;
    for (const Device &device : devices) {
        const QString mac = *deviceMac(*device);
        seenNow.insert(mac);
        const auto known = m_entries.constFind(mac);
        if (known == m_entries.cend()) {
            changes.added.append(device);
            continue;
        }
        if (hasMoved(known->lastAddress, deviceAddress(*device)))
            changes.moved.append({known->lastAddress, device});
    }
    // Without a completed run of its kind to compare with, nobody is missing: a device absent
    // now may never have been asked by such a run.
    if (!completed || !changes.since.isValid())
        return changes;
    if (scope.isDiscovery()) {
        for (const QString &mac : m_discoveryDevices) {
            if (!seenNow.contains(mac))
                changes.missing.append(m_entries.value(mac));
        }
        return changes;
    }
    // A scan asked only its ranges: a device last seen elsewhere is not missing from them.
    for (const QString &mac : newestFirst()) {
        const HistoryEntry &entry = m_entries[mac];
        if (!seenNow.contains(mac) && !entry.lastAddress.isEmpty() && scope.covers(entry.lastAddress))
            changes.missing.append(entry);
    }
    return changes;
}

bool DeviceHistory::record(const DeviceList &found, bool completed, const QDateTime &now, const RunScope &scope)
{
    QDateTime seen = QDateTime::fromSecsSinceEpoch(now.toSecsSinceEpoch()).toUTC();
    // A clock set back moves nothing backwards; one that was never set records nothing when
    // no time of the history can stand in for it.
    const QDateTime latest = latestTime();
    if (latest.isValid() && seen < latest)
        seen = latest;
    if (seen < earliestTrustedTime)
        return false;
    // A clock far ahead would age out everyone unseen and pin every later sighting to its
    // future: it is trusted once a second run agrees, its clock reading at least what the
    // run before it kept. Until then the run is recorded at the latest time.
    const QDateTime clock = seen;
    const bool agreed = m_unconfirmedTime.isValid() && clock >= m_unconfirmedTime;
    m_unconfirmedTime = QDateTime();
    if (latest.isValid() && clock > latest.addSecs(trustedStepSeconds)) {
        if (agreed) {
            m_clockJump = clock;
        } else {
            m_unconfirmedTime = clock;
            seen = latest;
        }
    }
    QStringList seenNow;
    for (const Device &device : distinctDevices(found)) {
        const std::optional<QJsonObject> kept = keptRecord(device->object());
        if (!kept)
            continue;
        const QString mac = *deviceMac(*device);
        HistoryEntry &entry = m_entries[mac];
        if (!entry.firstSeen.isValid())
            entry.firstSeen = seen;
        entry.lastSeen = seen;
        entry.record = *kept == device->object() ? device : std::make_shared<const DeviceRecord>(*kept);
        entry.lastAddress = deviceAddress(*entry.record);
        seenNow.append(mac);
    }
    if (completed)
        m_lastRunTime = seen;
    if (completed && scope.isDiscovery()) {
        m_discoveryTime = seen;
        m_discoveryDevices = seenNow;
    }
    applyBounds(seen);
    return true;
}

QDateTime DeviceHistory::latestTime() const
{
    QDateTime latest = m_lastRunTime;
    if (m_clockJump.isValid() && (!latest.isValid() || m_clockJump > latest))
        latest = m_clockJump;
    for (const HistoryEntry &entry : m_entries) {
        if (!latest.isValid() || entry.lastSeen > latest)
            latest = entry.lastSeen;
    }
    return latest;
}

void DeviceHistory::applyBounds(const QDateTime &now)
{
    // A device unseen since before a clock jump counts its age from the jump.
    const QDateTime oldest = now.addDays(-maxAgeDays);
    m_entries.removeIf([&](QHash<QString, HistoryEntry>::iterator it) {
        return it->lastSeen < oldest && (!m_clockJump.isValid() || m_clockJump < oldest);
    });

    // The most recently seen devices stay, as many as the count and the file's bounds allow,
    // leaving room for the rest of the file.
    const QSet<QString> inLastRun(m_discoveryDevices.cbegin(), m_discoveryDevices.cend());
    qint64 bytes = 1024;
    JsonSize total{16, 64};
    QSet<QString> kept;
    for (const QString &mac : newestFirst()) {
        const QByteArray json = compact(entryJson(mac, m_entries[mac]));
        const JsonSize size = measureJson(json);
        qint64 entryBytes = json.size() + 1;
        qsizetype entryItems = size.items + 1;
        if (inLastRun.contains(mac)) {
            entryBytes += safeJson(QJsonDocument(QJsonArray{mac}), QJsonDocument::Compact).size();
            entryItems += 1;
        }
        if (kept.size() == maxDevices || bytes + entryBytes > maxJsonFileBytes
            || total.items + entryItems > maxJsonItems || total.containers + size.containers > maxJsonContainers)
            break;
        bytes += entryBytes;
        total.items += entryItems;
        total.containers += size.containers;
        kept.insert(mac);
    }
    m_entries.removeIf([&](QHash<QString, HistoryEntry>::iterator it) { return !kept.contains(it.key()); });
    m_discoveryDevices.removeIf([&](const QString &mac) { return !kept.contains(mac); });
}

QStringList DeviceHistory::newestFirst() const
{
    QList<std::pair<QDateTime, QString>> seen;
    for (auto it = m_entries.cbegin(); it != m_entries.cend(); ++it)
        seen.append({it->lastSeen, it.key()});
    std::sort(seen.begin(), seen.end(), [](const auto &a, const auto &b) {
        return a.first != b.first ? a.first > b.first : a.second < b.second;
    });
    QStringList macs;
    for (const auto &[time, mac] : seen)
        macs.append(mac);
    return macs;
}

std::optional<HistoryEntry> DeviceHistory::entry(const QString &mac) const
{
    const auto it = m_entries.constFind(mac);
    if (it == m_entries.cend())
        return std::nullopt;
    return *it;
}

QString deviceAddress(const DeviceRecord &record)
{
    const QJsonValue address = record.value(DeviceKey::ipAddress);
    return address.isString() ? address.toString() : QString();
}

bool hasMoved(const QString &from, const QString &to)
{
    return !from.isEmpty() && !to.isEmpty() && from != to;
}

DeviceList distinctDevices(const DeviceList &found)
{
    DeviceList devices;
    QSet<QString> seen;
    for (const Device &device : found) {
        const std::optional<QString> mac = deviceMac(*device);
        if (mac && !seen.contains(*mac)) {
            seen.insert(*mac);
            devices.append(device);
        }
    }
    return devices;
}

QString historyTimeText(const QDateTime &time)
{
    return QDateTime::fromSecsSinceEpoch(time.toSecsSinceEpoch()).toUTC().toString(Qt::ISODate);
}
