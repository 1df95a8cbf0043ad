#pragma once

#include "history/devicehistory.h"

#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QList>

struct WatchEvent final {
    enum class Kind { New, Missing, Moved, Back };
    Kind kind = Kind::New;
    Device device; // the record of this run; for Missing, the last one seen
    QString from;  // Moved: the address the device had before
};

// What `watch` reports, judged over the device lists of successive completed discovery
// runs. A device is new when it was never seen, moved when it answers at another address,
// missing only after two runs in a row without it (one lost datagram must not raise an
// alarm) and back when it answers again after it was reported missing. Records without a
// MAC address take no part. Memory stays bounded: a device reported missing is remembered
// only by its MAC address, and only the maxRemembered most recently reported. One thread at
// a time.
class DeviceWatch final {
public:
    static constexpr qsizetype maxRemembered = 10'000;

    // With nothing to compare with, the first run is what the later ones are compared with,
    // and reports nothing.
    DeviceWatch() = default;
    // Starts from the history's last completed run: its devices are there, with their
    // records and addresses, and every other device the history knows was missing. A
    // history without a completed run is nothing to compare with.
    explicit DeviceWatch(const DeviceHistory &history);

    // The events of one more completed run: new, moved and back in the run's order, then
    // missing by MAC address. A run that could not ask everyone (some broadcasts did not
    // go out) counts nobody absent.
    QList<WatchEvent> update(const DeviceList &found, bool askedEveryone = true);

private:
    struct Present final {
        Device record;
        QString address;
        bool absentOnce = false;
    };

    void forgetOldestMissing();

    bool m_started = false;
    quint64 m_run = 0;
    QHash<QString, Present> m_present; // by MAC address
    QHash<QString, quint64> m_missing; // MAC address -> the run that reported it
};

// "new", "missing", "moved" or "back", as the event lines and the program's DF_EVENT say it.
const char *watchEventName(WatchEvent::Kind kind);

// One event as one line of compact JSON with its line end:
// {"time": "2026-12-08T09:14:03Z", "event": "moved", "device": record, "from": "ADDR"}
// ("from" only for a moved device), the record with the user's label (see printedRecord).
QByteArray watchEventLine(const WatchEvent &event, const QDateTime &time, const LabelOf &labelOf = {});
