#pragma once

#include "model/devicerecord.h"

#include <QMap>
#include <QSet>
#include <QString>
#include <QStringView>

#include <chrono>
#include <functional>

// The user's own names for devices, keyed by MAC address (see macAddressKey), kept in one
// JSON file beside the device history. They are the user's data, not history: never aged
// out, read also when the history is not, and never dropped without a word: a damaged file
// is set aside, one that cannot be read is left untouched, and neither is written over.
//
// One object is used by one thread at a time. Objects in several threads or processes may
// share one file: each edit re-reads it under a lock file beside it, so that none loses
// another's label.
class DeviceLabels final {
public:
    // ~/.local/share/devicefinder/labels.json (the data folder follows XDG_DATA_HOME).
    static QString defaultPath();

    // Reads the labels at `path`, as reload does. An edit waits at most `lockWait` for
    // another's edit to end.
    explicit DeviceLabels(QString path, std::chrono::milliseconds lockWait = std::chrono::seconds(5));

    // Reads the file again. A missing file is no labels. A file read whole that is damaged,
    // foreign or too large (see labelsFromJson) is set aside (setAsideFile) with one log line
    // and a notice, and the labels start empty. A file of a newer version is left untouched:
    // no labels, and read-only. One that cannot be read now (permissions, an I/O error, not a
    // regular file), or a damaged one that cannot be set aside, is left untouched too, with
    // one log line and a notice: the labels read before stay, read-only. Each read-only
    // state is said once, and lasts until a read (this, or an edit's) reads the file.
    void reload();

    const QString &path() const { return m_path; }
    // Every label, by macAddressKey.
    const QMap<QString, QString> &labels() const { return m_labels; }
    // The label of a MAC address in any well-formed spelling; empty when it has none or the
    // text is not a well-formed MAC address.
    QString label(QStringView mac) const;
    // The label of the record's macAddress text; empty when it has none or lacks a
    // well-formed one.
    QString labelOf(const DeviceRecord &record) const;

    // Whether edits are refused until the file can be read again, and why, for the user.
    bool isReadOnly() const { return !m_readOnlyReason.isEmpty(); }
    const QString &readOnlyReason() const { return m_readOnlyReason; }
    // What the user should be told once, such as "the labels file was damaged and set aside
    // as ...": taking it clears it. Empty when there is nothing to tell.
    QString takeNotice();

    // Gives the device with MAC address `mac` (any well-formed spelling) the label `text`,
    // with white space around it trimmed; an empty or blank text removes its label. Under
    // the lock, the file is read again, this one change applied to what it holds, and the
    // whole written atomically (writeWholeFile); labels() then shows the file as written. Returns
    // why nothing was written, or empty: a malformed MAC address or label, a file that is
    // newer or cannot be read now (read-only, as reload says), a lock not had in time, more
    // than maxLabels labels, or a write that failed. A file found damaged is set aside, and
    // the labels this object read before are written.
    QString setLabel(QStringView mac, const QString &text);

    // Whether the user watches the device (any well-formed spelling; any other text is
    // watched): its watch events are told. Kept in the same file, as setLabel keeps labels.
    bool isWatched(QStringView mac) const;
    const QSet<QString> &unwatched() const { return m_unwatched; }
    // Leaves the device out of watching, or watches it again; as setLabel edits the file.
    QString setWatched(QStringView mac, bool watched);

    // Under the lock, re-reads the file, applies `change` to what it holds and writes the
    // whole, as setLabel says; the change must keep keys and labels well-formed.
    QString edit(const std::function<void(QMap<QString, QString> &labels, QSet<QString> &unwatched)> &change);

    // Holds the lock while `act` runs, for a change of the labels file together with other
    // files: `act` reloads, writes the file itself (never through edit or setLabel, which take
    // the lock too) and says why it failed, or nothing. Returns why the lock was not had in
    // time, or what `act` returned.
    QString holdingLock(const std::function<QString()> &act);

private:
    struct Reading;
    Reading readFile();
    // The labels and the read-only state a reading gives, said once.
    void take(const Reading &reading);

    QString m_path;
    std::chrono::milliseconds m_lockWait;
    QMap<QString, QString> m_labels;
    QSet<QString> m_unwatched;
    QString m_readOnlyReason;
    QString m_notice;
};
