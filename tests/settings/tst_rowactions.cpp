#include "settings/rowactions.h"
#include "support/files.h"

#include <QJsonObject>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

QByteArray action(const char *name, const char *command)
{
    return quotes("{'name': '") + name + quotes("', 'command': ") + quotes(command) + "}";
}

} // namespace

class TestRowActions final : public QObject {
    Q_OBJECT

private slots:
    void parse_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("result"); // the actions as "name: argument|argument", or the problem's start
        const QByteArray ssh = action("SSH", "['x-terminal-emulator', '-e', 'ssh', 'admin@{address}']");
        QTest::newRow("the README's") << "[" + ssh + "]" << u"SSH: x-terminal-emulator|-e|ssh|admin@{address}"_s;
        QTest::newRow("doubled braces, an empty argument, other keys")
            << "[" + action(" awk ", "['awk', '{{print}}', ''], 'icon': 1") + "," + ssh + "]"
            << u"awk: awk|{{print}}| / SSH: x-terminal-emulator|-e|ssh|admin@{address}"_s;
        QTest::newRow("not a list") << quotes("{'name': 'SSH'}") << u"not a list of actions"_s;
        QTest::newRow("truncated") << "[" + ssh << u"not JSON: truncated"_s;
        QTest::newRow("no name") << quotes("[{'command': ['ls']}]") << u"action 1: no \"name\""_s;
        QTest::newRow("a name with a zero-width space") << "[" + action("SSH\u200b", "['ls']") + "]" << u"action 1: no \"name\""_s;
        QTest::newRow("an unknown placeholder, in the second action")
            << "[" + ssh + "," + action("b", "['ssh', '{adress}']") + "]" << u"action 2: argument 2: unknown placeholder {adress}"_s;
        QTest::newRow("a lone {") << "[" + action("a", "['echo', '{address']") + "]" << u"action 1: argument 2: a lone '{'"_s;
        QTest::newRow("a placeholder as the program") << "[" + action("a", "['/usr/bin/{hostname}']") + "]"
                                                      << u"action 1: the program (argument 1) must be"_s;
        QTest::newRow("a name of the menu's own, written another way")
            << QByteArray("[{\"name\": \" DON'T  &watch\", \"command\": [\"ls\"]}]")
            << u"action 1: \"DON'T  &watch\" is the name of one of the menu's own items"_s;
        // A letter of another script that passes for a Latin one.
        QTest::newRow("a Cyrillic O") << "[" + action("\u041epen in Browser", "['ls']") + "]"
                                      << u"action 1: \"\u041epen in Browser\" mixes Latin letters with Cyrillic or Greek "
                                         "ones (U+041E)"_s;
        QTest::newRow("a Greek omicron") << "[" + action("C\u03bfpy Address", "['ls']") + "]" << u"action 1: \"C\u03bfpy"_s;
        QTest::newRow("mixed, a name of its own") << "[" + action("SSH \u043d\u0430 VPN", "['ssh']") + "]" << u"action 1: \"SSH"_s;
        QTest::newRow("a Cyrillic name of its own") << "[" + action("\u041f\u0438\u043d\u0433", "['ping']") + "]"
                                                    << u"\u041f\u0438\u043d\u0433: ping"_s;
        QTest::newRow("51 actions") << "[" + QByteArrayList(51, action("a", "['ls']")).join(',') + "]"
                                    << u"more than 50 actions"_s;
        QTest::newRow("too large") << "[" + QByteArray(maxActionsFileBytes, ' ') + "]" << u"larger than 256 KiB"_s;
    }

    void parse()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, result);
        const RowActionsFile file = parseRowActions(bytes);
        QStringList actions;
        for (const RowAction &action : file.actions)
            actions.append(action.name + u": "_s + action.command.join(u'|'));
        const QString found = file.problem.isEmpty() ? actions.join(u" / "_s) : file.problem;
        QVERIFY2(file.problem.isEmpty() ? found == result : found.startsWith(result), qPrintable(found));
        QVERIFY(file.problem.isEmpty() || file.actions.isEmpty());
    }

    // Names a person reads as one compare equal.
    void nameKey_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("other");
        QTest::addColumn<bool>("same");
        QTest::newRow("Cyrillic look-alikes") << u"\u0405\u0405\u041d"_s << u"ssh"_s << true;
        QTest::newRow("Greek look-alikes") << u"\u039c\u0391\u03a7"_s << u"Max"_s << true;
        QTest::newRow("another name") << u"\u041f\u0438\u043d\u0433"_s << u"Ping"_s << false;
    }
    void nameKey()
    {
        QFETCH(QString, name);
        QFETCH(QString, other);
        QTEST(actionNameKey(name) == actionNameKey(other), "same");
    }

    // Whatever a device sent stays inside its one argument, and never starts one as an option.
    void expand_data()
    {
        QTest::addColumn<QString>("command"); // arguments separated by " "; the label is "roof"
        QTest::addColumn<QJsonObject>("record");
        QTest::addColumn<QStringList>("arguments"); // or the reason it is not offered
        const auto row = [](const char *name, const QString &command, const QJsonObject &record, const QStringList &arguments) {
            QTest::newRow(name) << command << record << arguments;
        };
        const auto host = [](const QString &hostname) {
            return QJsonObject{{u"ipAddress"_s, u"10.0.0.5"_s}, {u"macAddress"_s, u"00-80-A3-1B-2C-3D"_s},
                               {u"serialNumber"_s, u"0080A31B"_s}, {u"hostname"_s, hostname}};
        };
        row("every placeholder", u"tool admin@{address} {mac} {{{hostname}}} {serial}/{label}"_s, host(u"gw"_s),
            {u"tool"_s, u"admin@10.0.0.5"_s, u"00:80:a3:1b:2c:3d"_s, u"{gw}"_s, u"0080A31B/roof"_s});
        const QString shell = u"x; rm -rf ~ $(reboot) `id` 'a' \" |&>"_s;
        row("shell text", u"ssh {hostname}"_s, host(shell), {u"ssh"_s, shell});
        row("a placeholder in a value is text", u"echo {hostname}"_s, host(u"{address}{{"_s), {u"echo"_s, u"{address}{{"_s});
        row("an option as host name", u"ssh {hostname}"_s, host(u"-oProxyCommand=reboot"_s), {u"the host name starts with '-'"_s});
        row("a dash inside an argument", u"tool --host={hostname}"_s, host(u"-x"_s), {u"tool"_s, u"--host=-x"_s});
        row("a line break", u"echo {hostname}"_s, host(u"a\nb"_s), {u"the host name holds a control or invisible character"_s});
        row("a direction override", u"echo {hostname}"_s, host(u"txt\u202eexe"_s),
            {u"the host name holds a control or invisible character"_s});
        row("a huge host name", u"echo {hostname}"_s, host(QString(5000, u'x')), {u"the host name is longer than 4096 characters"_s});
        row("no host name", u"echo {hostname}"_s, host({}), {u"no host name"_s});
        row("an address written another way", u"ping {address}"_s, {{u"ipAddress"_s, u"010.0.0.5"_s}}, {u"no IP address"_s});
        row("a malformed MAC", u"wake {mac}"_s, {{u"macAddress"_s, u"00:80:a3:1b:2c"_s}}, {u"no MAC address"_s});
    }

    void expand()
    {
        QFETCH(QString, command);
        QFETCH(QJsonObject, record);
        QFETCH(QStringList, arguments);
        const ExpandedCommand expanded = expandCommand(command.split(u' '), DeviceRecord(record), u"roof"_s);
        QCOMPARE(expanded.unavailable.isEmpty() ? expanded.arguments : QStringList{expanded.unavailable}, arguments);
        QVERIFY(expanded.unavailable.isEmpty() != expanded.arguments.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestRowActions)
#include "tst_rowactions.moc"
