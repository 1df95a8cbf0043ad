#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QDateTime>
#include <QJsonObject>
#include <QList>
#include <QSet>
#include <QString>

#include <chrono>
#include <functional>
#include <optional>

// One line of the presence log: what a run judged of one device.
struct PresenceEvent final {
    QDateTime time = {};   // UTC, whole seconds: the time the history records for the run
    QString event = {};    // new, missing, back, moved, flapping, steady (history/eventkind.h)
    QString mac = {};      // as the record writes it
    QString address = {};  // the device's address then; may be empty
    QString from = {};     // moved: the address before
    std::optional<bool> present = {}; // steady: whether the device is there
    QString source = {};   // discover, scan, watch, window
    QString site = {};     // the place the watcher watches; empty in lines written before sites
    QJsonObject line = {}; // the line as read, for those who show it as it is
};

// The line's compact JSON, without its line end.
QByteArray presenceLine(const PresenceEvent &event);
// The event a line (without its line end) holds; nothing for a damaged one.
std::optional<PresenceEvent> presenceEvent(QByteArrayView line);

// When the log is compacted, and to what. Past either of the first two, only the events of
// the last keptDays stay, at most keptLines and keptBytes of them (the newest): well below
// the first two, so that the next append does not compact again.
struct PresenceLogBounds final {
    qsizetype compactLines = 100'000;
    qint64 compactBytes = 16 * 1024 * 1024;
    qsizetype keptLines = 75'000;
    qint64 keptBytes = 12 * 1024 * 1024;
    int keptDays = 90;
};

// What reading the log found. A file that cannot be read now is left alone: unreadable.
struct PresenceReading final {
    bool readable = true;
    QString problem;       // unreadable: why
    qsizetype skipped = 0; // damaged or longer than maxLineBytes
};

// events.jsonl in the data folder, beside the history: the changes of every run that records
// into the history, one JSON object a line, oldest first. Appended whole under the data lock
// (platform/datalock.h), so that two instances never interleave and a compaction never loses
// another instance's line; read streamed, a line at a time, without the lock. Any thread.
class PresenceLog final {
public:
    static constexpr qsizetype maxLineBytes = 4096;

    static inline const QString fileName = QStringLiteral("events.jsonl");
    // In the data folder, and beside any other history file.
    static QString defaultPath();
    static QString besideHistory(const QString &historyFile);

    explicit PresenceLog(QString path, PresenceLogBounds bounds = {},
                         std::chrono::milliseconds lockWait = std::chrono::seconds(5));

    const QString &path() const { return m_path; }
    // Appends the events, then compacts the log when it is past its bounds, all under the
    // lock; events older than keptDays before `now` go then. A problem is logged in one line
    // and returned; nothing is written then.
    QString append(const QList<PresenceEvent> &events,
                   const QDateTime &now = QDateTime::currentDateTimeUtc());
    // Hands each event of the log to `visit`, oldest first. The damaged and overlong lines
    // skipped are counted in one log line. A log that is not there is empty. With `macs`,
    // only their events: a line this tool wrote for another device is passed over unparsed.
    PresenceReading read(const std::function<void(PresenceEvent &&)> &visit, const QSet<QString> *macs = nullptr) const;
    // The events `take` accepts, oldest first: at most compactLines of them, the newest.
    QList<PresenceEvent> events(const std::function<bool(const PresenceEvent &)> &take, PresenceReading *reading) const;

private:
    void compactIfPast(const QDateTime &now) const;

    QString m_path;
    PresenceLogBounds m_bounds;
    std::chrono::milliseconds m_lockWait;
};
