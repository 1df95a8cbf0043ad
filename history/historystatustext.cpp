#include "history/historystatustext.h"

#include "platform/englishtext.h"

QString historyStatusText(qsizetype deviceCount, const DeviceChanges &changes, const QDateTime &now,
                          const QDateTime &missingSince)
{
    QString text = QStringLiteral("%1 %2").arg(groupedNumber(quint64(deviceCount)),
                                               deviceCount == 1 ? QStringLiteral("device") : QStringLiteral("devices"));
    const QString separator = QStringLiteral(" \u00b7 ");
    const QString since = QStringLiteral(" since ");
    const bool ownTime = missingSince.isValid() && !changes.missing.isEmpty();
    if (changes.since.isValid()) {
        QString counts;
        const std::pair<qsizetype, const char *> kinds[] = {
            {changes.added.size(), "new"}, {changes.moved.size(), "moved"}, {ownTime ? 0 : changes.missing.size(), "missing"}};
        for (const auto &[count, name] : kinds) {
            if (count > 0)
                counts += separator + groupedNumber(quint64(count)) + u' ' + QLatin1StringView(name);
        }
        if (counts.isEmpty() && !ownTime)
            counts = separator + QStringLiteral("no changes");
        if (!counts.isEmpty())
            text += counts + since + shortTimeText(changes.since, now);
    }
    if (ownTime)
        text += separator + groupedNumber(quint64(changes.missing.size())) + QStringLiteral(" missing") + since
                + shortTimeText(missingSince, now);
    return text;
}
