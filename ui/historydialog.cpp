#include "ui/historydialog.h"

#include "history/presencespans.h"
#include "platform/englishtext.h"
#include "platform/safetext.h"
#include "ui/presencestrip.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QListWidget>
#include <QVBoxLayout>

HistoryDialog::HistoryDialog(const QString &device, const QList<PresenceEvent> &events, const QDateTime &logStart,
                             const QDateTime &now, QWidget *parent)
    : QDialog(parent)
{
    setWindowTitle(tr("History of %1").arg(terminalText(device)));
    auto *layout = new QVBoxLayout(this);
    const QDateTime end = now.toUTC();
    for (const auto &[days, last] : {std::pair{1, tr("24 hours")}, std::pair{7, tr("7 days")}}) {
        const QList<PresenceSpan> spans = presenceSpans(events, logStart, end.addDays(-days), end);
        const QString summary = presenceSummary(spans, events, last);
        auto *title = new QLabel(tr("The last %1").arg(last), this);
        auto *strip = new PresenceStrip(spans, summary, this);
        strip->setObjectName(days == 1 ? QStringLiteral("dayStrip") : QStringLiteral("weekStrip"));
        title->setBuddy(strip);
        auto *words = new QLabel(summary, this);
        words->setTextFormat(Qt::PlainText);
        layout->addWidget(title);
        layout->addWidget(strip);
        layout->addWidget(words);
    }
    auto *list = new QListWidget(this);
    list->setObjectName(QStringLiteral("historyEvents"));
    list->setAccessibleName(tr("Events"));
    for (auto event = events.crbegin(); event != events.crend(); ++event) {
        QString text = QStringLiteral("%1  %2  %3").arg(shortTimeText(event->time, now), event->event, event->address);
        if (!event->from.isEmpty())
            text += tr(" (from %1)").arg(event->from);
        list->addItem(terminalText(text + QStringLiteral("  \u00b7 ") + event->source));
    }
    if (events.isEmpty())
        list->addItem(tr("The presence log holds no event of this device."));
    layout->addWidget(list, 1);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
    resize(sizeHint().expandedTo(QSize(fontMetrics().averageCharWidth() * 70, fontMetrics().height() * 24)));
}

DevicePast devicePast(const QString &path, const QString &mac)
{
    DevicePast past;
    PresenceReading reading;
    bool first = true;
    past.events = PresenceLog(path).events(
        [&](const PresenceEvent &event) {
            if (std::exchange(first, false))
                past.logStart = event.time;
            return event.mac.compare(mac, Qt::CaseInsensitive) == 0;
        },
        &reading);
    past.problem = reading.problem;
    return past;
}
