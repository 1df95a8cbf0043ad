#include "platform/log.h"
#include "support/logcapture.h"

#include <QTest>

#include <thread>

class TestLog final : public QObject {
    Q_OBJECT

private slots:
    void formats_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("expected");
        QTest::newRow("%@") << formatLogLine("GET %@", {u"http://10.0.0.1/info"_qs}) << u"GET http://10.0.0.1/info"_qs;
        QTest::newRow("%lu") << formatLogLine("IP range expanded into %lu addresses.", {size_t(4)})
                             << u"IP range expanded into 4 addresses."_qs;
        QTest::newRow("%f six decimals") << formatLogLine("finished after %fs", {3.0045123})
                                         << u"finished after 3.004512s"_qs;
        QTest::newRow("%d and %02d") << formatLogLine("%dd %02d:%02d:%02d", {1, 2, 3, 4}) << u"1d 02:03:04"_qs;
        QTest::newRow("%02d negative") << formatLogLine("%dd %02d:%02d:%02d", {0, 0, -1, -1})
                                       << u"0d 00:-1:-1"_qs;
        QTest::newRow("%02d wide") << formatLogLine("%02d", {123}) << u"123"_qs;
        QTest::newRow("%s bytes") << formatLogLine("Bad UDP packet: '%s' from %@", {QByteArray("Zeph"), u"10.0.0.7"_qs})
                                  << u"Bad UDP packet: 'Zeph' from 10.0.0.7"_qs;
        QTest::newRow("percent") << formatLogLine("100%%", {}) << u"100%"_qs;
        QTest::newRow("missing argument") << formatLogLine("a %@ b %d", {u"x"_qs}) << u"a x b %d"_qs;
        QTest::newRow("trailing percent") << formatLogLine("50%", {}) << u"50%"_qs;
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
        QVERIFY(lines.contains(u"probe 3 line 99"_qs));
    }
};

QTEST_GUILESS_MAIN(TestLog)
#include "tst_log.moc"
