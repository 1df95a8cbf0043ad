#pragma once

#include <QByteArrayView>
#include <QString>
#include <QStringView>

// A stranger's text on one line: what a device sends, a line of a file the user was given, an
// answer of another program. One set of characters may not stand in such a line as they are,
// and each place that shows or hands on the text chooses how they appear there. The window's
// cells show the text as it is (a widget acts on none of them), the CSV output keeps it whole
// by its own quoting, and JSON by its own escapes (platform/safejson.h): they use none of
// this. Pure, any thread.

// Whether a terminal would act on the character or hide it: a control character (C0, DEL, C1,
// line breaks and tabs among them), a line or paragraph separator, a format character
// (direction marks, overrides and isolates, zero-width characters, the tag characters) or a
// private-use character.
bool isUnsafeCharacter(char32_t c);
bool holdsUnsafeCharacter(QStringView text);

enum class TextPlace {
    // A terminal, the log, a program's environment, a notification: every unsafe character
    // by its code point ("\x1b", "\u202e", "\U000e0041") and a backslash doubled, so that the
    // four characters "\x07" and the bell character never read alike.
    Escaped,
    // A label value of the Prometheus text format: its own escapes only ("\\", "\"", "\n"),
    // and any other unsafe character the replacement character U+FFFD.
    MetricsLabel,
};
QString safeText(QStringView text, TextPlace place = TextPlace::Escaped);

// What a terminal shows of the text: safeText(text, TextPlace::Escaped).
QString terminalText(const QString &text);

// Bytes that need not be text, escaped the same way: printable ASCII as it is, a backslash
// doubled, any other byte by its value ("\x0a", "\xf7").
QString safeBytes(QByteArrayView bytes);
