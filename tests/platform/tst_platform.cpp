#include "platform/autostart.h"
#include "platform/lookuppool.h"
#include "platform/safejson.h"
#include "platform/safetext.h"
#include "platform/semaphore.h"
#include "platform/versioneddocument.h"
#include "platform/wholefile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonObject>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <thread>

#include <sys/stat.h>

using namespace Qt::StringLiterals;

class TestPlatform final : public QObject {
    Q_OBJECT

private slots:
    // The entry runs this program, quoted as desktop entries quote (backslashes doubled twice);
    // one the desktop disabled in place counts as off.
    void autostartEntry_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("exec"); // as the file holds it; empty: cannot be written
        QTest::newRow("spaces, quotes, a field code")
            << u"/opt/My Tools/it's 100%/df"_s << u"\"/opt/My Tools/it's 100%%/df\""_s;
        QTest::newRow("what a shell would expand") << u"/a/\"$HOME`id`\"/df"_s << u"\"/a/\\\\\"\\\\$HOME\\\\`id\\\\`\\\\\"/df\""_s;
        QTest::newRow("a backslash") << u"/a\\b/df"_s << u"\"/a\\\\\\\\b/df\""_s;
        QTest::newRow("a line break") << u"/a\nExec=evil/df"_s << QString();
    }
    void autostartEntry()
    {
        QFETCH(QString, path);
        QTEST(desktopExecArgument(path).value_or(QString()), "exec");
    }
    void autostartEntryFile()
    {
        const QTemporaryDir config;
        const QByteArray before = qgetenv("XDG_CONFIG_HOME");
        const auto restore = qScopeGuard([&] { qputenv("XDG_CONFIG_HOME", before); });
        qputenv("XDG_CONFIG_HOME", config.path().toUtf8());
        QVERIFY(!startsAtLogin());
        QCOMPARE(setStartAtLogin(true).reason(), QString());
        QFile entry(autostartEntryPath());
        QVERIFY(entry.open(QIODevice::ReadWrite));
        const QByteArray text = entry.readAll();
        QVERIFY2(text.contains("\nExec=" + desktopExecArgument(QCoreApplication::applicationFilePath())->toUtf8()
                               + " --hidden\n"),
                 text.constData());
        QVERIFY(startsAtLogin());
        entry.write("[Other]\nHidden=true\n[Desktop Entry]\nX-Hidden=true\nHidden=false\n");
        entry.flush();
        QVERIFY(startsAtLogin());
        entry.write("Hidden = true\n");
        entry.flush();
        QVERIFY(!startsAtLogin());
        QCOMPARE(setStartAtLogin(false).reason(), QString());
        QVERIFY(!entry.exists());
    }

    // Look-ups given up hold nothing back: queued ones never start, running ones (a silent name
    // server) leave room for another owner's; within the limit and the thread maximum.
    void givenUpLookUpsHoldNothingBack()
    {
        LookupPool pool(2, 3);
        Semaphore nameServer(0);
        int stuck = 0;
        const auto answerAll = qScopeGuard([&] {
            for (int i = 0; i < stuck; ++i)
                nameServer.signal();
        });
        std::atomic<int> started = 0;
        std::atomic<int> answered = 0;
        const auto lookUp = [&](std::stop_source &owner, bool blocks) {
            stuck += blocks ? 1 : 0;
            pool.async(owner.get_token(), [&, blocks] {
                ++started;
                if (blocks)
                    nameServer.wait();
                ++answered;
            });
        };
        std::stop_source first;
        lookUp(first, true);
        lookUp(first, true);
        lookUp(first, false); // waits behind the limit, until its owner gives it up
        std::stop_source second;
        lookUp(second, false);
        QTRY_COMPARE(started.load(), 2);
        QTest::qWait(100);
        QCOMPARE(started.load(), 2);
        QCOMPARE(pool.threadCount(), 2);

        first.request_stop();
        QTRY_COMPARE(answered.load(), 1); // the second owner's, on a third thread
        QCOMPARE(started.load(), 3);

        std::stop_source third;
        lookUp(third, true);
        QTRY_COMPARE(started.load(), 4);
        third.request_stop();
        lookUp(second, false); // every thread is taken: it waits for one
        QTest::qWait(100);
        QCOMPARE(pool.threadCount(), 3);
        QCOMPARE(answered.load(), 1);
        nameServer.signal();
        QTRY_COMPARE(answered.load(), 3);
        --stuck;
    }

    // A stranger's text, as the terminal (log, environment, notification) and the metrics file
    // show it: nothing moves the cursor, recolours, turns the line around or hides.
    void safeText_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("escaped");
        QTest::addColumn<QString>("metrics");
        QTest::newRow("escape sequence, bidi override")
            << u"\u001b[2J\u202e<b>"_s << u"\\x1b[2J\\u202e<b>"_s << u"\uFFFD[2J\uFFFD<b>"_s;
        QTest::newRow("DEL, C1: NEL, CSI") << u"a\u007f\u0085\u009b31mb"_s << u"a\\x7f\\x85\\x9b31mb"_s
                                           << u"a\uFFFD\uFFFD\uFFFD31mb"_s;
        QTest::newRow("isolate, zero width, byte order mark")
            << u"\u2067a\u200b\ufeff"_s << u"\\u2067a\\u200b\\ufeff"_s << u"\uFFFDa\uFFFD\uFFFD"_s;
        QTest::newRow("tag and private-use characters, beyond 16 bits")
            << u"a\U000E0041\uE000\U000F0001"_s << u"a\\U000e0041\\ue000\\U000f0001"_s << u"a\uFFFD\uFFFD\uFFFD"_s;
        QTest::newRow("line breaks, quotes") << u"\"a\"\nb\r\u2028"_s << u"\"a\"\\x0ab\\x0d\\u2028"_s
                                             << u"\\\"a\\\"\\nb\uFFFD\uFFFD"_s;
        QTest::newRow("a backslash doubled: \\x07 is no bell")
            << u"\\x07\u0007"_s << u"\\\\x07\\x07"_s << u"\\\\x07\uFFFD"_s;
        QTest::newRow("letters and an emoji stay") << u"Gerät 会議室 \U0001F600"_s << u"Gerät 会議室 \U0001F600"_s
                                                   << u"Gerät 会議室 \U0001F600"_s;
    }

    void safeText()
    {
        QFETCH(QString, text);
        QFETCH(QString, metrics);
        QTEST(::safeText(text), "escaped");
        QCOMPARE(::safeText(text, TextPlace::MetricsLabel), metrics);
        QCOMPARE(holdsUnsafeCharacter(text), metrics.contains(QChar::ReplacementCharacter));
    }

    // The JSON the tool writes holds nothing a terminal acts on, and reads back as the same
    // text; the line breaks of its indentation stay.
    void safeJson_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("json");
        const auto row = [](const char *name, const QString &text, const QString &json) {
            QTest::newRow(name) << text << json;
        };
        row("C0: escape, bell, line break", u"\u001b[2J\u0007\n"_s, u"\"\\u001b[2J\\u0007\\n\""_s);
        row("DEL, C1: NEL, CSI", u"\u007f\u0080\u0085\u009b31m\u009f"_s, u"\"\\u007f\\u0080\\u0085\\u009b31m\\u009f\""_s);
        row("line and paragraph separators", u"a\u2028b\u2029"_s, u"\"a\\u2028b\\u2029\""_s);
        row("direction marks, embeddings, overrides, isolates",
            u"\u061c\u200e\u200f\u202a\u202b\u202c\u202d\u202e\u2066\u2067\u2068\u2069"_s,
            u"\"\\u061c\\u200e\\u200f\\u202a\\u202b\\u202c\\u202d\\u202e\\u2066\\u2067\\u2068\\u2069\""_s);
        // The same first bytes as escaped ones, zero width, a byte order mark, beyond 16 bits.
        const QString kept = u"\u00a0\u00e9\u0610\u200b\u2027\u202f\u2065\u206a\ufeff\U0001F600\U000E0041"_s;
        row("their neighbours, an emoji and a tag character stay", kept, u'"' + kept + u'"');
        row("quotes and backslashes, Qt's own", u"\"\\u202e\""_s, u"\"\\\"\\\\u202e\\\"\""_s);
    }

    void safeJson()
    {
        QFETCH(QString, text);
        QFETCH(QString, json);
        QCOMPARE(QString::fromUtf8(safeJsonValue(text)), json);
        QCOMPARE(QJsonDocument::fromJson('[' + json.toUtf8() + ']').array(), QJsonArray{text});
        QCOMPARE(::safeJson(QJsonDocument(QJsonObject{{u"k"_s, text}})), "{\n    \"k\": " + json.toUtf8() + "\n}\n");
    }

    // Each row writes "new" to `path` in a folder that holds "file" (mode 0640), a folder
    // "folder", a link "link" to "file" and a file "blocker"; the reason, or the file after.
    void wholeFile_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("users"); // a path the user named: its folder is never made
        QTest::addColumn<QString>("problem");
        QTest::addColumn<QString>("written"); // which file holds "new" then, with its mode
        QTest::newRow("the tool's own, its folder made") << u"a/b/own"_s << false << QString() << u"a/b/own 644"_s;
        QTest::newRow("the user's, in no folder") << u"a/b/named"_s << true << u"No such file or directory"_s << QString();
        QTest::newRow("a file where the folder would be") << u"blocker/own"_s << false
                                                          << u"the folder %1/blocker cannot be made"_s << QString();
        QTest::newRow("a folder there") << u"folder"_s << true << u"Is a directory"_s << QString();
        QTest::newRow("a file there keeps its mode") << u"file"_s << true << QString() << u"file 640"_s;
        QTest::newRow("a link's target replaced") << u"link"_s << false << QString() << u"file 640"_s;
    }
    void wholeFile()
    {
        QFETCH(QString, path);
        QFETCH(bool, users);
        QFETCH(QString, problem);
        QFETCH(QString, written);
        const QTemporaryDir dir;
        const QDir folder(dir.path());
        const mode_t mask = ::umask(022);
        const auto restore = qScopeGuard([mask] { ::umask(mask); });
        QFile file(folder.filePath(u"file"_s));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write("old") == 3 && file.setPermissions(QFile::ReadOwner
                | QFile::WriteOwner | QFile::ReadGroup));
        file.close();
        QVERIFY(folder.mkdir(u"folder"_s) && QFile::link(u"file"_s, folder.filePath(u"link"_s)));
        QVERIFY(QFile(folder.filePath(u"blocker"_s)).open(QIODevice::WriteOnly));
        const QStringList before = folder.entryList(QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot);

        const Result<> found = writeWholeFile(folder.filePath(path), "new", users ? FileOwner::User : FileOwner::Tool);
        QCOMPARE(found.reason(), problem.arg(dir.path()));
        const bool made = written.startsWith(u"a/"_s);
        QCOMPARE(QFileInfo::exists(folder.filePath(u"a"_s)), made);
        if (!written.isEmpty()) {
            const QString name = written.section(u' ', 0, 0);
            struct stat there {};
            QVERIFY(::stat(QFile::encodeName(folder.filePath(name)).constData(), &there) == 0);
            QCOMPARE(QString::number(there.st_mode & 0777, 8), written.section(u' ', 1));
            QFile now(folder.filePath(name));
            QVERIFY(now.open(QIODevice::ReadOnly));
            QCOMPARE(now.readAll(), QByteArray("new"));
        }
        // Nothing is left beside it, written or not, and a link stays a link.
        QCOMPARE(folder.entryList(QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot),
                 made ? QStringList{u"a"_s} + before : before);
        QVERIFY(QFileInfo(folder.filePath(u"link"_s)).isSymLink());
    }

    // A write that is not placed, or cannot be, leaves nothing beside the file.
    void wholeFileNotPlaced()
    {
        const QTemporaryDir dir;
        const QString path = dir.filePath(u"own"_s);
        {
            WholeFile file(path, FileOwner::Tool);
            QCOMPARE(file.write("never placed").reason(), QString());
            QCOMPARE(QDir(dir.path()).entryList(QDir::Files).size(), 1);
        }
        WholeFile file(path, FileOwner::Tool);
        QCOMPARE(file.write("new").reason(), QString());
        QVERIFY(QDir(dir.path()).mkpath(u"own/taken"_s)); // a folder put there meanwhile
        QVERIFY(!file.place());
        QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), QStringList{u"own"_s});
    }

    // What a document that says its kind and version is found to be, the newest version
    // read here being 2.
    void versionedDocument_data()
    {
        using Kind = VersionedDocument::Kind;
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<Kind>("kind");
        QTest::addColumn<qint64>("version");
        const auto row = [](const char *name, const char *bytes, Kind kind, qint64 version = 0) {
            QTest::newRow(name) << QByteArray(bytes).replace('\'', '"') << kind << version;
        };
        row("the newest", "{'format': 'x', 'version': 2}", Kind::Document, 2);
        row("one before, written 1.0", "{'format': 'x', 'version': 1.0}", Kind::Document, 1);
        row("a newer one", "{'format': 'x', 'version': 3}", Kind::Newer, 3);
        row("far newer", "{'format': 'x', 'version': 1e15}", Kind::Newer, 1'000'000'000'000'000);
        row("no version", "{'format': 'x'}", Kind::NoVersion);
        row("version 0", "{'format': 'x', 'version': 0}", Kind::NoVersion);
        row("version 1.5", "{'format': 'x', 'version': 1.5}", Kind::NoVersion);
        row("version as text", "{'format': 'x', 'version': '2'}", Kind::NoVersion);
        row("another format", "{'format': 'y', 'version': 1}", Kind::Foreign);
        row("a list", "[{'format': 'x', 'version': 1}]", Kind::Foreign);
        row("not JSON", "{'format': 'x', ", Kind::Unparsed);
    }
    void versionedDocument()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(VersionedDocument::Kind, kind);
        QFETCH(qint64, version);
        const VersionedDocument read = readVersionedDocument(bytes, u"x", 2);
        QCOMPARE(read.kind, kind);
        QCOMPARE(read.version, version);
        QCOMPARE(read.root.isEmpty(), kind != VersionedDocument::Kind::Document);
        QCOMPARE(read.problem.isEmpty(), kind != VersionedDocument::Kind::Unparsed);
    }
};

QTEST_GUILESS_MAIN(TestPlatform)
#include "tst_platform.moc"
