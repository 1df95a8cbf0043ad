#pragma once

#include <QString>
#include <QStringView>

// What a device's text may hold when a person sees it. Pure, any thread.

// A control character: C0 and C1, DEL, line breaks and tabs among them.
bool isControlCharacter(char32_t c);
// Whether the text holds a control character.
bool hasControlCharacter(QStringView text);

// Whether a terminal would act on the character or hide it: a control, format or private-use
// character, or a line or paragraph separator.
bool isUnshownCharacter(char32_t c);

// A device chooses its texts: on a terminal none of them may move the cursor, change colours,
// turn the line around or hide in it. Every character isUnshownCharacter names is shown
// escaped by code point ("\x1b", "\u202e", "\U000e0041"); the JSON output keeps them exactly.
QString terminalText(const QString &text);
