#include "discovery/datagram.h"
#include "platform/log.h"

#include <QTest>

using namespace Qt::StringLiterals;

class TestDatagram final : public QObject {
    Q_OBJECT

private slots:
    // text: how the datagram shows in a "Bad UDP packet" line, were it rejected, as the log
    // shows a stranger's bytes.
    void datagrams_data()
    {
        QTest::addColumn<QByteArray>("datagram");
        QTest::addColumn<bool>("xpico");
        QTest::addColumn<bool>("corva");
        QTest::addColumn<QString>("text");
        const QByteArray gateway("\x00\x01\x00\xF7", 4);
        QTest::newRow("gateway reply, 4 bytes") << gateway << true << false << QString();
        QTest::newRow("gateway, 3 bytes") << gateway.left(3) << false << false << QString();
        QTest::newRow("gateway, wrong code") << QByteArray("\x05\x01\x00\xF8", 4) << false << false << u"\\x05\\x01"_s;
        QTest::newRow("gateway request echoed") << QByteArray("\x00\x01\x00\xF6", 4) << false << false << QString();
        QTest::newRow("gateway code after 512 bytes read")
            << QByteArray(3, 'x') + char(0xF7) + QByteArray(508, '.') << true << false << u"xxx\\xf7"_s + QString(508, u'.');
        QTest::newRow("exactly Server") << QByteArray("Server") << false << true << u"Server"_s;
        QTest::newRow("Server and more") << QByteArray("Server corva-hall\r\n") << false << true
                                         << u"Server corva-hall\\x0d\\x0a"_s;
        QTest::newRow("Server then NUL") << QByteArray("Server\0x", 8) << false << true << u"Server"_s;
        QTest::newRow("first 5 bytes only") << QByteArray("Serve") << false << false << u"Serve"_s;
        QTest::newRow("other case") << QByteArray("SERVER hall") << false << false << u"SERVER hall"_s;
        QTest::newRow("NUL inside the marker") << QByteArray("Ser\0ver", 7) << false << false << u"Ser"_s;
        QTest::newRow("Corva request echoed") << QByteArray("Zeph") << false << false << u"Zeph"_s;
        QTest::newRow("empty") << QByteArray() << false << false << QString();
        QTest::newRow("starts with NUL") << QByteArray("\0Server", 7) << false << false << QString();
        QTest::newRow("both at once") << QByteArray("Ser\xF7ver", 7) << true << false << u"Ser\\xf7ver"_s;
        QTest::newRow("newline cannot start a line") << QByteArray("x\n2026-12-07 forged") << false << false
                                                      << u"x\\x0a2026-12-07 forged"_s;
        QTest::newRow("tab, escape, delete, high bytes") << QByteArray("a\tb\x1b[2J\x7f\xff\x80") << false << false
                                                         << u"a\\x09b\\x1b[2J\\x7f\\xff\\x80"_s;
        QTest::newRow("backslash stays readable") << QByteArray("a\\nb") << false << false << u"a\\\\nb"_s;
    }

    // The reply checks of both protocols and the bad-packet text: bytes in, verdict or text out.
    void datagrams()
    {
        QFETCH(QByteArray, datagram);
        QTEST(isXpicoReply(datagram), "xpico");
        QTEST(isCorvaReply(datagram), "corva");
        QTEST(formatLogLine("%s", {badPacketBytes(datagram)}), "text");
    }
};

QTEST_GUILESS_MAIN(TestDatagram)
#include "tst_datagram.moc"
