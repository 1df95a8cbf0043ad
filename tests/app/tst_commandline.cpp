#include "app/commandline.h"

#include <QProcess>
#include <QRegularExpression>
#include <QTest>

using namespace Qt::StringLiterals;

class TestCommandLine final : public QObject {
    Q_OBJECT

private slots:
    void parse_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("argument");
        QTest::addColumn<QString>("broadcast");
        QTest::addColumn<int>("format");
        QTest::addColumn<int>("replyPort");
        using K = Command::Kind;
        using F = OutputFormat;
        const QString everyone;
        const auto row = [](const char *name, const QStringList &arguments, K kind, const QString &argument = {},
                            const QString &broadcast = {}, F format = F::Text, int replyPort = 0) {
            QTest::newRow(name) << arguments << int(kind) << argument << broadcast << int(format) << replyPort;
        };
        row("window, bad broadcast", {u"--broadcast"_s, u"192.168.1"_s}, K::UsageError);
        row("discover, reply port", {u"discover"_s, u"--reply-port"_s, u"65535"_s}, K::Discover, {}, {}, F::Text, 65535);
        row("discover, reply port too big", {u"discover"_s, u"--reply-port"_s, u"65536"_s}, K::UsageError);
        row("discover, json, broadcast", {u"discover"_s, u"--broadcast"_s, u"10.1.255.255"_s, u"--json"_s},
            K::Discover, {}, u"10.1.255.255"_s, F::Json);
        row("discover, operand", {u"discover"_s, u"10.0.0.1"_s}, K::UsageError);
        row("discover, json and csv", {u"discover"_s, u"--json"_s, u"--csv"_s}, K::UsageError);
        row("scan", {u"scan"_s, u"10.0.0.0/30"_s, u"--csv"_s}, K::Scan, u"10.0.0.0/30"_s, everyone, F::Csv);
        row("scan, no broadcast", {u"scan"_s, u"10.0.0.0/30"_s, u"--broadcast"_s, u"10.0.0.255"_s}, K::UsageError);
        row("probe", {u"probe"_s, u"10.0.0.7"_s, u"--json"_s}, K::Probe, u"10.0.0.7"_s, everyone, F::Json);
        row("probe, port", {u"probe"_s, u"127.0.0.5:8080"_s}, K::Probe, u"127.0.0.5:8080"_s);
        row("probe, leading zero", {u"probe"_s, u"010.0.0.1"_s}, K::UsageError);
        row("probe, octet above 255", {u"probe"_s, u"192.168.1.260"_s}, K::UsageError);
        row("help with more", {u"--help"_s, u"x"_s}, K::UsageError);
    }

    void parse()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, kind);
        QFETCH(QString, argument);
        QFETCH(QString, broadcast);
        QFETCH(int, format);
        QFETCH(int, replyPort);
        const Command command = parseCommandLine(arguments);
        QCOMPARE(int(command.kind), kind);
        QCOMPARE(command.message.isEmpty(), command.kind != Command::Kind::UsageError);
        if (command.kind == Command::Kind::UsageError)
            return;
        QCOMPARE(command.argument, argument);
        QCOMPARE(command.broadcastAddress, broadcast);
        QCOMPARE(int(command.format), format);
        QCOMPARE(int(command.replyPort), replyPort);
    }

    // The history's options, diff and watch; --report for discover, --local for scan.
    void parseHistory_data()
    {
        QTest::addColumn<QString>("arguments");
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("set"); // the files, changes, no-history, every N (other than 60), report F, local
        using K = Command::Kind;
        QTest::newRow("window") << u"--no-history --reply-port 47800"_s << int(K::Window) << u"no-history"_s;
        QTest::newRow("discover") << u"discover --changes --json"_s << int(K::Discover) << u"changes"_s;
        QTest::newRow("--changes needs the history") << u"scan 10.0.0.0/30 --changes --no-history"_s << int(K::UsageError) << QString();
        QTest::newRow("diff") << u"diff a.json --json b.json"_s << int(K::Diff) << u"a.json b.json"_s;
        QTest::newRow("diff --csv") << u"diff a.json b.json --csv"_s << int(K::UsageError) << QString();
        QTest::newRow("watch") << u"watch --broadcast 10.1.255.255 --no-history"_s << int(K::Watch) << u"no-history"_s;
        QTest::newRow("watch --every 10") << u"watch --every 10"_s << int(K::Watch) << u"every 10"_s;
        QTest::newRow("watch --every 9") << u"watch --every 9"_s << int(K::UsageError) << QString();
        QTest::newRow("watch --json") << u"watch --json"_s << int(K::UsageError) << QString();
        QTest::newRow("report") << u"discover --report - --json"_s << int(K::Discover) << u"report -"_s;
        QTest::newRow("report, no file") << u"discover --report --json"_s << int(K::UsageError) << QString();
        QTest::newRow("report on scan") << u"scan --local --report r"_s << int(K::UsageError) << QString();
        QTest::newRow("local") << u"scan --csv --local"_s << int(K::Scan) << u"local"_s;
        QTest::newRow("local and a range") << u"scan --local 10.0.0.0/24"_s << int(K::UsageError) << QString();
        QTest::newRow("local on discover") << u"discover --local"_s << int(K::UsageError) << QString();
    }

    void parseHistory()
    {
        QFETCH(QString, arguments);
        QFETCH(int, kind);
        QFETCH(QString, set);
        const Command command = parseCommandLine(arguments.split(u' '));
        QCOMPARE(int(command.kind), kind);
        QStringList options = command.files;
        if (command.changes)
            options.append(u"changes"_s);
        if (command.noHistory)
            options.append(u"no-history"_s);
        if (command.everySeconds != 60)
            options.append(u"every %1"_s.arg(command.everySeconds));
        if (!command.reportFile.isEmpty())
            options.append(u"report "_s + command.reportFile);
        if (command.localNetworks)
            options.append(u"local"_s);
        QVERIFY(kind == int(Command::Kind::UsageError) || options.join(u' ') == set);
    }

    void run_data()
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

        QTest::newRow("block") << QStringList{u"expand"_s, u"10.0.0.0/30"_s} << 0 << QByteArray("10.0.0.0\n10.0.0.1\n10.0.0.2\n10.0.0.3\n")
                               << QStringList{u"IP Range in CIDR notation."_s} << QString();
        QTest::newRow("text kept as typed") << QStringList{u"expand"_s, u"10.0.0.1\u00e9"_s} << 0 << QByteArray("10.0.0.1\xc3\xa9\n")
                                            << QStringList{u"IP Range in single address notation."_s} << QString();
        QTest::newRow("covers nothing") << QStringList{u"expand"_s, u"10.0.0.0/33"_s} << 2 << QByteArray()
                                        << QStringList{u"IP Range in CIDR notation."_s, u"Unable to expand IP Range: '10.0.0.0/33'"_s} << QString();
        const QString full = u"/dev/full"_s;
        QTest::newRow("full disk") << QStringList{u"expand"_s, u"10.0.0.0/30"_s} << 1 << QByteArray()
                                   << QStringList{u"IP Range in CIDR notation."_s} << full;
        QTest::newRow("full disk, many writes") << QStringList{u"expand"_s, u"10.1.2.3/16"_s} << 1 << QByteArray()
                                                << QStringList{u"IP Range in CIDR notation."_s} << full;
        QTest::newRow("full disk, help") << QStringList{u"--help"_s} << 1 << QByteArray() << QStringList{} << full;
    }

    void run()
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
};

QTEST_GUILESS_MAIN(TestCommandLine)
#include "tst_commandline.moc"
