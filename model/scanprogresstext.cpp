#include "model/scanprogresstext.h"

#include <QLocale>

QString scanProgressText(quint64 probed, quint64 total, quint64 found)
{
    return QStringLiteral("Probed %1 of %2 addresses, %3 %4 found")
        .arg(groupedNumber(probed), groupedNumber(total), groupedNumber(found),
             found == 1 ? QStringLiteral("device") : QStringLiteral("devices"));
}

QString groupedNumber(quint64 number)
{
    static const QLocale english(QLocale::English, QLocale::UnitedStates);
    return english.toString(number);
}
