#include "platform/log.h"
#include "support/logcapture.h"

#include <QTest>

#include <thread>

using namespace Qt::StringLiterals;

class TestLog final : public QObject {
    Q_OBJECT

private slots:
    void formats_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("expected");
        QTest::newRow("%@") << formatLogLine("GET %@", {u"http://10.0.0.1/info"_s}) << u"GET http://10.0.0.1/info"_s;
        QTest::newRow("%lu") << formatLogLine("IP range expanded into %lu addresses.", {size_t(4)})
                             << u"IP range expanded into 4 addresses."_s;
        QTest::newRow("%f six decimals") << formatLogLine("finished after %fs", {3.0045123})
                                         << u"finished after 3.004512s"_s;
        QTest::newRow("%d and %02d") << formatLogLine("%dd %02d:%02d:%02d", {1, 2, 3, 4}) << u"1d 02:03:04"_s;
        QTest::newRow("%02d negative") << formatLogLine("%dd %02d:%02d:%02d", {0, 0, -1, -1})
                                       << u"0d 00:-1:-1"_s;
        QTest::newRow("%02d wide") << formatLogLine("%02d", {123}) << u"123"_s;
        QTest::newRow("%s bytes") << formatLogLine("Bad UDP packet: '%s' from %@", {QByteArray("Zeph"), u"10.0.0.7"_s})
                                  << u"Bad UDP packet: 'Zeph' from 10.0.0.7"_s;
        QTest::newRow("percent") << formatLogLine("100%%", {}) << u"100%"_s;
        QTest::newRow("missing argument") << formatLogLine("a %@ b %d", {u"x"_s}) << u"a x b %d"_s;
        QTest::newRow("trailing percent") << formatLogLine("50%", {}) << u"50%"_s;
    }

    void formats()
    {
        QFETCH(QString, line);
        QFETCH(QString, expected);
        QCOMPARE(line, expected);
    }

    void linesFromManyThreadsArriveWhole()
    {
        LogCapture capture;
        std::vector<std::thread> threads;
        for (int t = 0; t < 4; ++t)
            threads.emplace_back([t] {
                for (int i = 0; i < 100; ++i)
                    logLine(lcProbes, "probe %d line %d", t, i);
            });
        for (std::thread &thread : threads)
            thread.join();
        const QStringList lines = capture.lines();
        QCOMPARE(lines.size(), 400);
        QVERIFY(lines.contains(u"probe 3 line 99"_s));
    }
};

QTEST_GUILESS_MAIN(TestLog)
#include "tst_log.moc"
