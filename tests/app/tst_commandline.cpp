#include "app/commandline.h"

#include <QProcess>
#include <QRegularExpression>
#include <QTest>

using namespace Qt::StringLiterals;

class TestCommandLine final : public QObject {
    Q_OBJECT

private slots:
    void run_data();
    void run();
    void scanProgressOnlyAtATerminal();
};

void TestCommandLine::run_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("out");
    QTest::addColumn<QStringList>("logged");
    QTest::addColumn<QString>("outputFile"); // standard output goes there instead of a pipe

    QTest::newRow("version") << QStringList{u"--version"_s} << 0 << QByteArray("devicefinder " DF_VERSION "\n")
                             << QStringList{} << QString();
    QTest::newRow("help") << QStringList{u"--help"_s} << 0 << usageText().toUtf8() << QStringList{} << QString();
    QTest::newRow("unknown command") << QStringList{u"frobnicate"_s} << 2 << QByteArray() << QStringList{} << QString();

    const QString unable = u"Unable to expand IP Range: '%1'"_s;
    QTest::newRow("block") << QStringList{u"expand"_s, u"10.0.0.0/30"_s} << 0 << QByteArray("10.0.0.0\n10.0.0.1\n10.0.0.2\n10.0.0.3\n")
                           << QStringList{u"IP Range in CIDR notation."_s} << QString();
    QTest::newRow("dash range") << QStringList{u"expand"_s, u"10.0.0.9-11"_s} << 0 << QByteArray("10.0.0.9\n10.0.0.10\n10.0.0.11\n")
                                << QStringList{u"IP Range in Range notation."_s} << QString();
    QByteArray block;
    for (int i = 0; i < 65536; ++i)
        block += "10.1." + QByteArray::number(i >> 8) + '.' + QByteArray::number(i & 255) + '\n';
    QTest::newRow("many writes") << QStringList{u"expand"_s, u"10.1.2.3/16"_s} << 0 << block
                                 << QStringList{u"IP Range in CIDR notation."_s} << QString();
    QTest::newRow("text kept as typed") << QStringList{u"expand"_s, u"10.0.0.1\u00e9"_s} << 0 << QByteArray("10.0.0.1\xc3\xa9\n")
                                        << QStringList{u"IP Range in single address notation."_s} << QString();
    QTest::newRow("no notation") << QStringList{u"expand"_s, u" 10.0.0.1"_s} << 2 << QByteArray()
                                 << QStringList{unable.arg(u" 10.0.0.1"_s)} << QString();
    QTest::newRow("covers nothing") << QStringList{u"expand"_s, u"10.0.0.0/33"_s} << 2 << QByteArray()
                                    << QStringList{u"IP Range in CIDR notation."_s, unable.arg(u"10.0.0.0/33"_s)} << QString();
    // Output that cannot be written fails the command, with one line saying so.
    const QString full = u"/dev/full"_s;
    QTest::newRow("full disk") << QStringList{u"expand"_s, u"10.0.0.0/30"_s} << 1 << QByteArray()
                               << QStringList{u"IP Range in CIDR notation."_s} << full;
    QTest::newRow("full disk, many writes") << QStringList{u"expand"_s, u"10.1.2.3/16"_s} << 1 << QByteArray()
                                            << QStringList{u"IP Range in CIDR notation."_s} << full;
    QTest::newRow("full disk, help") << QStringList{u"--help"_s} << 1 << QByteArray() << QStringList{} << full;
}

void TestCommandLine::run()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, status);
    QFETCH(QByteArray, out);
    QFETCH(QStringList, logged);
    QFETCH(QString, outputFile);

    QProcess process;
    if (!outputFile.isEmpty())
        process.setStandardOutputFile(outputFile);
    process.start(QStringLiteral(DF_BINARY), arguments);
    QVERIFY(process.waitForFinished(30'000));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), status);
    QCOMPARE(process.readAllStandardOutput(), out);

    // Log lines carry the time, the program and pid:thread before the message itself.
    static const QRegularExpression logLine(
        uR"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} devicefinder\[\d+:\d+\] (.*)$)"_s);
    QStringList messages;
    int unwritten = 0;
    for (const QString &line : QString::fromUtf8(process.readAllStandardError()).split(u'\n')) {
        if (const QRegularExpressionMatch match = logLine.match(line); match.hasMatch())
            messages.append(match.captured(1));
        unwritten += line.startsWith(u"devicefinder: the output could not be written"_s) ? 1 : 0;
    }
    QCOMPARE(messages, logged);
    QCOMPARE(unwritten, outputFile.isEmpty() ? 0 : 1);
}

QTEST_GUILESS_MAIN(TestCommandLine)
#include "tst_commandline.moc"

// A scan of four loopback addresses where nothing listens: at a terminal the count is
// rewritten in place and reaches four of four exactly once; into a pipe it never shows.
void TestCommandLine::scanProgressOnlyAtATerminal()
{
    const QString scan = QStringLiteral(DF_BINARY) + u" scan 127.0.11.0/30"_s;
    QProcess terminal;
    terminal.start(u"script"_s, {u"-qefc"_s, scan, u"/dev/null"_s});
    QVERIFY(terminal.waitForFinished(60'000));
    QCOMPARE(terminal.exitCode(), 0);
    const QByteArray shown = terminal.readAllStandardOutput();
    QCOMPARE(shown.count("Probed 4 of 4 addresses"), 1);
    QVERIFY(shown.contains("SCAN COMPLETE"));

    QProcess pipe;
    pipe.start(QStringLiteral(DF_BINARY), {u"scan"_s, u"127.0.11.0/30"_s});
    QVERIFY(pipe.waitForFinished(60'000));
    QCOMPARE(pipe.exitCode(), 0);
    const QByteArray logged = pipe.readAllStandardError();
    QVERIFY(logged.contains("SCAN COMPLETE"));
    QVERIFY(!logged.contains("Probed "));
    QVERIFY(!logged.contains('\r'));
}
