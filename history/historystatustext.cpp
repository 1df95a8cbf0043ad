#include "history/historystatustext.h"

#include "platform/englishtext.h"

QString historyStatusText(qsizetype deviceCount, const DeviceChanges &changes, const QDateTime &now)
{
    QString text = QStringLiteral("%1 %2").arg(groupedNumber(quint64(deviceCount)),
                                               deviceCount == 1 ? QStringLiteral("device") : QStringLiteral("devices"));
    if (!changes.since.isValid())
        return text;
    const QString separator = QStringLiteral(" \u00b7 ");
    if (changes.isEmpty())
        text += separator + QStringLiteral("no changes");
    const std::pair<qsizetype, const char *> counts[] = {
        {changes.added.size(), "new"}, {changes.moved.size(), "moved"}, {changes.missing.size(), "missing"}};
    for (const auto &[count, name] : counts) {
        if (count > 0)
            text += separator + groupedNumber(quint64(count)) + u' ' + QLatin1StringView(name);
    }
    return text + QStringLiteral(" since ") + shortTimeText(changes.since, now);
}
