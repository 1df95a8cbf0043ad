#include "discovery/datagram.h"

#include <QTest>

using namespace Qt::StringLiterals;

// The reply checks of both protocols and the bad-packet text: bytes in, verdict or text out.
class TestDatagram final : public QObject {
    Q_OBJECT

private slots:
    void replyChecks_data()
    {
        QTest::addColumn<QByteArray>("datagram");
        QTest::addColumn<bool>("xpico");
        QTest::addColumn<bool>("corva");
        const QByteArray gateway("\x00\x01\x00\xF7", 4);
        QTest::newRow("gateway reply") << gateway + QByteArray(26, '\0') << true << false;
        QTest::newRow("gateway reply, 4 bytes") << gateway << true << false;
        QTest::newRow("gateway, 3 bytes") << gateway.left(3) << false << false;
        QTest::newRow("gateway, wrong code") << QByteArray("\x00\x01\x00\xF8", 4) << false << false;
        QTest::newRow("gateway request echoed") << QByteArray("\x00\x01\x00\xF6", 4) << false << false;
        QTest::newRow("gateway code after 512 bytes read")
            << QByteArray(3, 'x') + char(0xF7) + QByteArray(508, '.') << true << false;
        QTest::newRow("exactly Server") << QByteArray("Server") << false << true;
        QTest::newRow("Server and more") << QByteArray("Server corva-hall\r\n") << false << true;
        QTest::newRow("Server then NUL") << QByteArray("Server\0x", 8) << false << true;
        QTest::newRow("first 5 bytes only") << QByteArray("Serve") << false << false;
        QTest::newRow("other case") << QByteArray("SERVER hall") << false << false;
        QTest::newRow("NUL inside the marker") << QByteArray("Ser\0ver", 7) << false << false;
        QTest::newRow("Corva request echoed") << QByteArray("Zeph") << false << false;
        QTest::newRow("empty") << QByteArray() << false << false;
        QTest::newRow("both at once") << QByteArray("Ser\xF7ver", 7) << true << false;
    }

    void replyChecks()
    {
        QFETCH(QByteArray, datagram);
        QFETCH(bool, xpico);
        QFETCH(bool, corva);
        QCOMPARE(isXpicoReply(datagram), xpico);
        QCOMPARE(isCorvaReply(datagram), corva);
    }

    void badPacketText_data()
    {
        QTest::addColumn<QByteArray>("datagram");
        QTest::addColumn<QString>("text");
        QTest::newRow("empty") << QByteArray() << QString();
        QTest::newRow("starts with NUL") << QByteArray("\0Server", 7) << QString();
        QTest::newRow("up to the first NUL") << QByteArray("Ser\0ver", 7) << u"Ser"_s;
        QTest::newRow("request text") << QByteArray("Zeph") << u"Zeph"_s;
        QTest::newRow("no NUL: the bytes received only") << QByteArray("SERVER hall") << u"SERVER hall"_s;
        QTest::newRow("newline cannot start a line") << QByteArray("x\n2026-12-07 forged")
                                                      << u"x\\n2026-12-07 forged"_s;
        QTest::newRow("carriage return and tab") << QByteArray("a\rb\tc") << u"a\\rb\\tc"_s;
        QTest::newRow("escape sequence") << QByteArray("\x1b[2J") << u"\\x1b[2J"_s;
        QTest::newRow("delete and high bytes") << QByteArray("\x7f\xff\x80") << u"\\x7f\\xff\\x80"_s;
        QTest::newRow("backslash stays readable") << QByteArray("a\\nb") << u"a\\\\nb"_s;
        QTest::newRow("gateway bytes") << QByteArray("\x05\x01\x00\xF8", 4) << u"\\x05\\x01"_s;
    }

    void badPacketText()
    {
        QFETCH(QByteArray, datagram);
        QFETCH(QString, text);
        QCOMPARE(::badPacketText(datagram), text);
    }
};

QTEST_GUILESS_MAIN(TestDatagram)
#include "tst_datagram.moc"
