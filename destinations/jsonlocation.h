#pragma once

#include <QByteArrayView>
#include <QList>
#include <QString>

#include <variant>

// Where a value stands in a JSON text, so that a refusal of a file can name its line and
// column. Pure, any thread.

// A member's key or an array's index, from the document's root down.
using JsonStep = std::variant<QString, qsizetype>;

struct TextPosition final {
    int line = 1;
    int column = 1; // in bytes, from 1
};

// The position of the byte at `offset`.
TextPosition textPosition(QByteArrayView text, qsizetype offset);

// The offset of the value at `path` in a valid JSON text: of the member's key for a key, so
// that a refusal points at the name; the deepest part found when the rest is not there.
qsizetype jsonOffset(QByteArrayView text, const QList<JsonStep> &path);
