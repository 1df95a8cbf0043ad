#include "platform/englishtext.h"

#include <QLocale>

namespace {

const QLocale &english()
{
    static const QLocale locale(QLocale::English, QLocale::UnitedStates);
    return locale;
}

} // namespace

QString groupedNumber(quint64 number)
{
    return english().toString(number);
}

QString shortTimeText(const QDateTime &time, const QDateTime &now)
{
    const QDateTime local = time.toLocalTime();
    const bool thisYear = local.date().year() == now.toLocalTime().date().year();
    return english().toString(local, thisYear ? QStringLiteral("d MMM HH:mm") : QStringLiteral("d MMM yyyy HH:mm"));
}
