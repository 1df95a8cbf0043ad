#include "app/diffcommand.h"
#include "history/changesexport.h"
#include "history/devicelistfile.h"
#include "history/devicewatch.h"
#include "history/historystatustext.h"
#include "model/deviceexport.h"
#include "platform/boundedjson.h"
#include "support/files.h"
#include "support/letterdevices.h"
#include "support/logcapture.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

#include <sys/resource.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

const QDateTime start = letterStart;

// "new b | missing c | moved a<10.0.0.1"
QString describe(const DeviceChanges &changes)
{
    QStringList parts;
    for (const Device &device : changes.added)
        parts.append(u"new "_s + nameOf(device->text(DeviceKey::macAddress)));
    for (const HistoryEntry &entry : changes.missing)
        parts.append(u"missing "_s + nameOf(entry.record->text(DeviceKey::macAddress)));
    for (const MovedDevice &device : changes.moved)
        parts.append(u"moved "_s + nameOf(device.device->text(DeviceKey::macAddress)) + u'<' + device.from);
    return parts.join(u" | "_s);
}

} // namespace

class TestHistory final : public QObject {
    Q_OBJECT

private slots:
    // Local time is UTC, so that the status line shows the file's times.
    void initTestCase() { qputenv("TZ", "UTC"); }

    void judgements_data()
    {
        QTest::addColumn<QStringList>("before");
        QTest::addColumn<QString>("run");
        QTest::addColumn<bool>("completed");
        QTest::addColumn<QString>("changes");
        QTest::addColumn<QString>("status"); // the line under the table
        QTest::addColumn<QString>("scope");  // a scan's range, see scopeOf
        const QString dot = u" \u00b7 "_s;
        QTest::newRow("no completed run: new only if never seen, nobody missing")
            << QStringList{u"S:a@1 c@3"_s} << u"a@1 b@2"_s << true << u"new b"_s << u"2 devices"_s << QString();
        QTest::newRow("after range watches, a first discovery: only the never seen are new")
            << QStringList{u"R:a@1 c@3"_s, u"R:a@1"_s} << u"a@1 b@2 c@4"_s << true << u"new b | moved c<10.0.0.3"_s
            << u"3 devices"_s << QString();
        QTest::newRow("no change") << QStringList{u"C:a@1"_s} << u"a@1"_s << true << QString()
                                   << u"1 device"_s + dot + u"no changes since 8 Dec 09:14"_s << QString();
        QTest::newRow("new, missing, moved") << QStringList{u"C:a@1 b@2"_s} << u"a@3 c@4 d@5"_s << true
                                             << u"new c | new d | missing b | moved a<10.0.0.1"_s
                                             << u"3 devices"_s + dot + u"2 new"_s + dot + u"1 moved"_s + dot + u"1 missing since 8 Dec 09:14"_s << QString();
        QTest::newRow("a stopped run marks nothing missing") << QStringList{u"C:a@1 b@2"_s} << u"c@3 a@4"_s << false
                                                             << u"new c | moved a<10.0.0.1"_s
                                                             << u"2 devices"_s + dot + u"1 new"_s + dot + u"1 moved since 8 Dec 09:14"_s << QString();
        QTest::newRow("after a stopped run: its devices known, missing judged against the completed one")
            << QStringList{u"C:a@1 b@2"_s, u"S:c@3"_s} << u"a@1 c@3"_s << true << u"missing b"_s
            << u"2 devices"_s + dot + u"1 missing since 8 Dec 09:14"_s << QString();
        QTest::newRow("the first record of a device counts, none without a MAC address")
            << QStringList{u"C:a@1 b@2"_s, u"C:a@1"_s} << u"a@1 a@9 -@2 *@3"_s << true << QString()
            << u"1 device"_s + dot + u"no changes since 8 Dec 10:14"_s << QString();
        QTest::newRow("a scan judges only its range") << QStringList{u"C:a@1 b@2 c@7"_s} << u"a@1"_s << true
                                                      << u"missing b"_s
                                                      << u"1 device"_s + dot + u"1 missing since 8 Dec 09:14"_s << u"1-3"_s;
        QTest::newRow("a scan is no discovery's baseline")
            << QStringList{u"C:a@1 b@2"_s, u"R:a@1"_s} << u"a@1 b@2"_s << true << QString()
            << u"2 devices"_s + dot + u"no changes since 8 Dec 09:14"_s << QString();
        QTest::newRow("a device moved into a scanned range") << QStringList{u"C:a@9"_s} << u"a@1"_s << true
                                                             << u"moved a<10.0.0.9"_s
                                                             << u"1 device"_s + dot + u"1 moved since 8 Dec 09:14"_s << u"1-3"_s;
    }

    void judgements()
    {
        QFETCH(QStringList, before);
        QFETCH(QString, run);
        QFETCH(bool, completed);
        QFETCH(QString, changes);
        QFETCH(QString, scope);
        const DeviceHistory history = historyOf(before);
        const DeviceChanges judged = history.changes(devices(run), completed, scopeOf(scope));
        QCOMPARE(describe(judged), changes);
        QCOMPARE(QJsonDocument::fromJson(changesAsJson(judged))[u"since"].isNull(),
                 !before.join(QString()).contains(scope.isEmpty() ? u"C:"_s : u":"_s));
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany)); // the month stays English
        QTEST(historyStatusText(distinctDevices(devices(run)).size(), judged, start), "status");
        QLocale::setDefault(QLocale::c());
        // The file keeps all that the judgements need.
        const HistoryReading reread = DeviceHistory::read(history.toJson());
        QVERIFY2(reread.history, qPrintable(reread.problem));
        QCOMPARE(describe(reread.history->changes(devices(run), completed, scopeOf(scope))), changes);
    }

    // While watching, the missing count has its own time (its first's last sighting).
    void watchedStatus()
    {
        const QString dot = u" \u00b7 "_s;
        const QDateTime lastSeen = start.addSecs(44 * 60);
        const DeviceHistory history = historyOf({u"C:a@1 c@4"_s});
        QCOMPARE(historyStatusText(2, history.changes(devices(u"a@2 b@3"_s), true, {}), start, lastSeen),
                 u"2 devices"_s + dot + u"1 new"_s + dot + u"1 moved since 8 Dec 09:14"_s + dot + u"1 missing since 8 Dec 09:58"_s);
        QCOMPARE(historyStatusText(1, history.changes(devices(u"a@1"_s), true, {}), start, lastSeen),
                 u"1 device"_s + dot + u"1 missing since 8 Dec 09:58"_s);
    }

    // Scans of 10.0.0.0/24 an hour apart, judged then recorded: "R:" completed, "S:" stopped,
    // "R-1:" without a route to .1; each step's changes end "@" its since's hour ("-": none).
    void scanLife_data()
    {
        QTest::addColumn<QStringList>("scans");
        QTest::addColumn<QStringList>("judged");
        QTest::addColumn<QString>("seen"); // "a 0-2": a first seen in hour 0, last in hour 2
        QTest::newRow("first and later sightings")
            << QStringList{u"R:a@1 b@2"_s, u"R:a@1 c@3"_s, u"R:a@1 b@2 c@3"_s}
            << QStringList{u"new a | new b @-"_s, u"new c | missing b @0"_s, u" @1"_s} << u"b 0-2"_s;
        QTest::newRow("stopped scans: nothing to compare with before a completed one, nobody's baseline")
            << QStringList{u"S:a@1"_s, u"R:a@1 b@2"_s, u"S:a@4"_s, u"R:a@4"_s}
            << QStringList{u"new a @-"_s, u"new b @-"_s, u"moved a<10.0.0.1 @1"_s, u"missing b @1"_s} << u"a 0-3"_s;
        QTest::newRow("no route: only the device last seen there unjudged")
            << QStringList{u"R:a@1 b@2 c@3"_s, u"R-1:c@3"_s, u"R:c@3"_s}
            << QStringList{u"new a | new b | new c @-"_s, u"missing b @0"_s, u"missing a | missing b @1"_s} << u"c 0-2"_s;
    }

    void scanLife()
    {
        QFETCH(QStringList, scans);
        QFETCH(QStringList, judged);
        QFETCH(QString, seen);
        const auto hour = [](const QDateTime &time) { return time.isValid() ? QString::number(start.secsTo(time) / 3600) : u"-"_s; };
        DeviceHistory history;
        for (qsizetype i = 0; i < scans.size(); ++i) {
            const QStringList noRoute = scans[i].section(u':', 0, 0).split(u'-').mid(1);
            const RunScope scope{[noRoute](const QString &address) {
                return address.startsWith(u"10.0.0."_s) && !noRoute.contains(address.section(u'.', 3));
            }};
            const DeviceList found = devices(scans[i].section(u':', 1));
            const bool completed = !scans[i].startsWith(u'S');
            const DeviceChanges changes = history.changes(found, completed, scope);
            QCOMPARE(describe(changes) + u" @"_s + hour(changes.since), judged[i]);
            QVERIFY(history.record(found, completed, start.addSecs(3600 * i), scope));
        }
        const std::optional<HistoryEntry> entry = history.entry(macOf(seen.left(1)));
        QCOMPARE(entry ? hour(entry->firstSeen) + u'-' + hour(entry->lastSeen) : QString(), seen.mid(2));
    }

    // Runs that see a at their clocks after one at `start` that saw a and b, each on the history
    // read back. A clock set back or never set moves nothing back; one far ahead is trusted only
    // when the next agrees (never when earlier); b keeps its sighting, aged out 90 days after the jump.
    void wrongClock_data()
    {
        QTest::addColumn<QList<qint64>>("clocks"); // seconds after start; 0: a clock never set
        QTest::addColumn<qint64>("seen");          // a's last sighting, seconds after start
        QTest::addColumn<bool>("agedOut");         // b
        constexpr qint64 day = 86'400;
        // Far ahead, agreed at 200 days and an hour, then steps within a day up to `to`.
        const auto afterJump = [](qint64 to) {
            QList<qint64> clocks{200 * day};
            for (qint64 clock = 200 * day + 3600; clock < to; clock += day - 600)
                clocks.append(clock);
            return clocks << to;
        };
        QTest::newRow("set back, never set") << QList<qint64>{-200 * day, 0} << qint64(0) << false;
        QTest::newRow("within a day ahead: trusted at once") << QList<qint64>{day - 60} << day - 60 << false;
        QTest::newRow("far ahead once, then right again") << QList<qint64>{200 * day, 7200} << qint64(7200) << false;
        QTest::newRow("far ahead, then less far: not trusted") << QList<qint64>{200 * day, 150 * day} << qint64(0) << false;
        QTest::newRow("far ahead twice: trusted, nobody aged out")
            << QList<qint64>{200 * day, 200 * day + 3600} << 200 * day + 3600 << false;
        QTest::newRow("90 days after the jump") << afterJump(290 * day + 3600) << 290 * day + 3600 << false;
        QTest::newRow("90 days and a minute after") << afterJump(290 * day + 3660) << 290 * day + 3660 << true;
    }

    void wrongClock()
    {
        QFETCH(QList<qint64>, clocks);
        QFETCH(qint64, seen);
        QFETCH(bool, agedOut);
        const QDateTime booted(QDate(1970, 1, 1), QTime(0, 5), Qt::UTC);
        DeviceHistory history = historyOf({u"C:a@1 b@2"_s});
        for (const qint64 clock : clocks) {
            history = *DeviceHistory::read(history.toJson()).history;
            QVERIFY(history.record(devices(u"a@3"_s), true, clock ? start.addSecs(clock) : booted));
        }
        QCOMPARE(history.entry(macOf(u"a"_s))->lastSeen, start.addSecs(seen));
        QCOMPARE(history.changes(devices(u"a@3"_s), true).since, start.addSecs(seen));
        QCOMPARE(!history.entry(macOf(u"b"_s)), agedOut);
        if (!agedOut)
            QCOMPARE(history.entry(macOf(u"b"_s))->lastSeen, start);

        DeviceHistory empty;
        QVERIFY(!empty.record(devices(u"a@1"_s), true, booted));
        QCOMPARE(empty.size(), 0);
        QVERIFY(!empty.lastCompletedRun().isValid());
    }

    // Rounds a minute apart: "missing" after exactly N, none absent in a round that could not ask
    // everyone, nothing of a device not watched ("u"), flapping then silence until an hour
    // without change ("steady"). From a history, its last discovery's devices count as seen.
    void watchRule_data()
    {
        QTest::addColumn<QStringList>("history"); // its runs, as historyOf reads them; none: no history
        QTest::addColumn<int>("missingAfter");
        QTest::addColumn<QStringList>("runs");   // "MINUTE:devices", "MINUTE:~devices": could not ask everyone
        QTest::addColumn<QStringList>("events"); // "run kind mac", over every run
        QTest::addColumn<QStringList>("missing"); // missingNow after the last run
        // A watch of 10.0.0.FIRST-LAST (as scopeOf reads it), then the known devices it asks
        // after the last run; none: a discovery watch.
        QTest::addColumn<QStringList>("scan");
        QTest::newRow("missing after exactly three")
            << QStringList() << 3 << QStringList{u"0:a@1 b@2 u@3"_s, u"1:a@1"_s, u"2:a@1"_s, u"3:a@1"_s, u"4:a@1"_s}
            << QStringList{u"3 missing b"_s} << QStringList{u"b 09:14"_s} << QStringList();
        QTest::newRow("new, moved") << QStringList() << 2 << QStringList{u"0:a@1"_s, u"1:a@2 b@2"_s}
                                    << QStringList{u"1 moved a 10.0.0.1"_s, u"1 new b"_s} << QStringList{} << QStringList();
        QTest::newRow("a round that could not ask everyone") << QStringList() << 2
                                                             << QStringList{u"0:a@1 b@2"_s, u"1:~a@1"_s, u"2:a@1"_s}
                                                             << QStringList{} << QStringList{} << QStringList();
        QTest::newRow("one round") << QStringList() << 1 << QStringList{u"0:a@1 b@2"_s, u"1:a@1"_s, u"2:a@1 b@2"_s}
                                   << QStringList{u"1 missing b"_s, u"2 back b"_s} << QStringList{} << QStringList();
        QTest::newRow("flapping, then steady")
            << QStringList() << 1
            << QStringList{u"0:a@1 u@3"_s, u"1:u@3"_s, u"2:a@1"_s, u"3:u@3"_s, u"4:a@1"_s, u"5:u@3"_s, u"6:a@1"_s,
                           u"7:u@3"_s, u"66:u@3"_s, u"67:u@3"_s}
            << QStringList{u"1 missing a"_s, u"2 back a"_s, u"3 missing a"_s, u"4 flapping a"_s, u"67 steady a absent"_s}
            << QStringList{u"a 09:20"_s} << QStringList();
        QTest::newRow("changes spread over more than the window")
            << QStringList() << 1 << QStringList{u"0:a@1"_s, u"1:-@2"_s, u"2:a@1"_s, u"40:-@2"_s, u"80:a@1"_s}
            << QStringList{u"1 missing a"_s, u"2 back a"_s, u"40 missing a"_s, u"80 back a"_s} << QStringList{} << QStringList();
        QTest::newRow("from a history: absent from the first rounds")
            << QStringList{u"C:a@1 b@2 c@3"_s, u"C:a@1 b@2"_s} << 2
            << QStringList{u"0:a@5"_s, u"1:a@5"_s, u"2:a@5 b@2 c@3 d@4"_s}
            << QStringList{u"0 moved a 10.0.0.1"_s, u"1 missing b"_s, u"2 back b"_s, u"2 back c"_s, u"2 new d"_s}
            << QStringList{} << QStringList();
        QTest::newRow("after range watches, a discovery watch: new only if never seen, nobody missing")
            << QStringList{u"R:a@1 c@3"_s} << 1 << QStringList{u"0:a@1 b@2"_s, u"1:a@1 b@2 c@3"_s, u"2:b@2 c@3"_s}
            << QStringList{u"0 new b"_s, u"2 missing a"_s} << QStringList{u"a 09:15"_s} << QStringList();
        QTest::newRow("a range judges only the devices last seen inside it")
            << QStringList() << 2 << QStringList{u"0:a@1 b@9 c@2"_s, u"1:c@2"_s, u"2:c@2"_s, u"3:c@2 b@3"_s}
            << QStringList{u"2 missing a"_s, u"3 moved b 10.0.0.9"_s} << QStringList{u"a 09:14"_s}
            << QStringList{u"1-5"_s, u"b@10.0.0.3"_s, u"c@10.0.0.2"_s};
        QTest::newRow("a range watch from a history: its last run's devices inside the range")
            << QStringList{u"R:a@1 b@2 z@9"_s, u"R:a@1 z@9"_s} << 1 << QStringList{u"0:b@2"_s}
            << QStringList{u"0 back b"_s, u"0 missing a"_s} << QStringList{u"a 10:14"_s}
            << QStringList{u"1-5"_s, u"b@10.0.0.2"_s};
    }

    void watchRule()
    {
        QFETCH(QStringList, history);
        QFETCH(int, missingAfter);
        QFETCH(QStringList, runs);
        QFETCH(QStringList, events);
        QFETCH(QStringList, missing);
        QFETCH(QStringList, scan);
        const WatchRule rule{missingAfter, 4, std::chrono::hours(1)};
        const RunScope scope = scopeOf(scan.value(0));
        DeviceWatch watch = history.isEmpty() ? DeviceWatch(rule)
                            : scan.isEmpty()  ? DeviceWatch(historyOf(history), rule)
                                              : DeviceWatch(historyOf(history), scope, rule);
        watch.setWatched([](const QString &mac) { return nameOf(mac) != u"u"; });
        QStringList described;
        for (const QString &run : runs) {
            const QString minute = run.section(u':', 0, 0);
            const QString found = run.section(u':', 1);
            for (const WatchEvent &event :
                 watch.update(devices(QString(found).remove(u'~')), !found.startsWith(u'~'), start.addSecs(60 * minute.toInt()),
                              scope))
                described.append(minute + u' ' + QLatin1StringView(watchEventName(event.kind)) + u' '
                                 + nameOf(event.device->text(DeviceKey::macAddress))
                                 + (event.kind == WatchEvent::Kind::Steady ? (event.present ? u" present"_s : u" absent"_s)
                                                                            : QString())
                                 + (event.from.isEmpty() ? QString() : u' ' + event.from));
        }
        QTEST(described, "events");
        QCOMPARE(watchEventLine({WatchEvent::Kind::Moved, devices(u"a@1"_s)[0], u"10.0.0.2"_s}, start),
                 quotes("{'time':'2026-12-08T09:14:00Z','event':'moved','device':{'hostname':'a','ipAddress':'10.0.0.1',"
                        "'macAddress':'02:00:5e:00:00:61'},'from':'10.0.0.2'}\n"));
        QStringList gone;
        for (const HistoryEntry &entry : watch.missingNow())
            gone.append(nameOf(entry.record->text(DeviceKey::macAddress)) + entry.lastSeen.toString(u" hh:mm"_s));
        QCOMPARE(gone, missing);
        if (scan.isEmpty())
            return;
        QStringList known;
        for (const auto &[mac, address] : watch.knownDevices(scope))
            known.append(nameOf(mac) + u'@' + address);
        QCOMPARE(known, scan.mid(1));
    }

    // Bytes as the history and as diff's list: a damaged history is set aside with one line and
    // a new one starts; another kind or a newer version is left as it is, unused.
    void files_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("history");     // its devices; -1: set aside; -2: left untouched, not used
        QTest::addColumn<QString>("problem"); // how diff's line starts
        QTest::addColumn<QList<int>>("list"); // devices, records without a MAC, repeated MACs
        const QByteArray whole = historyOf({u"C:a@1 b@2"_s, u"C:b@2"_s}).toJson();
        const QList<int> none{0, 0, 0};
        QTest::newRow("a history: its last discovery for diff") << whole << 2 << QString() << QList<int>{1, 0, 0};
        QTest::newRow("a history of the version before")
            << quotes("{'format':'devicefinder-history','version':1,'lastCompletedRun':{'time':'2026-12-08T09:14:00Z',"
                      "'devices':['0a:00:00:00:00:01','x']},'devices':[{'macAddress':'0a:00:00:00:00:01','firstSeen':"
                      "'2026-12-08T09:14:00Z','lastSeen':'2026-12-08T09:14:00Z','lastAddress':'10.0.0.1','record':"
                      "{'macAddress':'0a:00:00:00:00:01'}},{'macAddress':'x','firstSeen':'2026-12-08T09:14:00Z','lastSeen':"
                      "'2026-12-08T09:14:00Z','lastAddress':'10.0.0.2','record':{'macAddress':'x'}}]}")
            << 1 << QString() << QList<int>{1, 0, 0};
        QTest::newRow("without a MAC address, one twice")
            << quotes("[{},{'macAddress':5},{'macAddress':'x'},{'macAddress':'0a:00:00:00:00:01'},"
                      "{'macAddress':'0a:00:00:00:00:01'}]")
            << -2 << QString() << QList<int>{1, 3, 1};
        QTest::newRow("empty") << QByteArray("") << -1 << u"empty"_s << none;
        QTest::newRow("truncated") << whole.left(whole.size() - 9) << -1 << u"not JSON: truncated"_s << none;
        QTest::newRow("a newer version") << QByteArray(whole).replace(quotes("'version':2"), quotes("'version':3")) << -2
                                         << u"not a device list (a JSON array of records) or device history: a device "
                                            "history of a newer version"_s << none;
        QTest::newRow("a malformed entry") << QByteArray(whole).replace(quotes("'lastAddress'"), quotes("'lost'")) << -1
                                           << u"not a device list (a JSON array of records) or device history: a device "
                                              "entry is malformed"_s << none;
        QTest::newRow("wrong shape") << QByteArray("[1]") << -2 << u"not a device list: entry 1 "_s << none;
        QTest::newRow("too large") << QByteArray(maxJsonFileBytes + 1, ' ') << -1 << u"larger than 16 MiB"_s << none;
        QTest::newRow("a million entries") << "[" + QByteArray("{},").repeated(1'000'000) + "{}]" << -1
                                           << u"more than 200000 JSON objects and arrays"_s << none;
    }

    void files()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(int, history);
        QFETCH(QString, problem);
        const QTemporaryDir dir;
        const QString path = dir.filePath(u"history.json"_s);
        QVERIFY(writeFile(path, bytes));
        const DeviceListFile read = readDeviceListFile(path);
        QVERIFY2(read.problem.startsWith(problem) && read.problem.isEmpty() == problem.isEmpty(), qPrintable(read.problem));
        QTEST((QList<int>{int(read.devices.size()), int(read.withoutMac), int(read.repeated)}), "list");
        LogCapture log;
        const LoadedHistory loaded = DeviceHistory::load(path);
        QCOMPARE(loaded.usable, history != -2);
        QCOMPARE(loaded.history.size(), qMax(history, 0));
        QCOMPARE(log.lines().size(), history == -1 ? 1 : 0);
        const QStringList asides = QDir(dir.path()).entryList({u"history.json.bad-*"_s});
        QCOMPARE(asides.size(), history == -1 ? 1 : 0);
        if (history == -1) {
            QVERIFY2(log.lines()[0].startsWith(u"Device history %1 set aside as %2: "_s.arg(path, dir.filePath(asides[0]))),
                     qPrintable(log.lines()[0]));
            QCOMPARE(readFile(dir.filePath(asides[0])), bytes);
        } else {
            QCOMPARE(readFile(path), bytes);
        }
    }

    // A file that cannot be read now (no handle left) stays as it is, unused, until it can be.
    void unreadable()
    {
        const QTemporaryDir dir;
        const QString path = dir.filePath(u"history.json"_s);
        QVERIFY(historyOf({u"C:a@1"_s}).save(path));
        rlimit limit{};
        ::getrlimit(RLIMIT_NOFILE, &limit);
        const rlimit lower{std::min<rlim_t>(limit.rlim_cur, 256), limit.rlim_max};
        QList<int> taken; // every handle the lower limit allows, while the file is read
        QVERIFY(::setrlimit(RLIMIT_NOFILE, &lower) == 0);
        for (int handle; (handle = ::dup(STDERR_FILENO)) >= 0;)
            taken.append(handle);
        const LoadedHistory loaded = DeviceHistory::load(path);
        for (const int handle : std::as_const(taken))
            ::close(handle);
        ::setrlimit(RLIMIT_NOFILE, &limit);
        QVERIFY2(!loaded.usable && loaded.problem.startsWith(path + u" cannot be read now: "_s), qPrintable(loaded.problem));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{u"history.json"_s});
        QCOMPARE(DeviceHistory::load(path).history.size(), 1);
    }

    // Instances saving in turn: the file always whole and the last one's, nothing left beside.
    void lastWriterWins()
    {
        const QTemporaryDir dir;
        const QString path = dir.filePath(u"data/history.json"_s);
        QCOMPARE(DeviceHistory::load(path).history.size(), 0); // no file yet is no damage
        const DeviceHistory histories[] = {historyOf({u"C:a@1"_s}), historyOf({u"C:b@1 c@2"_s})};
        for (int i = 0; i < 10; ++i) {
            QVERIFY(histories[i % 2].save(path));
            QCOMPARE(readFile(path), histories[i % 2].toJson());
        }
        QCOMPARE(QDir(dir.filePath(u"data"_s)).entryList(QDir::Files), QStringList{u"history.json"_s});
    }

    void bounds_data()
    {
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("padding"); // characters of extra text in each record
        QTest::addColumn<int>("kept");    // -1: fewer than all
        QTest::newRow("count") << int(DeviceHistory::maxDevices) + 1 << 0 << int(DeviceHistory::maxDevices);
        QTest::newRow("file size") << 9000 << 3000 << -1;
        QTest::newRow("a large record keeps its known texts") << 1 << int(DeviceHistory::maxRecordBytes) << 1;
    }

    // The newest devices stay; a history at its bounds writes a file a load accepts.
    void bounds()
    {
        QFETCH(int, count);
        QFETCH(int, padding);
        QFETCH(int, kept);
        DeviceHistory history;
        DeviceList run;
        for (int i = 0; i < count; ++i)
            run.append(std::make_shared<const DeviceRecord>(
                QJsonObject{{u"macAddress"_s, u"02:00:00:00:%1:%2"_s.arg(i >> 8, 2, 16, QChar(u'0')).arg(i & 255, 2, 16, QChar(u'0'))},
                            {u"notes"_s, QString(padding, u'x')}}));
        history.record(run, true, start);
        QVERIFY(kept < 0 ? history.size() < count : history.size() == kept);
        QCOMPARE(history.entry(u"02:00:00:00:00:00"_s)->record->object().contains(u"notes"_s), padding < DeviceHistory::maxRecordBytes);
        const QTemporaryDir dir;
        QVERIFY(history.save(dir.filePath(u"h.json"_s)));
        QCOMPARE(DeviceHistory::load(dir.filePath(u"h.json"_s)).history.size(), history.size());
    }

    // diff's status and output; a file that cannot be read named on standard error.
    void diffCommand()
    {
        const QTemporaryDir dir;
        Command command;
        command.files = QStringList{dir.filePath(u"old"_s), dir.filePath(u"new"_s)};
        QByteArray written[2]; // standard output and error
        const auto run = [&] {
            return runWithStreams([&](std::FILE *out, std::FILE *err) { return runDiffCommand(command, out, err); }, written);
        };
        QVERIFY(writeFile(command.files[1], devicesAsJson(devices(u"a@9 d@4 c@3/2.0"_s))));
        QCOMPARE(run(), 2);
        QCOMPARE(written[1], "devicefinder: " + command.files[0].toUtf8() + ": no such file\n");
        QVERIFY(writeFile(command.files[0], devicesAsJson(devices(u"a@1 b@2 c@3/1.0"_s))));
        QCOMPARE(run(), 1);
        QStringList changes;
        for (const QByteArray &line : written[0].split('\n').mid(1, 4))
            changes.append(QString::fromUtf8(line).simplified().replace(u"02:00:5e:00:00:6"_s, u"6"_s));
        QCOMPARE(changes, (QStringList{u"new d 10.0.0.4 64"_s, u"missing b 10.0.0.2 62"_s, u"moved a 10.0.0.9 61 10.0.0.1"_s,
                                       u"changed c 10.0.0.3 63 2.0 Firmware: 1.0"_s}));
        command.files[0] = command.files[1];
        QCOMPARE(run(), 0);
        QCOMPARE(written[0], QByteArray());
    }
};

QTEST_GUILESS_MAIN(TestHistory)
#include "tst_history.moc"
