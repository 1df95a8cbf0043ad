#include "scan/scanprogresstext.h"

#include "platform/englishtext.h"

QString scanProgressText(quint64 probed, quint64 total, quint64 found)
{
    return QStringLiteral("Probed %1 of %2 addresses, %3 %4 found")
        .arg(groupedNumber(probed), groupedNumber(total), groupedNumber(found),
             found == 1 ? QStringLiteral("device") : QStringLiteral("devices"));
}
