#include "platform/autostart.h"
#include "platform/lookuppool.h"
#include "platform/safetext.h"
#include "platform/semaphore.h"

#include <QCoreApplication>
#include <QFile>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <thread>

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
        QCOMPARE(setStartAtLogin(true), std::nullopt);
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
        QCOMPARE(setStartAtLogin(false), std::nullopt);
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
};

QTEST_GUILESS_MAIN(TestPlatform)
#include "tst_platform.moc"
