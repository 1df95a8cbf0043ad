#include "platform/log.h"

#include <QRegularExpression>
#include <QSet>
#include <QTemporaryFile>
#include <QTest>

#include <cstdio>
#include <thread>
#include <unistd.h>

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

    // The handler the program installs, writing to a file in place of standard error:
    // lines long enough to be torn, from several threads at once, must each arrive whole,
    // with their prefix, and none may be lost.
    void linesFromManyThreadsArriveWhole()
    {
        QTemporaryFile file;
        QVERIFY(file.open());
        std::fflush(stderr);
        const int savedStderr = dup(STDERR_FILENO);
        QVERIFY(savedStderr >= 0);
        QVERIFY(dup2(file.handle(), STDERR_FILENO) >= 0);

        installLogHandler();
        const QString filler(3000, u'x');
        std::vector<std::thread> threads;
        for (int t = 0; t < 4; ++t)
            threads.emplace_back([t, &filler] {
                for (int i = 0; i < 100; ++i)
                    logLine(lcProbes, "probe %d line %d %@ end", t, i, filler);
            });
        for (std::thread &thread : threads)
            thread.join();
        qInstallMessageHandler(nullptr);

        std::fflush(stderr);
        dup2(savedStderr, STDERR_FILENO);
        close(savedStderr);

        file.seek(0);
        const QList<QByteArray> lines = file.readAll().split('\n');
        QCOMPARE(lines.size(), 401); // and an empty piece after the last newline
        QVERIFY(lines.last().isEmpty());
        static const QRegularExpression whole(
            uR"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} \S+\[\d+:\d+\] probe (\d) line (\d+) x{3000} end$)"_s);
        QSet<QString> seen;
        for (qsizetype i = 0; i + 1 < lines.size(); ++i) {
            const QRegularExpressionMatch match = whole.match(QString::fromUtf8(lines.at(i)));
            QVERIFY2(match.hasMatch(), lines.at(i).left(200).constData());
            seen.insert(match.captured(1) + u'/' + match.captured(2));
        }
        QCOMPARE(seen.size(), 400);
    }
};

QTEST_GUILESS_MAIN(TestLog)
#include "tst_log.moc"
