#pragma once

#include <QDateTime>
#include <QString>

// Numbers and times inside the tool's English sentences, written the English way whatever
// the user's locale. Pure, any thread.

// A count with English digit groups: "65,536".
QString groupedNumber(quint64 number);

// "8 Dec 09:14" in local time, "8 Dec 2025 09:14" in a year other than now's.
QString shortTimeText(const QDateTime &time, const QDateTime &now);
