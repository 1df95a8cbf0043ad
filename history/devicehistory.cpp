#include "history/devicehistory.h"

#include "history/boundedjson.h"
#include "platform/log.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QStandardPaths>

#include <algorithm>

namespace {

// The file says what it is, so that a file of another kind or version is never read as one.
constexpr QStringView formatName = u"devicefinder-history";
constexpr int formatVersion = 1;

QByteArray compact(const QJsonObject &object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
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
    for (const QStringView key : {DeviceKey::hostname, DeviceKey::serialNumber, DeviceKey::ipAddress,
                                  DeviceKey::macAddress, DeviceKey::deviceType, DeviceKey::uptime,
                                  DeviceKey::redirectAddress, DeviceKey::tag, DeviceKey::sha}) {
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

// Puts a file that is not a history out of the way, so that the next save does not destroy
// what a person may want to look at.
void setAside(const QString &path, const QString &problem)
{
    const QString aside = path + QStringLiteral(".bad");
    QFile::remove(aside);
    if (QFile::rename(path, aside))
        logLine(lcModel, "Device history %@ set aside as %@: %@", path, aside, problem);
    else
        logLine(lcModel, "Device history %@ not read, and could not be set aside: %@", path, problem);
}

} // namespace

QSet<QString> DeviceChanges::addedIdentities() const
{
    QSet<QString> identities;
    for (const Device &device : added)
        identities.insert(*deviceIdentity(*device));
    return identities;
}

QHash<QString, QString> DeviceChanges::movedFrom() const
{
    QHash<QString, QString> from;
    for (const MovedDevice &device : moved)
        from.insert(*deviceIdentity(*device.device), device.from);
    return from;
}

QString DeviceHistory::defaultPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)
           + QStringLiteral("/devicefinder/history.json");
}

DeviceHistory DeviceHistory::load(const QString &path)
{
    const QFileInfo info(path);
    if (!info.exists() && !info.isSymLink())
        return {};
    const FileBytes file = readBoundedFile(path, true);
    QString problem = file.problem;
    if (problem.isEmpty()) {
        if (std::optional<DeviceHistory> history = fromJson(file.bytes, &problem))
            return *history;
    }
    setAside(path, problem);
    return {};
}

bool DeviceHistory::save(const QString &path) const
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    const QByteArray bytes = toJson();
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit())
        return true;
    logLine(lcModel, "Device history %@ could not be written: %@", path, file.errorString());
    return false;
}

std::optional<DeviceHistory> DeviceHistory::fromJson(const QByteArray &bytes, QString *problem)
{
    const auto refuse = [problem](const QString &why) {
        *problem = why;
        return std::nullopt;
    };
    const ParsedJson parsed = parseBoundedJson(bytes);
    if (!parsed.problem.isEmpty())
        return refuse(parsed.problem);
    const QJsonObject root = parsed.document.object();
    if (root.value(u"format").toString() != formatName || root.value(u"version") != formatVersion)
        return refuse(QStringLiteral("not a device history of this version"));
    const QJsonValue devices = root.value(u"devices");
    if (!devices.isArray() || devices.toArray().size() > maxDevices)
        return refuse(QStringLiteral("no list of at most %1 devices").arg(maxDevices));
    DeviceHistory history;
    for (const QJsonValue &value : devices.toArray()) {
        std::optional<std::pair<QString, HistoryEntry>> entry = entryOf(value);
        if (!entry || history.m_entries.contains(entry->first))
            return refuse(QStringLiteral("a device entry is malformed or repeated"));
        history.m_entries.insert(entry->first, entry->second);
    }
    const QJsonValue lastRun = root.value(u"lastCompletedRun");
    if (lastRun.isNull())
        return history;
    const std::optional<QDateTime> time = timeOf(lastRun.toObject().value(u"time"));
    const QJsonValue seen = lastRun.toObject().value(u"devices");
    if (!time || !seen.isArray())
        return refuse(QStringLiteral("the last completed run is malformed"));
    history.m_lastRunTime = *time;
    QSet<QString> listed;
    for (const QJsonValue &mac : seen.toArray()) {
        if (!mac.isString() || !history.m_entries.contains(mac.toString()) || listed.contains(mac.toString()))
            return refuse(QStringLiteral("the last completed run names an unknown or repeated device"));
        listed.insert(mac.toString());
        history.m_lastRunDevices.append(mac.toString());
    }
    return history;
}

QByteArray DeviceHistory::toJson() const
{
    QJsonArray devices;
    for (const QString &mac : newestFirst())
        devices.append(entryJson(mac, m_entries[mac]));
    QJsonValue lastRun(QJsonValue::Null);
    if (m_lastRunTime.isValid())
        lastRun = QJsonObject{{QStringLiteral("time"), historyTimeText(m_lastRunTime)},
                              {QStringLiteral("devices"), QJsonArray::fromStringList(m_lastRunDevices)}};
    const QJsonObject root{{QStringLiteral("format"), formatName.toString()},
                           {QStringLiteral("version"), formatVersion},
                           {QStringLiteral("lastCompletedRun"), lastRun},
                           {QStringLiteral("devices"), devices}};
    return compact(root);
}

DeviceChanges DeviceHistory::changes(const DeviceList &found, bool completed) const
{
    DeviceChanges changes;
    changes.since = m_lastRunTime;
    const DeviceList devices = distinctDevices(found);
    if (!m_lastRunTime.isValid()) {
        changes.added = devices;
        return changes;
    }
    QSet<QString> seenNow;
    for (const Device &device : devices) {
        const QString mac = *deviceIdentity(*device);
        seenNow.insert(mac);
        const auto known = m_entries.constFind(mac);
        if (known == m_entries.cend()) {
            changes.added.append(device);
            continue;
        }
        if (hasMoved(known->lastAddress, deviceAddress(*device)))
            changes.moved.append({known->lastAddress, device});
    }
    if (!completed)
        return changes; // it did not ask every device
    for (const QString &mac : m_lastRunDevices) {
        if (!seenNow.contains(mac))
            changes.missing.append(m_entries.value(mac));
    }
    return changes;
}

void DeviceHistory::record(const DeviceList &found, bool completed, const QDateTime &now)
{
    const QDateTime seen = QDateTime::fromSecsSinceEpoch(now.toSecsSinceEpoch()).toUTC();
    QStringList seenNow;
    for (const Device &device : distinctDevices(found)) {
        const std::optional<QJsonObject> kept = keptRecord(device->object());
        if (!kept)
            continue;
        const QString mac = *deviceIdentity(*device);
        HistoryEntry &entry = m_entries[mac];
        if (!entry.firstSeen.isValid())
            entry.firstSeen = seen;
        entry.lastSeen = seen;
        entry.record = *kept == device->object() ? device : std::make_shared<const DeviceRecord>(*kept);
        entry.lastAddress = deviceAddress(*entry.record);
        seenNow.append(mac);
    }
    if (completed) {
        m_lastRunTime = seen;
        m_lastRunDevices = seenNow;
    }
    applyBounds(seen);
}

void DeviceHistory::applyBounds(const QDateTime &now)
{
    const QDateTime oldest = now.addDays(-maxAgeDays);
    m_entries.removeIf([&](QHash<QString, HistoryEntry>::iterator it) { return it->lastSeen < oldest; });

    // The most recently seen devices stay, as many as the count and the file's bounds allow,
    // leaving room for the rest of the file.
    const QSet<QString> inLastRun(m_lastRunDevices.cbegin(), m_lastRunDevices.cend());
    qint64 bytes = 1024;
    JsonSize total{16, 64};
    QSet<QString> kept;
    for (const QString &mac : newestFirst()) {
        const QByteArray json = compact(entryJson(mac, m_entries[mac]));
        const JsonSize size = measureJson(json);
        qint64 entryBytes = json.size() + 1;
        qsizetype entryItems = size.items + 1;
        if (inLastRun.contains(mac)) {
            entryBytes += QJsonDocument(QJsonArray{mac}).toJson(QJsonDocument::Compact).size();
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
    m_lastRunDevices.removeIf([&](const QString &mac) { return !kept.contains(mac); });
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
        const std::optional<QString> mac = deviceIdentity(*device);
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
