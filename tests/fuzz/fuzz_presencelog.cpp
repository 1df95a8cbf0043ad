#include "history/presencelog.h"
#include "tests/fuzz/require.h"

#include <QFile>
#include <QLoggingCategory>
#include <QTemporaryDir>

#include <cstdint>

// The presence log is a file the tool keeps: whatever it holds, a line is an event or
// nothing, an event written back reads as the same event, and a whole file is read through,
// each line counted once as an event or as skipped.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    static const bool quiet = [] {
        QLoggingCategory::setFilterRules(QStringLiteral("devicefinder.*=false"));
        return true;
    }();
    (void)quiet;
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));

    if (const std::optional<PresenceEvent> event = presenceEvent(bytes)) {
        const QByteArray line = presenceLine(*event);
        require(!line.contains('\n'), "an event is written as one line");
        const int year = event->time.date().year();
        if (year >= 1 && year <= 9999) {
            const std::optional<PresenceEvent> again = presenceEvent(line);
            require(again.has_value(), "an event written reads back");
            require(again->time.toSecsSinceEpoch() == event->time.toSecsSinceEpoch() && again->event == event->event
                        && again->mac == event->mac && again->address == event->address
                        && again->source == event->source && again->present == event->present
                        && (event->event != u"moved" || again->from == event->from),
                    "an event written reads back the same");
        }
    }

    static QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("events.jsonl"));
    QFile file(path);
    require(file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size(), "the file is written");
    file.close();
    qsizetype events = 0;
    const PresenceReading reading = PresenceLog(path).read([&events](PresenceEvent &&) { ++events; });
    require(reading.readable, "a log that is there is read");
    require(events + reading.skipped <= bytes.count('\n') + 1, "each line an event or skipped, at most");
    return 0;
}
