#pragma once

#include <QStringView>
#include <QtGlobal>

// The integer value of a text: leading white space skipped, an optional sign, then the
// decimal digits up to the first other character; 0 without digits. A value beyond 64
// bits saturates. Pure, any thread.
qint64 integerValue(QStringView text);
