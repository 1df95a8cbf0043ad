#include "model/scanprogresstext.h"

#include <QLocale>

QString scanProgressText(quint64 probed, quint64 total)
{
    // The sentence is English, so are its digit groups, whatever the user's locale.
    static const QLocale english(QLocale::English, QLocale::UnitedStates);
    return QStringLiteral("Probed %1 of %2 addresses").arg(english.toString(probed), english.toString(total));
}
