#include "app/labelcommand.h"
#include "history/setaside.h"
#include "labels/devicelabels.h"
#include "labels/labelsformat.h"
#include "platform/boundedjson.h"
#include "support/files.h"
#include "support/logcapture.h"

#include <QDir>
#include <QJsonDocument>
#include <QLockFile>
#include <QTemporaryDir>
#include <QTest>

#include <thread>

#include <sys/stat.h>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

namespace {

const QString mac = u"00:80:a3:1b:2c:3d"_s;

// A labels file of the version with the entries, written with ' for ", for legibility.
QByteArray fileOf(const char *labels, const QByteArray &version = "1")
{
    return "{\"format\": \"devicefinder-labels\", \"version\": " + version + ", \"labels\": ["
           + QByteArray(labels).replace('\'', '"') + "]}";
}

QMap<QString, QString> manyLabels(int count)
{
    QMap<QString, QString> labels;
    for (int i = 0; i < count; ++i)
        labels.insert(u"00:00:00:00:%1:%2"_s.arg(i / 256, 2, 16, QChar(u'0')).arg(i % 256, 2, 16, QChar(u'0')), u"x"_s);
    return labels;
}

} // namespace

class TestLabels final : public QObject {
    Q_OBJECT

private slots:
    // Each text as a MAC address and as a label.
    void texts_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("key");     // empty: not a well-formed MAC address
        QTest::addColumn<QString>("problem"); // how labelProblem's starts; empty: a label
        const QString hidden = u"a label cannot hold the control or invisible character U+"_s;
        QTest::newRow("upper, dashes") << u"00-80-A3-1B-2C-3D"_s << mac << QString();
        QTest::newRow("mixed separators") << u"00:80-a3:1b:2c:3d"_s << QString() << QString();
        QTest::newRow("twelve digits together") << u"0080A31b2C3d"_s << mac << QString();
        QTest::newRow("eleven digits") << u"0080A31b2C3"_s << QString() << QString();
        QTest::newRow("not hexadecimal") << u"00:80:a3:1b:2c:3g"_s << QString() << QString();
        QTest::newRow("a line break after") << mac + u'\n' << QString() << u"a label is one line"_s;
        QTest::newRow("200 characters outside the BMP") << u"\U0001f4e1"_s.repeated(200) << QString() << QString();
        QTest::newRow("201 characters") << QString(201, u'x') << QString() << u"a label has at most 200 characters, this one 201"_s;
        QTest::newRow("escape") << u"\u001b[2J"_s << QString() << hidden + u"001B"_s;
        QTest::newRow("lone surrogate") << QString(QChar(0xd800)) << QString() << u"the label is not valid text"_s;
    }

    void texts()
    {
        QFETCH(QString, text);
        QFETCH(QString, problem);
        QTEST(macAddressKey(text).value_or(QString()), "key");
        const QString found = labelProblem(text).value_or(QString());
        QVERIFY2(found.startsWith(problem) && found.isEmpty() == problem.isEmpty(), qPrintable(found));
    }

    // A damaged labels file is set aside (one line, a notice) and a fresh one starts; a newer one
    // is left exactly as it was.
    void files_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("labels"); // -1: set aside; -2: newer, read-only
        const QByteArray whole = labelsToJson({{mac, u"roof"_s}, {u"00:00:00:00:00:01"_s, u"cellar"_s}});
        QTest::newRow("written") << whole << 2;
        QTest::newRow("10000 labels") << labelsToJson(manyLabels(10'000)) << 10'000;
        QTest::newRow("10001 labels") << labelsToJson(manyLabels(10'001)) << -1;
        QTest::newRow("another format") << QByteArray(whole).replace("devicefinder-labels", "devicefinder-history") << -1;
        QTest::newRow("a label as number") << fileOf("{'macAddress': '00:80:a3:1b:2c:3d', 'label': 5}") << -1;
        QTest::newRow("one MAC twice") << fileOf("{'macAddress': '00:80:a3:1b:2c:3d', 'label': 'a'},"
                                                  "{'macAddress': '00:80:A3:1B:2C:3D', 'label': 'b'}") << -1;
        QTest::newRow("a control character") << fileOf("{'macAddress': '00:80:a3:1b:2c:3d', 'label': 'a\\u0007'}") << -1;
        QTest::newRow("huge") << whole + QByteArray(maxJsonFileBytes, ' ') << -1;
        QTest::newRow("a newer version") << fileOf("", "3") << -2;
        QTest::newRow("the version before") << fileOf("{'macAddress': '00:80:a3:1b:2c:3d', 'label': 'a'}") << 1;
        QTest::newRow("not watched, with a label and without")
            << labelsToJson({{mac, u"roof"_s}}, {mac, u"00:00:00:00:00:01"_s}) << 1;
        QTest::newRow("no label and watched") << fileOf("{'macAddress': '00:80:a3:1b:2c:3d', 'watch': true}", "2") << -1;
    }

    void files()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(int, labels);
        const QTemporaryDir dir;
        const QString path = dir.filePath(u"labels.json"_s);
        QVERIFY(writeFile(path, bytes));
        LogCapture log;
        DeviceLabels read(path);
        QCOMPARE(read.labels().size(), qMax(labels, 0));
        QCOMPARE(log.lines().size(), labels < 0 ? 1 : 0);
        QCOMPARE(read.isReadOnly(), labels == -2);
        const QString notice = read.takeNotice();
        QCOMPARE(read.takeNotice(), QString());
        if (labels >= 0) {
            QVERIFY(notice.isEmpty());
            if (!bytes.contains("\"version\": 1"))
                QCOMPARE(labelsToJson(read.labels(), read.unwatched()), bytes);
            QCOMPARE(read.isWatched(mac), !bytes.contains("\"watch\": false"));
            // Leaving a device out of watching keeps every label, also of the version before.
            const QMap<QString, QString> before = read.labels();
            QCOMPARE(read.setWatched(mac, false).isEmpty(), labels < maxLabels);
            const DeviceLabels again(path);
            QCOMPARE(again.labels(), before);
            QCOMPARE(again.isWatched(mac.toUpper()), labels == maxLabels);
        } else if (labels == -1) {
            const QStringList aside = QDir(dir.path()).entryList({u"labels.json.bad-*"_s});
            QCOMPARE(aside.size(), 1);
            QVERIFY2(notice.startsWith(u"the labels file was damaged ("_s) && notice.endsWith(u") and set aside as "_s + dir.filePath(aside[0])),
                     qPrintable(notice));
            QCOMPARE(readFile(dir.filePath(aside[0])), bytes);
            QCOMPARE(read.setLabel(mac, u"new"_s), QString());
            QCOMPARE(DeviceLabels(path).labels(), (QMap<QString, QString>{{mac, u"new"_s}}));
        } else {
            QVERIFY2(read.readOnlyReason().contains(u"newer version"_s), qPrintable(read.readOnlyReason()));
            QCOMPARE(read.setLabel(mac, u"new"_s), read.readOnlyReason());
            QCOMPARE(readFile(path), bytes);
            QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{u"labels.json"_s});
        }
    }

    // Each set-aside has a name of its own; the newest 5 stay, the one just made always.
    void setAsideNames()
    {
        const QTemporaryDir dir;
        const QString path = dir.filePath(u"labels.json"_s);
        const QDateTime start(QDate(2026, 12, 9), QTime(2, 14, 30), Qt::UTC);
        QVERIFY(writeFile(dir.filePath(u"labels.json.bad"_s), "kept: not one of ours"));
        QVERIFY(writeFile(dir.filePath(u"history.json.bad-20200101T000000Z"_s), "kept: another file's"));
        QStringList made;
        for (const QDateTime &time : {start, start, start.addSecs(1), start.addSecs(2), start.addSecs(3), start.addSecs(4),
                                      QDateTime::fromSecsSinceEpoch(0, Qt::UTC)}) {
            QVERIFY(writeFile(path, QByteArray::number(made.size())));
            const SetAside aside = setAsideFile(path, *fileIdentity(path), time);
            QVERIFY2(aside.problem.isEmpty(), qPrintable(aside.problem));
            QCOMPARE(readFile(aside.path), QByteArray::number(made.size()));
            made.append(QFileInfo(aside.path).fileName());
        }
        QCOMPARE(made.mid(0, 2), (QStringList{u"labels.json.bad-20261209T021430Z"_s, u"labels.json.bad-20261209T021430Z-2"_s}));
        QCOMPARE(made.last(), u"labels.json.bad-19700101T000000Z"_s);
        QStringList expected = made.mid(2);
        expected += {u"history.json.bad-20200101T000000Z"_s, u"labels.json.bad"_s};
        expected.sort();
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files, QDir::Name), expected);
        QVERIFY(!QFileInfo::exists(path));
        QVERIFY(setAsideFile(path, {}).replaced);

        // Only the file that was read (here another) goes aside, not one written at its path since.
        const FileIdentity read = *fileIdentity(dir.filePath(u"labels.json.bad"_s));
        QVERIFY(writeFile(path + u".new"_s, "written meanwhile"));
        QCOMPARE(std::rename(QFile::encodeName(path + u".new"_s).constData(), QFile::encodeName(path).constData()), 0);
        QVERIFY(setAsideFile(path, read).replaced);
        QCOMPARE(readFile(path), "written meanwhile");
    }

    // A file that cannot be read now (a pipe) is left and said once; the labels read before stay,
    // read-only, until it can be read.
    void unreadable()
    {
        const QTemporaryDir dir;
        const QString path = dir.filePath(u"labels.json"_s);
        QVERIFY(writeFile(path, labelsToJson({{mac, u"roof"_s}})));
        DeviceLabels labels(path);
        QVERIFY(QFile::remove(path) && ::mkfifo(QFile::encodeName(path).constData(), 0600) == 0);
        LogCapture log;
        for (int i = 0; i < 2; ++i) {
            labels.reload();
            QVERIFY(labels.isReadOnly() && labels.label(mac) == u"roof"_s);
            QCOMPARE(labels.setLabel(mac, u"cellar"_s), labels.readOnlyReason());
        }
        QCOMPARE(log.lines().size(), 1);
        QVERIFY(labels.takeNotice().contains(u"cannot be read now"_s) && labels.takeNotice().isEmpty());
        QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot), QStringList{u"labels.json"_s});

        QVERIFY(QFile::remove(path) && writeFile(path, labelsToJson({{u"00:00:00:00:00:01"_s, u"shed"_s}})));
        QCOMPARE(labels.setLabel(mac, u"cellar"_s), QString());
        QCOMPARE(DeviceLabels(path).labels(), (QMap<QString, QString>{{u"00:00:00:00:00:01"_s, u"shed"_s}, {mac, u"cellar"_s}}));
    }

    // Two instances editing the same file, in turn and at once: neither loses a label.
    void twoWriters()
    {
        const QTemporaryDir dir;
        const QString path = dir.filePath(u"data/labels.json"_s);
        DeviceLabels first(path), second(path);
        QCOMPARE(first.setLabel(u"00:00:00:00:00:01", u"  one  "_s), QString());
        QCOMPARE(second.setLabel(u"00:00:00:00:00:02", u"two"_s), QString());
        QCOMPARE(first.setLabel(u"00:00:00:00:00:03", u"three"_s), QString());
        QCOMPARE(second.setLabel(u"00-00-00-00-00-01", u" "_s), QString());
        const QMap<QString, QString> expected{{u"00:00:00:00:00:02"_s, u"two"_s}, {u"00:00:00:00:00:03"_s, u"three"_s}};
        QVERIFY(second.labels() == expected && DeviceLabels(path).labels() == expected);

        const auto edits = [&path](int from, int *saved) {
            DeviceLabels labels(path);
            for (int i = from; i < from + 20; ++i)
                *saved += labels.setLabel(u"00:00:00:00:01:%1"_s.arg(i, 2, 10, QChar(u'0')), u"label"_s).isEmpty();
        };
        int saved[2] = {0, 0};
        std::thread other(edits, 20, &saved[0]);
        edits(40, &saved[1]);
        other.join();
        QCOMPARE(saved[0] + saved[1], 40);
        QCOMPARE(DeviceLabels(path).labels().size(), expected.size() + 40);

        // An instance that holds the lock holds off an edit, for a while; one that died does not.
        QLockFile held(path + u".lock"_s);
        QVERIFY(held.lock());
        DeviceLabels waiting(path, 100ms);
        QVERIFY(waiting.setLabel(mac, u"x"_s).startsWith(u"another instance of Device Finder is editing"_s));
        held.unlock();
        QVERIFY(writeFile(path + u".lock"_s, "99999999\ndevicefinder\n\n"));
        QCOMPARE(waiting.setLabel(mac, u"x"_s), QString());
        // A newer instance's file, written meanwhile, is never replaced.
        QVERIFY(writeFile(path, fileOf("", "3")));
        QVERIFY(waiting.setLabel(mac, u"y"_s).contains(u"newer version"_s));
        QCOMPARE(readFile(path), fileOf("", "3"));
        QCOMPARE(QDir(dir.filePath(u"data"_s)).entryList(QDir::Files), QStringList{u"labels.json"_s});

        // A lock file that cannot be made says why, in the system's words.
        QVERIFY(writeFile(dir.filePath(u"blocker"_s), ""));
        QCOMPARE(DeviceLabels(dir.filePath(u"blocker/labels.json"_s)).setLabel(mac, u"x"_s),
                 u"no lock file can be made beside the labels file: Not a directory"_s);
    }

    void command()
    {
        const QTemporaryDir dir;
        const QString path = dir.filePath(u"labels.json"_s);
        QByteArray written[2]; // standard output and error
        const auto run = [&](LabelRequest::Action action, const QString &macAddress, const QString &label, bool json = false,
                             bool watched = true) {
            return runWithStreams(
                [&](std::FILE *out, std::FILE *err) { return runLabelCommand({action, macAddress, label, json, watched}, path, out, err); },
                written);
        };
        using Action = LabelRequest::Action;
        QCOMPARE(run(Action::Set, u"00:80:A3:1B:2C:3D"_s, u"Gateway on the roof"_s), 0);
        QCOMPARE(run(Action::Set, u"00:00:00:00:00:01"_s, u"cellar"_s), 0);
        QCOMPARE(run(Action::Print, u"00-80-a3-1b-2c-3d"_s, {}), 0);
        QCOMPARE(written[0], "Gateway on the roof\n");
        QCOMPARE(run(Action::List, {}, {}), 0);
        QCOMPARE(written[0], "MAC address        Label                Watch\n00:00:00:00:00:01  cellar               on\n"
                             "00:80:a3:1b:2c:3d  Gateway on the roof  on\n");
        QCOMPARE(run(Action::Set, mac, {}), 0);
        QCOMPARE(run(Action::Print, mac, {}), 1);
        QCOMPARE(written[0] + written[1], QByteArray());
        QCOMPARE(run(Action::Watch, mac, {}, false, false), 0);
        QCOMPARE(run(Action::List, {}, {}, true), 0);
        QCOMPARE(QJsonDocument::fromJson(written[0]).toVariant(),
                 QJsonDocument::fromJson(labelsToJson({{u"00:00:00:00:00:01"_s, u"cellar"_s}}, {mac}))[u"labels"_s].toVariant());

        QCOMPARE(run(Action::Set, u"00:80:a3:1b:2c\x1b[2J"_s, u"x"_s), 2);
        QCOMPARE(written[1], "devicefinder: not a MAC address (six pairs of hex digits between ':' or '-'): 00:80:a3:1b:2c\\x1b[2J\n");

        QVERIFY(writeFile(path, fileOf("", "7")));
        QCOMPARE(run(Action::Set, mac, u"x"_s), 1);
        QVERIFY2(written[1].contains("newer version of Device Finder (labels file version 7); labels are read-only"), written[1]);
        QCOMPARE(readFile(path), fileOf("", "7"));
    }
};

QTEST_GUILESS_MAIN(TestLabels)
#include "tst_labels.moc"
