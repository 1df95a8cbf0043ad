#include "platform/log.h"

#include <QTest>

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
        QTest::newRow("%s bytes") << formatLogLine("Bad UDP packet: '%s' from %@", {QByteArray("Zeph"), u"10.0.0.7"_s})
                                  << u"Bad UDP packet: 'Zeph' from 10.0.0.7"_s;
        QTest::newRow("percent") << formatLogLine("100%%", {}) << u"100%"_s;
        QTest::newRow("missing argument") << formatLogLine("a %@ b %d", {u"x"_s}) << u"a x b %d"_s;
    }

    void formats()
    {
        QFETCH(QString, line);
        QFETCH(QString, expected);
        QCOMPARE(line, expected);
    }
};

QTEST_GUILESS_MAIN(TestLog)
#include "tst_log.moc"
