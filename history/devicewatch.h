#pragma once

#include "history/devicehistory.h"
#include "history/eventkind.h"

#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QList>

#include <chrono>
#include <functional>

struct WatchEvent final {
    using Kind = EventKind;
    Kind kind = Kind::New;
    Device device;        // the record of this run; for a device not there, the last one seen
    QString from;         // Moved: the address the device had before
    bool present = true;  // Steady: whether the device is there now
};

// The watch rule's numbers, the same for `watch`, the window and every notification.
struct WatchRule final {
    static constexpr int minMissingAfter = 1;
    static constexpr int maxMissingAfter = 1000;
    // A device is missing after this many completed runs in a row without it.
    int missingAfter = 2;
    // This many presence changes (missing, back) within flapWindow make a device flapping;
    // it is steady again after flapWindow without a change.
    int flapChanges = 4;
    std::chrono::seconds flapWindow{3600};
};

// Whether the user watches the device with this MAC address (as the record writes it).
using WatchedTest = std::function<bool(const QString &mac)>;

// What `watch` reports, judged over the device lists of successive completed discovery
// runs. A device is new when it was never seen, moved when it answers at another address,
// missing only after rule.missingAfter runs in a row without it (one lost datagram must not
// raise an alarm) and back when it answers again after it was reported missing. A device
// whose presence changes rule.flapChanges times within rule.flapWindow gives one "flapping"
// event instead of the last change, then no missing or back events until it has had no
// change for rule.flapWindow, when one "steady" event says whether it is there. A device
// the user does not watch is judged the same way, but its events are left out. Records
// without a MAC address take no part. Memory stays bounded: only the maxRemembered most
// recently missing devices are remembered. One thread at a time.
class DeviceWatch final {
public:
    static constexpr qsizetype maxRemembered = 10'000;

    // With nothing to compare with, the first run is what the later ones are compared with,
    // and reports nothing.
    explicit DeviceWatch(WatchRule rule = {}) : m_rule(rule) {}
    // Starts from the history's last completed discovery: its devices are there, with their
    // records and addresses, and every other device the history knows was missing. Without a
    // completed discovery nobody is there or missing, and only a device the history has never
    // seen is new; an empty history is nothing to compare with.
    explicit DeviceWatch(const DeviceHistory &history, WatchRule rule = {});
    // A watch of ranges starts from the devices the history last saw inside them: those seen
    // by its last completed run are there (and, when it `discovers` too, those of the last
    // completed discovery), the others were missing. Without a completed run, as above.
    DeviceWatch(const DeviceHistory &history, const RunScope &ranges, WatchRule rule = {}, bool discovers = false);

    void setWatched(WatchedTest watched) { m_watched = std::move(watched); }
    const WatchRule &rule() const { return m_rule; }

    // The events of one more completed run, ended at `now`: new, moved, back and flapping
    // in the run's order, then missing by MAC address, then steady. A run that could not
    // ask everyone (some broadcasts did not go out) counts nobody absent; one that asked a
    // scope (a scan's ranges) counts absent only the devices last seen inside it.
    QList<WatchEvent> update(const DeviceList &found, bool askedEveryone = true,
                             const QDateTime &now = QDateTime::currentDateTimeUtc(), const RunScope &scope = {});

    // The devices a round asks at their last addresses before any of them counts absent:
    // those there in the previous round or absent fewer rounds than the rule's number, last
    // seen inside `scope`, at most maxKnownAsks of them (the most recently seen first), as
    // MAC address and address text.
    static constexpr qsizetype maxKnownAsks = 1024;
    QList<std::pair<QString, QString>> knownDevices(const RunScope &scope = {}) const;

    // The watched devices reported missing during this watch and not back, nor flapping,
    // each with its last record and when it was last seen, by MAC address.
    QList<HistoryEntry> missingNow() const;

    struct DeviceState final {
        Device record; // the latest one seen
        bool up = true; // false: missing by the rule
        QDateTime lastSeen; // invalid: not known
    };
    // Every watched device this watch has a record of, by MAC address: those there (also
    // those absent fewer runs than the rule's number) and those missing.
    QList<DeviceState> devicesNow() const;

private:
    struct Present final {
        Device record;
        QString address;
        QDateTime lastSeen;
        int absentRuns = 0;
    };
    struct Missing final {
        quint64 run = 0; // the run that reported it; 0: missing before the watch began
        Device record;
        QString address;
        QDateTime lastSeen;
    };
    struct Flaps final {
        QList<QDateTime> changes; // the latest ones, within the window
        bool flapping = false;
    };

    // Whether a presence change of `mac` at `now` is told as it is; a change that makes the
    // device flapping becomes that event.
    bool presenceChanged(const QString &mac, const QDateTime &now, WatchEvent &event);
    void addSteadyEvents(const QDateTime &now, QList<WatchEvent> &events);
    bool isWatched(const Device &device) const;
    // Known to the history, but judged by no run of this kind yet: neither new nor back.
    void startQuietly(const DeviceHistory &history);
    void forgetOldestMissing();

    WatchRule m_rule;
    WatchedTest m_watched;
    bool m_started = false;
    quint64 m_run = 0;
    QHash<QString, Present> m_present; // by MAC address
    QHash<QString, Missing> m_missing;
    QHash<QString, Flaps> m_flaps;
    QSet<QString> m_quiet; // seen by the history, and by no round of this watch yet
};

// One event as one line of compact JSON with its line end:
// {"time": "2026-12-08T09:14:03Z", "event": "moved", "device": record, "from": "ADDR"}
// ("from" only for a moved device, "present": true or false only for a steady one), the
// record with the user's label (see printedRecord).
QByteArray watchEventLine(const WatchEvent &event, const QDateTime &time, const LabelOf &labelOf = {});
