#pragma once

#include "model/devicerecord.h"

#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>

#include <functional>
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

// What a run asked, by which it is judged: a discovery asks every device its broadcasts
// reach, a scan the addresses of its ranges, less those it found no route to.
struct RunScope final {
    // A scan's test of an address text; empty for a discovery.
    std::function<bool(const QString &address)> covers;

    bool isDiscovery() const { return !covers; }
};

struct LoadedHistory;
struct HistoryReading;

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

    // The history a file holds. A missing file is an empty history. A damaged one (read
    // whole and not JSON, truncated, too large, a history of this kind that is malformed) is
    // set aside under a name of its own with the time in it (the newest 5 kept) with one log
    // line, and the history starts empty; only the very file that was read is set aside (one
    // written over it meanwhile is read instead). A file of another kind or of a newer
    // version, one that cannot be read now (permissions, an I/O error, not a regular file),
    // and a damaged one that cannot be set aside are left untouched and not used: nothing
    // may be judged against them or written over them. The next load tries again.
    static LoadedHistory load(const QString &path);
    // Writes the whole history atomically: another process sees the old file or the new one,
    // never a part. Of two processes saving, the last one's file stays. Logs one line and
    // returns false when it cannot be written.
    bool save(const QString &path) const;

    // What a file's bytes hold (see HistoryReading). Pure.
    static HistoryReading read(const QByteArray &bytes);
    QByteArray toJson() const;

    // What a run that found `found` (its found lists, duplicates and records without a MAC
    // address included) changes, judged by what it asked: new and moved devices for any
    // run; missing ones only for a completed run, a discovery's against the last completed
    // discovery, a scan's among the devices last seen at an address it asked. New is a MAC
    // address the history has never seen, whatever kind of run saw the others. With no run of
    // its kind to compare with (no completed discovery before a discovery, no completed run at
    // all before a scan), nobody is missing and `since` is invalid: the window marks nothing then.
    DeviceChanges changes(const DeviceList &found, bool completed, const RunScope &scope = {}) const;
    // Records a run that ended at `now`: its devices are seen then, at their addresses. A
    // completed discovery becomes the one the next discovery judges missing devices against;
    // a scan or a stopped run only adds what it found. Then the bounds apply. A clock that
    // reads earlier than the history's latest time moves nothing backwards: the run is
    // recorded at that latest time, so that no sighting goes back, no device ages out and
    // "since" stays true; with a clock before 2000 and nothing recorded yet, the run records
    // nothing and this returns false. A clock more than a day past the latest time is
    // trusted only when the previous run's clock read as far ahead (a computer off for a
    // while, whose second run agrees): until then the run is recorded at the latest time too,
    // and its clock kept as unconfirmedTime for the next run to agree with or not. Once it
    // agrees, that run's time is a clock jump: since a clock that stays wrong agrees with
    // itself too, a device seen before the jump keeps its last sighting and ages out
    // maxAgeDays after the jump, not at once.
    bool record(const DeviceList &found, bool completed, const QDateTime &now, const RunScope &scope = {});

    qsizetype size() const { return m_entries.size(); }
    std::optional<HistoryEntry> entry(const QString &mac) const;
    // The last completed run of any kind, and the last completed discovery with the
    // devices it saw, in its order.
    QDateTime lastCompletedRun() const { return m_lastRunTime; }
    QDateTime lastCompletedDiscovery() const { return m_discoveryTime; }
    QStringList lastDiscoveryDevices() const { return m_discoveryDevices; }
    // The clock of the last run when it read too far ahead to be trusted yet; invalid when
    // the last run's clock was trusted.
    QDateTime unconfirmedTime() const { return m_unconfirmedTime; }
    // When the latest confirmed clock jump was recorded; invalid when there was none.
    QDateTime clockJump() const { return m_clockJump; }
    // The MAC addresses, the most recently seen first (ties by MAC address): the order of
    // the file and of the bounds.
    QStringList newestFirst() const;

private:
    // The latest time the history holds: its last completed run, or its latest sighting.
    QDateTime latestTime() const;
    void applyBounds(const QDateTime &now);

    QHash<QString, HistoryEntry> m_entries; // by MAC address
    QDateTime m_lastRunTime;                // invalid until a run completes
    QDateTime m_discoveryTime;              // invalid until a discovery completes
    QStringList m_discoveryDevices;         // MAC addresses, each one with an entry
    QDateTime m_unconfirmedTime;            // see unconfirmedTime()
    QDateTime m_clockJump;                  // see clockJump()
};

struct LoadedHistory final {
    DeviceHistory history;
    bool usable = true;
    QString problem; // why it is not used
};

// What a file's bytes hold: a history (of this version, or of an earlier one read as this
// one), a damaged one, or a file of another kind or of a newer version, with why it is not a
// history.
struct HistoryReading final {
    enum class Kind { History, Damaged, Foreign, Newer } kind = Kind::Damaged;
    std::optional<DeviceHistory> history; // History only
    QString problem;
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
