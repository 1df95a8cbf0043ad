#include <QProcess>
#include <QTest>

using namespace Qt::StringLiterals;

class TestExpandCommand final : public QObject {
    Q_OBJECT

private slots:
    void expand_data();
    void expand();
};

void TestExpandCommand::expand_data()
{
    QTest::addColumn<QString>("range");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("out");
    QTest::addColumn<QStringList>("logged");

    const QString unable = u"Unable to expand IP Range: '%1'"_s;
    QTest::newRow("block") << u"10.0.0.0/30"_s << 0 << QByteArray("10.0.0.0\n10.0.0.1\n10.0.0.2\n10.0.0.3\n")
                           << QStringList{u"IP Range in CIDR notation."_s};
    QTest::newRow("dash range") << u"10.0.0.9-11"_s << 0 << QByteArray("10.0.0.9\n10.0.0.10\n10.0.0.11\n")
                                << QStringList{u"IP Range in Range notation."_s};
    QByteArray block;
    for (int i = 0; i < 65536; ++i)
        block += "10.1." + QByteArray::number(i >> 8) + '.' + QByteArray::number(i & 255) + '\n';
    QTest::newRow("many writes") << u"10.1.2.3/16"_s << 0 << block
                                 << QStringList{u"IP Range in CIDR notation."_s};
    QTest::newRow("text kept as typed") << u"10.0.0.1\u00e9"_s << 0 << QByteArray("10.0.0.1\xc3\xa9\n")
                                        << QStringList{u"IP Range in single address notation."_s};
    QTest::newRow("no notation") << u" 10.0.0.1"_s << 2 << QByteArray()
                                 << QStringList{unable.arg(u" 10.0.0.1"_s)};
    QTest::newRow("covers nothing") << u"10.0.0.0/33"_s << 2 << QByteArray()
                                    << QStringList{u"IP Range in CIDR notation."_s, unable.arg(u"10.0.0.0/33"_s)};
}

void TestExpandCommand::expand()
{
    QFETCH(QString, range);
    QFETCH(int, status);
    QFETCH(QByteArray, out);
    QFETCH(QStringList, logged);

    QProcess process;
    process.start(QStringLiteral(DF_BINARY), {u"expand"_s, range});
    QVERIFY(process.waitForFinished(30'000));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), status);
    QCOMPARE(process.readAllStandardOutput(), out);

    // Each log line carries a time and process prefix before the message itself.
    const QStringList lines = QString::fromUtf8(process.readAllStandardError()).split(u'\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), logged.size());
    for (qsizetype i = 0; i < lines.size(); ++i)
        QVERIFY2(lines.at(i).endsWith(u"] "_s + logged.at(i)), qPrintable(lines.at(i)));
}

QTEST_GUILESS_MAIN(TestExpandCommand)
#include "tst_expandcommand.moc"
