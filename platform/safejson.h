#pragma once

#include <QByteArray>
#include <QJsonDocument>
#include <QJsonValue>

// The one way the tool writes JSON: every output, report, export and file it keeps. JSON is
// read at a terminal as often as by a program, so a text that stands in it may hold nothing a
// terminal acts on: besides the C0 controls QJsonDocument escapes itself, DEL, the C1
// controls, the line and paragraph separators and the direction controls (marks, embeddings,
// overrides, isolates) go as "\u" escapes, which a JSON reader reads as the very same text.
// Other format characters (zero-width, tags) move nothing and stay as they are. Pure, any
// thread.
QByteArray safeJson(const QJsonDocument &document, QJsonDocument::JsonFormat format = QJsonDocument::Indented);

// The compact JSON text of one value, written as safeJson writes: "\"lobby\"", "{...}", "3".
QByteArray safeJsonValue(const QJsonValue &value);
