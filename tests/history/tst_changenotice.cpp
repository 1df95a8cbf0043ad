#include "history/changenotice.h"
#include "history/watchenvironment.h"
#include "history/watchmetrics.h"
#include "model/deviceexport.h"
#include "platform/log.h"

#include <QDir>
#include <QFile>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

using Labels = QHash<QString, QString>;

// "kind|mac|hostname|address", an empty field left out of the record; a short MAC address is
// the end of one ("aa" is 02:00:00:00:00:aa).
WatchEvent watchEvent(const QString &text)
{
    const QStringList fields = text.split(u'|');
    const auto kind = WatchEvent::Kind(QStringList{u"new"_s, u"missing"_s, u"moved"_s, u"back"_s}.indexOf(fields.at(0)));
    QJsonObject record;
    const QStringList keys{u"macAddress"_s, u"hostname"_s, u"ipAddress"_s};
    for (qsizetype i = 0; i < keys.size(); ++i) {
        QString field = fields.value(i + 1);
        if (i == 0 && !field.isEmpty())
            field = u"02:00:00:00:00:00"_s.left(17 - field.size()) + field;
        if (!field.isEmpty())
            record.insert(keys.at(i), field);
    }
    return {kind, std::make_shared<const DeviceRecord>(record), u"10.0.0.1"_s};
}

} // namespace

class TestChangeNotice final : public QObject {
    Q_OBJECT

private slots:
    void notice_data();
    void notice();
    void environment();
    void metrics();
    void aBackslashTellsTwoNamesApart();
};

// Two host names that differ only by a backslash, "a\x07" typed and "a" with the bell, read
// differently wherever a device's text is shown or handed on: the table, the log, a program's
// environment and a notification.
void TestChangeNotice::aBackslashTellsTwoNamesApart()
{
    const QString typed = u"a\\x07"_s;
    const QString bell = u"a\u0007"_s;
    const QString typedShown = u"a\\\\x07"_s;
    const QString bellShown = u"a\\x07"_s;
    QCOMPARE(textTable({{typed}, {bell}}), typedShown + u'\n' + bellShown + u'\n');
    QCOMPARE(formatLogLine("%@ %@", {typed, bell}), typedShown + u' ' + bellShown);
    for (const auto &[name, shown] : {std::pair(typed, typedShown), std::pair(bell, bellShown)}) {
        const WatchEvent event = watchEvent(u"new|aa|"_s + name + u"|"_s);
        const QProcessEnvironment environment = watchEventEnvironment(event, name, {});
        QCOMPARE(environment.value(u"DF_HOSTNAME"_s), shown);
        QCOMPARE(environment.value(u"DF_LABEL"_s), shown);
        const std::optional<ChangeNotice> notice = changeNotice({event}, {});
        QCOMPARE(notice->body, u"1 new device: "_s + shown);
        QCOMPARE(notice->plainBody, u"1 new device: "_s + shown);
    }
}

// A device says 1 until the rule has it missing, then 0; a label value is escaped, and stays
// the text it is; every series names the site; the rounds' lines say the last round that asked
// and count those that could not; the file is replaced whole.
void TestChangeNotice::metrics()
{
    const auto found = [](const QStringList &macs) {
        DeviceList list;
        for (const QString &mac : macs)
            list.append(watchEvent(u"new|"_s + mac + u"||10.0.0.9"_s).device);
        return list;
    };
    const LabelOf labelOf = [](const DeviceRecord &record) {
        return record.text(DeviceKey::macAddress).endsWith(u"aa:01") ? u"Roof %1 \\ \"north\"\nside\u2028"_s : QString();
    };
    const QDateTime end(QDate(2026, 12, 9), QTime(9, 58), Qt::UTC);
    const WatchRounds rounds{end, std::chrono::milliseconds(2512), 3};
    const auto upLines = [&](const DeviceWatch &watch) {
        return QString::fromUtf8(watchMetricsText(watch.devicesNow(), labelOf, rounds, u"roof"_s)).split(u'\n').filter(u"_up{"_s);
    };
    const QString roof = u"devicefinder_device_up{site=\"roof\",mac=\"02:00:00:00:aa:01\",address=\"10.0.0.9\",label=\"Roof %1 \\\\ \\\"north\\\"\\nside\uFFFD\"} 1"_s;
    const QString other = u"devicefinder_device_up{site=\"roof\",mac=\"02:00:00:00:aa:02\",address=\"10.0.0.9\",label=\"\"} "_s;
    DeviceWatch watch({.missingAfter = 2});
    watch.update(found({u"aa:01"_s, u"aa:02"_s}));
    watch.update(found({u"aa:01"_s}));
    QCOMPARE(upLines(watch), (QStringList{roof, other + u'1'})); // absent once of two
    watch.update(found({u"aa:01"_s}), true, end);
    QCOMPARE(upLines(watch), (QStringList{roof, other + u'0'}));
    const QByteArray text = watchMetricsText(watch.devicesNow(), labelOf, rounds, u"roof"_s);
    // Each device's last answer: this round's for the one there, an earlier one's for the missing one.
    const QStringList lastSeen = QString::fromUtf8(text).split(u'\n').filter(u"_last_seen_timestamp_seconds{"_s);
    QCOMPARE(lastSeen.size(), 2);
    QVERIFY(lastSeen.at(0).endsWith(u"} 1796810280"_s) && !lastSeen.at(1).endsWith(u"} 1796810280"_s));
    QVERIFY(text.contains("\ndevicefinder_round_timestamp_seconds{site=\"roof\"} 1796810280\n"));
    QVERIFY(text.contains("\ndevicefinder_round_duration_seconds{site=\"roof\"} 2.512\n"));
    QVERIFY(text.endsWith("\n# TYPE devicefinder_round_failures_total counter\ndevicefinder_round_failures_total{site=\"roof\"} 3\n"));
    QVERIFY(watchMetricsText({}, labelOf, {}, u"roof"_s).contains("\ndevicefinder_round_timestamp_seconds{site=\"roof\"} 0\n"));
    const QTemporaryDir dir;
    const QString path = dir.filePath(u"devicefinder.prom"_s);
    QCOMPARE(writeWatchMetrics(path, QByteArray(100'000, 'x')), QString());
    QCOMPARE(writeWatchMetrics(path, text), QString());
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), text);
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{u"devicefinder.prom"_s});
    QVERIFY(!writeWatchMetrics(dir.filePath(u"no/such/folder/m.prom"_s), text).isEmpty());
}

void TestChangeNotice::notice_data()
{
    QTest::addColumn<QString>("events"); // as watchEvent() reads them, joined by ";"
    QTest::addColumn<Labels>("labels");
    QTest::addColumn<QString>("summary");
    QTest::addColumn<QString>("body");
    QTest::addColumn<QString>("plainBody"); // empty: the same as the body

    const Labels none;
    QTest::newRow("no events") << QString() << none << QString() << QString() << QString();
    QTest::newRow("labels first, then host names")
        << u"new|aa|Corva-0042|10.0.0.2;new|bb|roof-gw|10.0.0.3"_s << Labels{{u"bb"_s, u"Roof gateway"_s}}
        << u"2 new devices"_s << u"2 new devices: Roof gateway, Corva-0042"_s << QString();
    QTest::newRow("then the address, then the MAC address")
        << u"missing|aa||;missing|bb||10.0.0.7;missing|cc| |;missing|dd|host|"_s
        << Labels{{u"cc"_s, u"  "_s}} << u"4 devices missing"_s
        << u"4 devices missing: host, 10.0.0.7, 02:00:00:00:00:aa, 02:00:00:00:00:cc"_s << QString();
    QTest::newRow("one line per kind, in order")
        << u"back|aa|a|;moved|bb|b|;missing|cc|c|;new|dd|d|;back|ee|e|"_s << none
        << u"1 new device, 1 device missing, 1 device moved, 2 devices back"_s
        << u"1 new device: d\n1 device missing: c\n1 device moved: b\n2 devices back: a, e"_s << QString();
    QTest::newRow("five named, then a count")
        << u"new|01|d1;new|02|d2;new|03|d3;new|04|d4;new|05|d5;new|06|d6;new|07|d7;new|08|d8"_s
        << Labels{{u"07"_s, u"Lab"_s}} << u"8 new devices"_s << u"8 new devices: Lab, d1, d2, d3, d4 and 3 more"_s
        << QString();
    QTest::newRow("markup and line breaks stay text")
        << u"new|aa|<b>Evil</b> & \"co\" 'x'\nrm\u202Etxt.exe\u0007\xD800|"_s << none << u"1 new device"_s
        << u"1 new device: &lt;b&gt;Evil&lt;/b&gt; &amp; &quot;co&quot; 'x'\\x0arm\\u202etxt.exe\\x07\uFFFD"_s
        << u"1 new device: <b>Evil</b> & \"co\" 'x'\\x0arm\\u202etxt.exe\\x07\uFFFD"_s;
    QTest::newRow("long names cut short, characters whole")
        << (u"new|aa|"_s + u"x"_s.repeated(63) + u"\U0001F600yz|"_s) << none
        << u"1 new device"_s << (u"1 new device: "_s + u"x"_s.repeated(63) + u"\U0001F600\u2026"_s) << QString();
}

void TestChangeNotice::notice()
{
    QFETCH(QString, events);
    QFETCH(Labels, labels);
    QFETCH(QString, summary);
    QFETCH(QString, body);
    QFETCH(QString, plainBody);

    QList<WatchEvent> list;
    for (const QString &text : events.split(u';', Qt::SkipEmptyParts))
        list.append(watchEvent(text));
    const std::optional<ChangeNotice> notice = changeNotice(list, [&labels](const DeviceRecord &record) {
        return labels.value(deviceMac(record).value_or(QString()).right(2));
    });
    QCOMPARE(notice.has_value(), !summary.isEmpty());
    if (!notice)
        return;
    QCOMPARE(notice->summary, summary);
    QCOMPARE(notice->body, body);
    QCOMPARE(notice->plainBody, plainBody.isEmpty() ? body : plainBody);
}

// A device's texts reach the program as the terminal shows them: NUL, ESC, CR and LF escaped.
void TestChangeNotice::environment()
{
    const QString text = u"a\u0000\u001b[2J\r\nb"_s, escaped = u"a\\x00\\x1b[2J\\x0d\\x0ab"_s;
    QProcessEnvironment base;
    base.insert(u"PATH"_s, u"/bin"_s);
    base.insert(u"DF_FROM"_s, u"stale"_s);
    base.insert(u"DF_OTHER"_s, u"1"_s);

    const QStringList moved =
        watchEventEnvironment(watchEvent(u"moved|aa:bb|"_s + text + u"|10.0.0.9"_s), text, base).toStringList();
    QCOMPARE(moved, (QStringList{u"DF_ADDRESS=10.0.0.9"_s, u"DF_EVENT=moved"_s, u"DF_FROM=10.0.0.1"_s,
                                 u"DF_HOSTNAME="_s + escaped, u"DF_LABEL="_s + escaped, u"DF_MAC=02:00:00:00:aa:bb"_s, u"PATH=/bin"_s}));
    const QStringList fresh = watchEventEnvironment(watchEvent(u"new|aa:bb||"_s), QString(), base).toStringList();
    QCOMPARE(fresh, (QStringList{u"DF_EVENT=new"_s, u"DF_MAC=02:00:00:00:aa:bb"_s, u"PATH=/bin"_s}));
}

QTEST_GUILESS_MAIN(TestChangeNotice)
#include "tst_changenotice.moc"
