#include "model/scanprogresstext.h"

#include <QLocale>

QString scanProgressText(quint64 probed, quint64 total)
{
    return QStringLiteral("Probed %1 of %2 addresses").arg(groupedNumber(probed), groupedNumber(total));
}

QString groupedNumber(quint64 number)
{
    static const QLocale english(QLocale::English, QLocale::UnitedStates);
    return english.toString(number);
}
