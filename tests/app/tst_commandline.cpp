#include "app/commandline.h"
#include "app/logcommand.h"
#include "platform/addresstext.h"
#include "support/files.h"

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

class TestCommandLine final : public QObject {
    Q_OBJECT

private slots:
    // Each row: the arguments, and what they ask for as the command's kind and what it sets
    // (besides the defaults); "usage error" for a line that is refused.
    void parse_data()
    {
        QTest::addColumn<QString>("arguments");
        QTest::addColumn<QString>("asks");
        const auto row = [](const char *arguments, const char *asks) {
            QTest::newRow(arguments) << QString::fromUtf8(arguments) << QString::fromUtf8(asks);
        };
        // An option says what it takes in the same words wherever it is refused.
        row("--broadcast 192.168.1", "usage error: --broadcast takes an IPv4 address such as 192.168.1.255, not '192.168.1'");
        row("watch --broadcast 010.1.255.255", "usage error: watch: --broadcast takes an IPv4 address such as "
                                               "192.168.1.255, not '010.1.255.255'");
        row("--no-history --reply-port 47800", "window port 47800 no-history");
        row("discover --reply-port 65535", "discover port 65535");
        row("discover --reply-port 65536", "usage error");
        row("discover --broadcast 10.1.255.255 --json", "discover json broadcast 10.1.255.255");
        row("discover 10.0.0.1", "usage error");
        row("discover --json --csv", "usage error");
        row("discover --changes --json --report -", "discover json changes report -");
        row("discover --report --json", "usage error");
        row("scan 10.0.0.0/30 --changes --no-history", "usage error");
        row("scan --csv --local", "scan csv local");
        row("scan --local 10.0.0.0/24", "usage error");
        row("scan 10.0.0.0/30 10.0.1.0/30 --csv", "scan 10.0.0.0/30 10.0.1.0/30 csv");
        row("scan --ranges-from - --json", "scan json ranges-from -");
        row("scan --ranges-from r.txt 10.0.0.1", "usage error");
        row("scan --ranges-from --json", "usage error");
        row("scan --csv", "usage error");
        row("probe 10.0.0.7 --json", "probe 10.0.0.7 json");
        row("probe 127.0.0.5:8080", "probe 127.0.0.5:8080");
        row("probe 010.0.0.1", "usage error");
        row("diff a.json --json b.json", "diff json a.json b.json");
        row("watch --broadcast 10.1.255.255 --no-history", "watch broadcast 10.1.255.255 no-history");
        row("watch --arp-rate 15", "watch arp-rate 15");
        row("scan 10.0.0.0/16 --arp-rate 0", "usage error");
        row("watch --every 10 -- notify-send --urgency=low -- new", "watch every 10 program notify-send --urgency=low -- new");
        row("watch --", "usage error");
        row("watch 10.2.0.0/24 10.3.0.1 --every 300", "watch 10.2.0.0/24 10.3.0.1 every 300");
        row("watch --local --arp-rate 20", "watch arp-rate 20 local");
        row("watch --ranges-from r.txt --discover --reply-port 47800", "watch port 47800 ranges-from r.txt discover");
        row("watch 10.2.0.0/24 --local", "usage error");
        row("watch 10.2.0.0/24 --broadcast 10.2.0.255", "usage error");
        row("watch --discover", "usage error");
        row("discover -- x", "usage error");
        row("--help x", "usage error");
        row("label 02:00:5e:10:00:11 --roof", "label set 02:00:5e:10:00:11 --roof");
        row("label 02:00:5e:10:00:11", "label print 02:00:5e:10:00:11");
        row("label --list --json", "label list json");
        row("label --list x", "usage error");
        row("label 02:00:5e:10:00:11 --watch off", "label watch 02:00:5e:10:00:11 off");
        row("label 02:00:5e:10:00:11 --watch no", "usage error");
        row("watch --missing-after 3 --flap-changes 5 --flap-window 600 --metrics m.prom --notify",
            "watch missing-after 3 flap 5 600 metrics m.prom notify");
        row("watch --missing-after 0", "usage error");
        row("settings import - --actions --replace --watch-choices", "settings import - replace actions watch-choices");
        row("settings export --replace", "usage error");
        row("watch --flap-window 59", "usage error");
        row("label", "usage error");
        row("log 00-80-A3-1B-2C-3D --since 24h --csv", "log 00-80-A3-1B-2C-3D csv since 24h");
        row("log --json", "log json");
        row("log a b", "usage error");
        row("log --since", "usage error");
        row("destinations --json", "destinations json");
        row("destinations test", "usage error");
        row("destinations test phone --json", "usage error");
    }

    void parse()
    {
        QFETCH(QString, arguments);
        QFETCH(QString, asks);
        const Command command = parseCommandLine(arguments.split(u' '));
        QCOMPARE(command.message.isEmpty(), command.kind != Command::Kind::UsageError);
        static const QStringList kinds{u"window"_s, u"discover"_s, u"scan"_s, u"expand"_s,  u"probe"_s,      u"diff"_s,
                                       u"watch"_s,  u"log"_s, u"label"_s,    u"settings"_s, u"destinations"_s,
                                       u"help"_s, u"version"_s, u"usage error"_s};
        QStringList set{kinds.at(int(command.kind))};
        const auto add = [&](bool given, const QString &what) { set.append(given ? QStringList{what} : QStringList{}); };
        add(!command.argument.isEmpty(), command.argument);
        add(!command.ranges.isEmpty(), command.ranges.join(u' '));
        add(command.format != OutputFormat::Text, command.format == OutputFormat::Json ? u"json"_s : u"csv"_s);
        add(!command.broadcastAddress.isEmpty(), u"broadcast "_s + addressText(command.broadcastAddress));
        add(command.replyPort != 0, u"port %1"_s.arg(command.replyPort));
        set += command.files;
        add(command.changes, u"changes"_s);
        add(command.noHistory, u"no-history"_s);
        add(command.everySeconds != 60, u"every %1"_s.arg(command.everySeconds));
        add(command.arpRate != 0, u"arp-rate %1"_s.arg(command.arpRate));
        add(!command.reportFile.isEmpty(), u"report "_s + command.reportFile);
        add(command.localNetworks, u"local"_s);
        add(!command.rangesFile.isEmpty(), u"ranges-from "_s + command.rangesFile);
        add(!command.program.isEmpty(), u"program "_s + command.program.join(u' '));
        add(command.watchRule.missingAfter != 2, u"missing-after %1"_s.arg(command.watchRule.missingAfter));
        add(command.watchRule.flapChanges != 4,
            u"flap %1 %2"_s.arg(command.watchRule.flapChanges).arg(command.watchRule.flapWindow.count()));
        add(!command.metricsFile.isEmpty(), u"metrics "_s + command.metricsFile);
        add(command.notify, u"notify"_s);
        add(command.discover, u"discover"_s);
        add(!command.sinceText.isEmpty(), u"since "_s + command.sinceText);
        if (command.kind == Command::Kind::Label) {
            static const char *const actions[] = {"print", "set", "list", "watch"};
            set += QStringList{QString::fromLatin1(actions[int(command.label.action)]), command.label.macAddress,
                               command.label.label};
            add(command.label.action == LabelRequest::Action::Watch, command.label.watched ? u"on"_s : u"off"_s);
            add(command.label.json, u"json"_s);
            set.removeAll(QString());
        }
        if (command.kind == Command::Kind::Settings)
            set += QStringList{command.settings.import ? u"import"_s : u"export"_s, command.settings.file,
                               command.settings.replace ? u"replace"_s : QString(),
                               command.settings.actions ? u"actions"_s : QString(),
                               command.settings.watchChoices ? u"watch-choices"_s : QString()};
        set.removeAll(QString());
        if (asks.startsWith(u"usage error: "_s))
            QCOMPARE(command.message, asks.mid(13));
        else
            QCOMPARE(command.kind == Command::Kind::UsageError ? u"usage error"_s : set.join(u' '), asks);
    }

    // Each line of the usage names every option of its form and no other: after the line's own
    // words the parser takes each option in its brackets, and refuses each that only other
    // lines name. And the README's command line block shows the same lines.
    void usageNamesEveryOption()
    {
        const QStringList lines = usageText().section(u"\n\n"_s, 0, 0).split(u'\n').mid(1);
        QList<QStringList> forms; // the form's words, then its options
        static const QRegularExpression bracket(uR"(\[(--[a-z-]+(?: [A-Z]+)?(?: \| --[a-z-]+)*)\])"_s);
        for (const QString &line : lines) {
            if (line.startsWith(u"  devicefinder"_s))
                forms.append({line.mid(15).section(u"  "_s, 0, 0).section(u'[', 0, 0).trimmed()});
            else if (!line.trimmed().startsWith(u'['))
                continue;
            for (const QRegularExpressionMatch &match : bracket.globalMatch(line))
                forms.last() += match.captured(1).split(u" | "_s);
        }
        QStringList named;
        for (const QStringList &form : std::as_const(forms))
            named += form.mid(1);
        named.removeDuplicates();
        QVERIFY(named.contains(u"--arp-rate N"_s) && named.contains(u"--hidden"_s));
        static const QHash<QString, QString> samples{
            {u"RANGE..."_s, u"10.0.0.0/30"_s}, {u"RANGE"_s, u"10.0.0.0/30"_s},      {u"FILE"_s, u"r.txt"_s},
            {u"ADDRESS"_s, u"10.0.0.7"_s},     {u"OLD"_s, u"a.json"_s},             {u"NEW"_s, u"b.json"_s},
            {u"MAC"_s, u"02:00:5e:10:00:11"_s}, {u"TEXT"_s, u"roof"_s},             {u"off|on"_s, u"off"_s},
            {u"FILE|-"_s, u"-"_s},             {u"ADDR"_s, u"10.1.255.255"_s},      {u"PORT"_s, u"47800"_s},
            {u"N"_s, u"3"_s},                  {u"SECONDS"_s, u"600"_s},
            {u"TIME"_s, u"24h"_s}};
        const auto filled = [](const QString &words) {
            QStringList arguments = words.split(u' ', Qt::SkipEmptyParts);
            for (QString &argument : arguments)
                argument = samples.value(argument, argument);
            return arguments;
        };
        for (const QStringList &form : std::as_const(forms)) {
            if (form.first().startsWith(u"--help"_s))
                continue;
            const Command alone = parseCommandLine(filled(form.first()));
            QVERIFY2(alone.kind != Command::Kind::UsageError, qPrintable(form.first() + u": "_s + alone.message));
            for (const QString &option : std::as_const(named)) {
                // --discover adds the broadcasts to a watch of ranges: it comes with one.
                const QString with = option == u"--discover"_s ? u" 10.0.0.0/30"_s : QString();
                const Command command = parseCommandLine(filled(form.first() + u' ' + option + with));
                // A form takes what its brackets list, and what its own words name (scan --local).
                const bool takes = form.contains(option) || form.first().contains(option.section(u' ', 0, 0));
                QVERIFY2((command.kind == alone.kind) == takes,
                         qPrintable(form.first() + u' ' + option + u": "_s + command.message));
            }
        }

        QFile readme(QStringLiteral(DF_SOURCE_DIR "/README.md"));
        QVERIFY(readme.open(QIODevice::ReadOnly));
        const QString block = QString::fromUtf8(readme.readAll()).section(u"## Command line\n\n```\n"_s, 1).section(u"```"_s, 0, 0);
        QStringList shown = lines;
        for (QString &line : shown)
            line = line.mid(2);
        QCOMPARE(block, shown.join(u'\n') + u'\n');
    }

    // A usage error says its line, then the lines of --help of its command's forms (outside any
    // command, a short line for each form, no option named) and where the rest is, on standard
    // error alone.
    void usageError_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("said");
        QTest::addColumn<int>("forms"); // the command's; 0 outside any
        const auto row = [](const char *name, const QString &arguments, const QString &said, int forms) {
            QTest::newRow(name) << arguments.split(u' ') << said << forms;
        };
        row("scan", u"scan 10.0.0.0/30 --report r"_s, u"scan: unknown option '--report'"_s, 3);
        row("watch", u"watch --every 9"_s, u"watch: --every takes a whole number of seconds from 10 to 86400"_s, 1);
        row("label", u"label"_s, u"label takes a MAC address and a label (\"\" to remove it), a MAC address, or --list"_s, 3);
        row("expand", u"expand 10.0.0.1 10.0.0.2"_s, u"expand takes one range"_s, 1);
        row("unknown command", u"frobnicate"_s, u"unknown command 'frobnicate'"_s, 0);
        row("no command", u"--json"_s, u"unknown option '--json'"_s, 0);
    }

    void usageError()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, said);
        QFETCH(int, forms);
        QProcess process;
        process.start(QStringLiteral(DF_BINARY), arguments);
        QVERIFY(process.waitForFinished(30'000));
        QCOMPARE(process.exitCode(), 2);
        QCOMPARE(process.readAllStandardOutput(), QByteArray());
        const QString shown = QString::fromUtf8(process.readAllStandardError());
        QVERIFY2(shown.startsWith(u"devicefinder: "_s + said + u"\nUsage:\n"_s), qPrintable(shown));
        QVERIFY2(shown.endsWith(u"\nTry 'devicefinder --help' for more.\n"_s), qPrintable(shown));
        const QStringList lines = shown.split(u'\n').mid(2, shown.count(u'\n') - 3);
        const QString help = usageText().section(u"\n\n"_s, 0, 0) + u'\n';
        static const QRegularExpression formLine(u"^  devicefinder"_s);
        if (forms == 0) {
            static const QRegularExpression option(uR"(\[--[a-z])"_s);
            QCOMPARE(lines.filter(formLine), lines);
            QCOMPARE(lines.size(), help.split(u'\n').filter(formLine).size());
            QVERIFY(lines.filter(option).isEmpty());
        } else {
            // Its forms' lines whole, as they stand together in --help.
            QVERIFY(lines.first().contains(formLine) && help.contains(u'\n' + lines.join(u'\n') + u"\n  devicefinder"_s));
            QCOMPARE(lines.filter(u"  devicefinder "_s + arguments.first() + u' ').size(), forms);
        }
    }

    // log --since: a span back from now, or a time (local without a zone).
    void since_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QDateTime>("since"); // invalid: refused
        const QDateTime now = QDateTime::fromString(u"2026-12-08T09:00:00Z"_s, Qt::ISODate);
        const QDateTime none;
        const QDate day(2026, 12, 1);
        QTest::newRow("seconds") << u"90s"_s << now.addSecs(-90);
        QTest::newRow("minutes") << u"30m"_s << now.addSecs(-1800);
        QTest::newRow("hours") << u"24h"_s << now.addDays(-1);
        QTest::newRow("days") << u"7d"_s << now.addDays(-7);
        QTest::newRow("weeks") << u"2w"_s << now.addDays(-14);
        QTest::newRow("UTC") << u"2026-12-01T10:00:00Z"_s << QDateTime(day, QTime(10, 0), Qt::UTC);
        QTest::newRow("offset") << u"2026-12-01T10:00+02:00"_s << QDateTime(day, QTime(8, 0), Qt::UTC);
        QTest::newRow("local") << u"2026-12-01T10:00"_s << QDateTime(day, QTime(10, 0));
        QTest::newRow("a date") << u"2026-12-01"_s << QDateTime(day, QTime(0, 0));
        for (const char *refused : {"0s", "24", "24x", "-3h", "24 h", "1000000s", "2026-13-01", "2026-12-01 10:00",
                                    "yesterday", "2026-12-01T25:00"})
            QTest::newRow(refused) << QString::fromLatin1(refused) << none;
    }
    void since()
    {
        QFETCH(QString, text);
        QFETCH(QDateTime, since);
        const std::optional<QDateTime> taken = sinceTime(text, QDateTime::fromString(u"2026-12-08T09:00:00Z"_s, Qt::ISODate));
        QCOMPARE(taken.value_or(QDateTime()), since);
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
        // One range that cannot be expanded, and nothing is asked.
        QTest::newRow("several ranges, one bad") << QStringList{u"scan"_s, u"127.0.0.1"_s, u"127.0.0.0/33"_s} << 2 << QByteArray()
                                                 << QStringList{u"IP Range in single address notation."_s, u"IP Range in CIDR notation."_s}
                                                 << QString();
        QTest::newRow("a watch of a bad range") << QStringList{u"watch"_s, u"127.0.0.0/33"_s, u"--no-history"_s} << 2
                                                << QByteArray() << QStringList{u"IP Range in CIDR notation."_s} << QString();

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
        QFETCH(QString, outputFile);

        QProcess process;
        const QTemporaryDir home;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(u"HOME"_s, home.path());
        environment.remove(u"XDG_DATA_HOME"_s);
        environment.remove(u"XDG_CONFIG_HOME"_s);
        process.setProcessEnvironment(environment);
        if (!outputFile.isEmpty())
            process.setStandardOutputFile(outputFile);
        process.start(QStringLiteral(DF_BINARY), arguments);
        QVERIFY(process.waitForFinished(30'000));
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QTEST(process.exitCode(), "status");
        QTEST(process.readAllStandardOutput(), "out");

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
        QTEST(messages, "logged");
        QCOMPARE(unwritten, outputFile.isEmpty() ? 0 : 1);
    }

    // Whatever a line on standard error repeats (a ranges file's line, an argument, a file's
    // name) is shown as a terminal shows a stranger's text: it can neither turn the line
    // around nor pass the four characters "\x07" for the bell.
    void linesAreShownSafely_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("said");
        QTest::newRow("ranges file") << QStringList{u"scan"_s, u"--ranges-from"_s, u"RANGES"_s}
                                     << u"devicefinder: scan: RANGES, line 1: \"10.0.0.0/33\\u202e\\\\x07\\x07\" cannot be expanded"_s;
        QTest::newRow("option") << QStringList{u"discover"_s, u"--\u202e\\x07\u0007"_s}
                                << u"devicefinder: discover: unknown option '--\\u202e\\\\x07\\x07'"_s;
        QTest::newRow("file name") << QStringList{u"diff"_s, u"gone\u202e\\x07\u0007"_s, u"RANGES"_s}
                                   << u"devicefinder: gone\\u202e\\\\x07\\x07: no such file"_s;
    }

    void linesAreShownSafely()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, said);
        const QTemporaryDir folder;
        const QString path = folder.filePath(u"ranges.txt"_s);
        QVERIFY(writeFile(path, u"10.0.0.0/33\u202e\\x07\u0007\n"_s.toUtf8()));
        arguments.replaceInStrings(u"RANGES"_s, path);
        QProcess process;
        process.setWorkingDirectory(folder.path());
        process.start(QStringLiteral(DF_BINARY), arguments);
        QVERIFY(process.waitForFinished(30'000));
        QCOMPARE(process.exitCode(), 2);
        const QStringList lines = QString::fromUtf8(process.readAllStandardError()).split(u'\n');
        QVERIFY2(lines.contains(said.replace(u"RANGES"_s, path)), qPrintable(lines.join(u'\n')));
    }
};

QTEST_GUILESS_MAIN(TestCommandLine)
#include "tst_commandline.moc"
