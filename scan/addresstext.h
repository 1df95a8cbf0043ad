#pragma once

#include <QString>
#include <QStringView>
#include <QtGlobal>

#include <array>
#include <optional>

// The dotted text of four octet numbers and back. An octet may lie outside 0..255 (a dash
// range's bounds are not checked against 255) and is then written as the number it is, so
// the text of four numbers names them exactly. Pure functions, any thread.

// Rewrites `text` in place with the octets in decimal joined by "."; allocates nothing
// while nobody else shares the text, so a walk can call it once per address.
void writeAddressText(QString &text, const std::array<qint64, 4> &octets);

// The four numbers whose text is exactly `text` (four decimal numbers, an optional "-", no
// leading zeros, nothing else); nullopt for any other text, "010.0.0.1" and "10.0.0.1 "
// included.
std::optional<std::array<qint64, 4>> canonicalOctets(QStringView text);
