#pragma once

#include "model/devicerecord.h"

#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>

#include <optional>

// One device as the history knows it: keyed by its MAC address (the same-device rule's
// exact text), with its last record and the address that record gave.
struct HistoryEntry final {
    Device record;
    QString lastAddress; // the record's ipAddress text; may be empty
    QDateTime firstSeen; // UTC, whole seconds
    QDateTime lastSeen;
};

struct MovedDevice final {
    QString from; // the address the device had before
    Device device;
};

// What one run's devices change against the history.
struct DeviceChanges final {
    DeviceList added;            // MAC addresses never seen before, in the run's order
    QList<HistoryEntry> missing; // seen in the previous completed run and not in this one
    QList<MovedDevice> moved;    // seen before at another address
    QDateTime since;             // when the previous completed run ended; invalid when none did

    bool isEmpty() const { return added.isEmpty() && missing.isEmpty() && moved.isEmpty(); }
    // For marking rows: the MAC addresses of the new devices, and each moved device's
    // previous address by its MAC address.
    QSet<QString> addedIdentities() const;
    QHash<QString, QString> movedFrom() const;
};

// When and where each device was seen, kept across launches in one JSON file: which devices
// are new, missing or moved is judged against it. Records without a MAC address are not
// kept. Bounded: a device unseen for maxAgeDays falls out, at most maxDevices are kept (the
// most recently seen), and the file stays within the bounds a load accepts. Main thread only.
class DeviceHistory final {
public:
    static constexpr int maxAgeDays = 90;
    static constexpr qsizetype maxDevices = 10'000;
    // A record larger than this, as compact JSON, or with more nested objects and arrays than
    // maxRecordContainers, keeps only its known keys that hold texts of at most
    // maxKeptTextLength characters: a device chooses its answer, and the history must stay
    // small.
    static constexpr qsizetype maxRecordBytes = 4096;
    static constexpr qsizetype maxRecordContainers = 16;
    static constexpr qsizetype maxKeptTextLength = 255;

    // ~/.local/share/devicefinder/history.json (the data folder follows XDG_DATA_HOME).
    static QString defaultPath();

    // Reads the file. A damaged, empty, foreign or too large file is set aside beside it
    // (the name with ".bad" added, replacing an earlier one) with one log line, and the
    // history starts empty; a missing file is an empty history. Never fails.
    static DeviceHistory load(const QString &path);
    // Writes the whole history atomically: another process sees the old file or the new one,
    // never a part. Of two processes saving, the last one's file stays. Logs one line and
    // returns false when it cannot be written.
    bool save(const QString &path) const;

    // The history of a file's bytes, or nothing with the reason, when they are not a whole,
    // well-formed history of this version. Pure.
    static std::optional<DeviceHistory> fromJson(const QByteArray &bytes, QString *problem);
    QByteArray toJson() const;

    // What a run that found `found` (its found lists, duplicates and records without a MAC
    // address included) changes: new and moved devices for any run, missing ones only for a
    // completed run. With no completed run in the history yet, every device of the run is
    // new and `since` is invalid: a caller with nothing to compare with marks nothing.
    DeviceChanges changes(const DeviceList &found, bool completed) const;
    // Records a run that ended at `now`: its devices are seen then, at their addresses. A
    // completed run becomes the one the next judges missing devices against; a stopped run
    // only adds what it found. Then the bounds apply.
    void record(const DeviceList &found, bool completed, const QDateTime &now);

    qsizetype size() const { return m_entries.size(); }
    std::optional<HistoryEntry> entry(const QString &mac) const;
    QDateTime lastCompletedRun() const { return m_lastRunTime; }
    // The devices the last completed run saw, in its order.
    QStringList lastRunDevices() const { return m_lastRunDevices; }
    // The MAC addresses, the most recently seen first (ties by MAC address): the order of
    // the file and of the bounds.
    QStringList newestFirst() const;

private:
    void applyBounds(const QDateTime &now);

    QHash<QString, HistoryEntry> m_entries; // by MAC address
    QDateTime m_lastRunTime;                // invalid until a run completes
    QStringList m_lastRunDevices;           // MAC addresses, each one with an entry
};

// Where a record says the device answered: its ipAddress text, or empty.
QString deviceAddress(const DeviceRecord &record);

// Whether a device that answered at `from` and now at `to` has moved: an address that is not
// known on either side is no move.
bool hasMoved(const QString &from, const QString &to);

// The devices of a run, each once (its first record) and only those with a MAC address.
DeviceList distinctDevices(const DeviceList &found);

// A time as the history file and the command line write it: UTC, whole seconds, ISO 8601
// ("2026-12-08T09:14:03Z").
QString historyTimeText(const QDateTime &time);
