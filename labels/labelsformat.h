#pragma once

#include "model/devicerecord.h" // macAddressKey: a label is kept under it

#include <QByteArray>
#include <QJsonArray>
#include <QMap>
#include <QSet>
#include <QString>
#include <QStringView>

#include <optional>

// The user's labels as text: which MAC addresses and labels are well-formed, and the labels
// file's JSON. Pure, any thread.

inline constexpr qsizetype maxLabels = 10'000;
inline constexpr qsizetype maxLabelLength = 200; // in characters (code points)

// Why the text cannot be a label, or nothing when it can: empty, longer than maxLabelLength
// characters, or holding a character that could move a terminal's cursor or hide text: a
// control character (line breaks and tabs included), a line or paragraph separator, an
// invisible format character (direction overrides, zero-width ones), a private-use
// character, or a broken UTF-16 surrogate. Such a label prints as it is, everywhere.
std::optional<QString> labelProblem(QStringView label);

// The labels file's content, by macAddressKey.
struct LabelsContent final {
    enum class Status { Read, Damaged, Newer };
    Status status = Status::Read;
    QMap<QString, QString> labels; // Read only
    QSet<QString> unwatched;       // Read only: the devices the user does not watch
    QString problem;               // Damaged, Newer: why, for a log line or the user
};

// The keys of a label entry: "macAddress", "label" and "watch".
inline constexpr QStringView labelEntryKeys[] = {u"macAddress", u"label", u"watch"};

// What the bytes of a labels file hold. Damaged: not JSON, too large for the bounded reader,
// another kind of file, a version that is not a whole number of at least 1, more than
// maxLabels labels, or an entry that is malformed, repeats a MAC address (in any spelling)
// or holds a label that labelProblem refuses. Newer: a labels file of a later version, which
// this one must neither read nor replace. Version 1 files (labels only) read as they are;
// an entry of version 2 holds a label, "watch": false, or both.
LabelsContent labelsFromJson(const QByteArray &bytes);
// What a list of label entries holds, as the labels file and a settings document keep them:
// Read, or Damaged as labelsFromJson says of the entries and their number.
LabelsContent labelsFromEntries(const QJsonArray &entries);

// The file's bytes for the labels (keys as macAddressKey gives them, labels labelProblem
// accepts) and the devices not watched, sorted by MAC address; labelsFromJson reads them
// back unchanged. At most maxLabels entries are read back.
QByteArray labelsToJson(const QMap<QString, QString> &labels, const QSet<QString> &unwatched = {});
// The same labels as the list of entries that file holds, which labelsFromEntries reads.
QJsonArray labelEntries(const QMap<QString, QString> &labels, const QSet<QString> &unwatched);
