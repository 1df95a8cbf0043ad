#include "history/presencelog.h"
#include "history/presencespans.h"
#include "labels/devicelabels.h"
#include "support/files.h"
#include "support/logcapture.h"

#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

Q_DECLARE_METATYPE(PresenceLogBounds)

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

namespace {

const QDateTime now = QDateTime::fromString(u"2026-12-08T09:00:00Z"_s, Qt::ISODate);

// The event of device `n`, `daysAgo` before now.
PresenceEvent eventOf(int n, int daysAgo = 0)
{
    return {now.addDays(-daysAgo), u"new"_s, u"00:80:a3:00:00:%1"_s.arg(n, 2, 10, QChar(u'0')), u"10.0.0.1"_s,
            {}, std::nullopt, u"discover"_s, {}};
}

// The devices' numbers of the log's events, oldest first.
QList<int> numbers(const PresenceLog &log)
{
    QList<int> found;
    log.read([&](PresenceEvent &&event) { found.append(event.mac.right(2).toInt()); });
    return found;
}

// "SOURCE EVENT HOURS-AGO" (a steady's "steady-up" or "steady-down"), as the log holds it.
QList<PresenceEvent> eventsOf(const QString &text)
{
    QList<PresenceEvent> events;
    for (const QString &item : text.split(u", "_s, Qt::SkipEmptyParts)) {
        const QStringList words = item.split(u' ');
        PresenceEvent &event = events.emplace_back(eventOf(1));
        event.source = words.at(0);
        event.event = words.at(1).section(u'-', 0, 0);
        if (event.event == u"steady")
            event.present = words.at(1).endsWith(u"up"_s);
        event.time = now.addSecs(-3600 * words.at(2).toInt());
    }
    return events;
}

// The spans as "STATE FROM-TO" in hours ago.
QString spansText(const QList<PresenceSpan> &spans)
{
    static const char *const states[] = {"unknown", "present", "absent"};
    QStringList texts;
    for (const PresenceSpan &span : spans)
        texts.append(u"%1 %2-%3"_s.arg(QLatin1StringView(states[int(span.state)]))
                         .arg(span.start.secsTo(now) / 3600)
                         .arg(span.end.secsTo(now) / 3600));
    return texts.join(u", "_s);
}

} // namespace

class TestPresenceLog final : public QObject {
    Q_OBJECT

private slots:
    // The labels' lock is the log's: while it is held, nothing is appended.
    void appendsUnderTheLabelsLock()
    {
        QTemporaryDir dir;
        DeviceLabels labels(dir.filePath(u"labels.json"_s));
        PresenceLog log(dir.filePath(u"events.jsonl"_s), {}, 0ms);
        LogCapture capture;
        QString refused;
        labels.holdingLock([&] {
            refused = log.append({eventOf(1)}, now);
            return QString();
        });
        QVERIFY(!refused.isEmpty());
        QVERIFY(!QFile::exists(log.path()));
        QVERIFY(log.append({eventOf(2), eventOf(3)}, now).isEmpty());
        QCOMPARE(numbers(log), (QList<int>{2, 3}));
        QCOMPARE(capture.lines().size(), 1);
        const QSet<QString> one{eventOf(3).mac};
        QStringList read;
        log.read([&](PresenceEvent &&event) { read.append(event.mac); }, &one);
        QCOMPARE(read, QStringList(one.cbegin(), one.cend()));
    }

    // Past its bounds the log keeps the newest events of its last days within the kept
    // bounds, so that the next append does not compact again.
    void bounds_data()
    {
        QTest::addColumn<PresenceLogBounds>("bounds");
        QTest::addColumn<QList<int>>("daysAgo"); // of devices 0, 1, ...: the lines before the append
        QTest::addColumn<QList<int>>("kept");    // the devices after one more append (device 99)
        const qint64 line = presenceLine(eventOf(0)).size() + 1;
        const QList<int> fresh(6, 0);
        QTest::newRow("at the lines' bound") << PresenceLogBounds{7, 1 << 20, 4, 1 << 20, 90} << fresh
                                             << QList<int>{0, 1, 2, 3, 4, 5, 99};
        QTest::newRow("past the lines' bound") << PresenceLogBounds{6, 1 << 20, 4, 1 << 20, 90} << fresh
                                               << QList<int>{3, 4, 5, 99};
        QTest::newRow("past the bytes' bound") << PresenceLogBounds{100, 6 * line, 100, 3 * line, 90} << fresh
                                               << QList<int>{4, 5, 99};
        QTest::newRow("older than its days") << PresenceLogBounds{6, 1 << 20, 100, 1 << 20, 90}
                                             << QList<int>{200, 91, 90, 3, 1, 0} << QList<int>{2, 3, 4, 5, 99};
    }
    void bounds()
    {
        QFETCH(PresenceLogBounds, bounds);
        QFETCH(QList<int>, daysAgo);
        QTemporaryDir dir;
        PresenceLog log(dir.filePath(u"events.jsonl"_s), bounds);
        QList<PresenceEvent> before;
        for (int n = 0; n < daysAgo.size(); ++n)
            before.append(eventOf(n, daysAgo.at(n)));
        LogCapture capture;
        QVERIFY(writeFile(log.path(), [&] {
            QByteArray lines;
            for (const PresenceEvent &event : before)
                lines += presenceLine(event) + '\n';
            return lines;
        }()));
        QVERIFY(log.append({eventOf(99)}, now).isEmpty());
        QTEST(numbers(log), "kept");
        const QList<int> kept = numbers(log);
        if (kept.size() <= daysAgo.size()) {
            QVERIFY(log.append({eventOf(98)}, now).isEmpty());
            QCOMPARE(numbers(log), kept + QList<int>{98});
        }
    }

    // The strip of the last 24 hours, and what a screen reader hears of it.
    void spans_data()
    {
        QTest::addColumn<QString>("events");
        QTest::addColumn<int>("logStart"); // hours ago; -1: no log
        QTest::addColumn<QString>("spans");
        QTest::addColumn<QString>("summary");
        QTest::newRow("no log") << QString() << -1 << u"unknown 24-0"_s << u"Present 0 min of the last 24 hours; never missing"_s;
        QTest::newRow("new, missing, back") << u"discover new 20, scan missing 10, discover back 5"_s << 30
                                            << u"unknown 24-20, present 20-10, absent 10-5, present 5-0"_s
                                            << u"Present 15 h 0 min of the last 24 hours; missing once"_s;
        QTest::newRow("the log begins within") << u"discover missing 6, discover moved 3"_s << 12
                                               << u"unknown 24-12, present 12-6, absent 6-3, present 3-0"_s
                                               << u"Present 9 h 0 min of the last 24 hours; missing once"_s;
        QTest::newRow("watch's lines win") << u"discover missing 8, watch missing 6, window back 2, discover missing 1"_s << 30
                                           << u"present 24-6, absent 6-2, present 2-0"_s
                                           << u"Present 20 h 0 min of the last 24 hours; missing once"_s;
        QTest::newRow("all before the span") << u"watch new 48, watch missing 30"_s << 50 << u"absent 24-0"_s
                                             << u"Present 0 min of the last 24 hours; never missing"_s;
        QTest::newRow("steady, flapping") << u"watch back 26, watch flapping 20, watch steady-down 4"_s << 30
                                          << u"present 24-4, absent 4-0"_s
                                          << u"Present 20 h 0 min of the last 24 hours; never missing"_s;
    }
    void spans()
    {
        QFETCH(QString, events);
        QFETCH(int, logStart);
        const QList<PresenceEvent> logged = eventsOf(events);
        const QList<PresenceSpan> spans =
            presenceSpans(logged, logStart < 0 ? QDateTime() : now.addSecs(-3600 * logStart), now.addDays(-1), now);
        QTEST(spansText(spans), "spans");
        QTEST(presenceSummary(spans, logged, u"24 hours"_s), "summary");
    }

    // Damaged and overlong lines, and events without a MAC address, are skipped and counted in
    // one log line; a half line at the end is ended before the next append; a file that cannot
    // be read now is left alone.
    void damage()
    {
        QTemporaryDir dir;
        PresenceLog log(dir.filePath(u"events.jsonl"_s));
        const QByteArray good = presenceLine(eventOf(1)) + '\n';
        PresenceEvent noMac = eventOf(3), notAMac = eventOf(4);
        noMac.mac.clear();
        notAMac.mac = u"00:80:a3:00:00"_s;
        const QByteArray withoutMacs = presenceLine(noMac) + '\n' + presenceLine(notAMac) + '\n';
        const QByteArray overlong = "{\"x\":\"" + QByteArray(PresenceLog::maxLineBytes, 'x') + "\"}\n";
        QVERIFY(writeFile(log.path(), good + "{\"time\": 3}\n" + overlong + withoutMacs + "not json\n" + good + "{\"ti"));
        LogCapture capture;
        PresenceReading reading;
        QCOMPARE(log.events({}, &reading).size(), 2);
        QCOMPARE(reading.skipped, 5);
        QCOMPARE(capture.lines().size(), 1);
        QVERIFY(capture.lines().first().contains(u"5 damaged or overlong lines"_s));
        // Read for another device, the lines for other MAC addresses are passed over unparsed.
        const QSet<QString> other{eventOf(9).mac};
        QCOMPARE(log.read([](PresenceEvent &&) { QFAIL("not this device's"); }, &other).skipped, 3);
        QVERIFY(log.append({eventOf(2)}, now).isEmpty());
        QCOMPARE(numbers(log), (QList<int>{1, 1, 2}));

        const QString pipe = dir.filePath(u"pipe.jsonl"_s);
        QCOMPARE(mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
        PresenceLog unreadable(pipe);
        QVERIFY(!unreadable.read([](PresenceEvent &&) {}).readable);
        QVERIFY(!unreadable.append({eventOf(3)}, now).isEmpty());
        QVERIFY(QFileInfo::exists(pipe) && !QFileInfo(pipe).isFile());
    }
};

QTEST_GUILESS_MAIN(TestPresenceLog)
#include "tst_presencelog.moc"
