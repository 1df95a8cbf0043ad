#include "app/commandline.h"

#include <QHostAddress>
#include <QRegularExpression>

namespace {

Command ofKind(Command::Kind kind)
{
    Command command;
    command.kind = kind;
    return command;
}

Command usageError(const QString &message)
{
    Command command = ofKind(Command::Kind::UsageError);
    command.message = message;
    return command;
}

bool isDottedQuad(const QString &text)
{
    QHostAddress address;
    return address.setAddress(text) && address.protocol() == QAbstractSocket::IPv4Protocol
           && address.toString() == text;
}

// A local UDP port: 1 to 65535, in plain decimal.
std::optional<quint16> portNumber(const QString &text)
{
    bool ok = false;
    const uint port = text.toUInt(&ok);
    if (!ok || port < 1 || port > 65535 || text.startsWith(u'0') || text.startsWith(u'+'))
        return std::nullopt;
    return quint16(port);
}

// --reply-port and its value, taken from the front of `arguments`.
std::optional<QString> readReplyPort(QStringList &arguments, Command &command)
{
    const std::optional<quint16> port = arguments.isEmpty() ? std::nullopt : portNumber(arguments.takeFirst());
    if (!port)
        return QStringLiteral("--reply-port takes a UDP port number from 1 to 65535");
    command.replyPort = *port;
    return std::nullopt;
}

// The options after the command word: --json and --csv for every command that prints the
// device list, --broadcast, --reply-port and --report for the ones that broadcast, --local
// for scan; the rest are its operands.
std::optional<QString> readOptions(QStringList arguments, bool broadcasts, Command &command, QStringList &operands)
{
    bool formatGiven = false;
    while (!arguments.isEmpty()) {
        const QString argument = arguments.takeFirst();
        if (argument == u"--json" || argument == u"--csv") {
            if (formatGiven)
                return QStringLiteral("give one of --json and --csv");
            formatGiven = true;
            command.format = argument == u"--json" ? OutputFormat::Json : OutputFormat::Csv;
        } else if (argument == u"--broadcast" && broadcasts) {
            if (arguments.isEmpty())
                return QStringLiteral("--broadcast takes an IPv4 address");
            command.broadcastAddress = arguments.takeFirst();
            if (!isDottedQuad(command.broadcastAddress))
                return QStringLiteral("--broadcast takes an IPv4 address such as 192.168.1.255, not '%1'")
                    .arg(command.broadcastAddress);
        } else if (argument == u"--reply-port" && broadcasts) {
            if (const std::optional<QString> problem = readReplyPort(arguments, command))
                return problem;
        } else if (argument == u"--report" && broadcasts) {
            // "-" is standard error; anything else that starts with "-" is an option left without its file.
            if (arguments.isEmpty() || arguments.first().isEmpty()
                || (arguments.first().startsWith(u'-') && arguments.first() != u"-"))
                return QStringLiteral("--report takes a file name, or - for standard error");
            command.reportFile = arguments.takeFirst();
        } else if (argument == u"--local" && command.kind == Command::Kind::Scan) {
            command.localNetworks = true;
        } else if (argument.startsWith(u"--")) {
            return QStringLiteral("unknown option '%1'").arg(argument);
        } else {
            operands.append(argument);
        }
    }
    return std::nullopt;
}

Command withOperands(Command::Kind kind, const QStringList &arguments)
{
    Command command = ofKind(kind);
    const QString name = arguments.first();
    QStringList operands;
    if (const std::optional<QString> problem = readOptions(arguments.mid(1), kind == Command::Kind::Discover, command, operands))
        return usageError(QStringLiteral("%1: %2").arg(name, *problem));
    const qsizetype wanted = kind == Command::Kind::Discover || command.localNetworks ? 0 : 1;
    if (operands.size() != wanted) {
        if (kind == Command::Kind::Discover)
            return usageError(QStringLiteral("discover takes no range or address"));
        return usageError(kind == Command::Kind::Probe ? QStringLiteral("probe takes one address")
                                                       : QStringLiteral("scan takes one range, or --local"));
    }
    if (wanted == 1)
        command.argument = operands.first();
    if (kind == Command::Kind::Probe && !isProbeAddress(command.argument))
        return usageError(QStringLiteral("probe takes an IPv4 address (four numbers of 0 to 255 without leading "
                                         "zeros) or a host name, each with an optional :PORT; not '%1'")
                              .arg(command.argument));
    return command;
}

} // namespace

Command parseCommandLine(const QStringList &arguments)
{
    if (arguments.isEmpty())
        return {};
    const QString &first = arguments.first();
    if (arguments.size() == 1 && (first == u"--help" || first == u"-h"))
        return ofKind(Command::Kind::Help);
    if (arguments.size() == 1 && first == u"--version")
        return ofKind(Command::Kind::Version);
    if (first == u"--broadcast" || first == u"--reply-port") {
        Command command;
        QStringList rest = arguments;
        while (!rest.isEmpty()) {
            const QString option = rest.takeFirst();
            if (option == u"--reply-port") {
                if (const std::optional<QString> problem = readReplyPort(rest, command))
                    return usageError(*problem);
            } else if (option == u"--broadcast" && !rest.isEmpty() && isDottedQuad(rest.first())) {
                command.broadcastAddress = rest.takeFirst();
            } else {
                return usageError(QStringLiteral("--broadcast takes one IPv4 address such as 192.168.1.255"));
            }
        }
        return command;
    }
    if (first == u"expand") {
        if (arguments.size() != 2)
            return usageError(QStringLiteral("expand takes one range"));
        Command command = ofKind(Command::Kind::Expand);
        command.argument = arguments.at(1);
        return command;
    }
    if (first == u"discover")
        return withOperands(Command::Kind::Discover, arguments);
    if (first == u"scan")
        return withOperands(Command::Kind::Scan, arguments);
    if (first == u"probe")
        return withOperands(Command::Kind::Probe, arguments);
    return usageError(QStringLiteral("unknown command '%1'").arg(first));
}

bool isProbeAddress(const QString &text)
{
    static const QRegularExpression form(QStringLiteral("^([^:]+)(?::(\\d{1,5}))?$"));
    static const QRegularExpression hostName(
        QStringLiteral("^(?=.{1,253}$)[A-Za-z0-9](?:[A-Za-z0-9-]{0,61}[A-Za-z0-9])?"
                       "(?:\\.[A-Za-z0-9](?:[A-Za-z0-9-]{0,61}[A-Za-z0-9])?)*$"));
    static const QRegularExpression digitsAndDots(QStringLiteral("^[0-9.]+$"));
    const QRegularExpressionMatch match = form.match(text);
    if (!match.hasMatch())
        return false;
    const QString port = match.captured(2);
    if (!port.isEmpty() && (port.toInt() < 1 || port.toInt() > 65535 || port.startsWith(u'0')))
        return false;
    const QString host = match.captured(1);
    if (digitsAndDots.match(host).hasMatch())
        return isDottedQuad(host);
    return hostName.match(host).hasMatch();
}

QString usageText()
{
    return QStringLiteral(
        "Usage:\n"
        "  devicefinder [--broadcast ADDR] [--reply-port PORT]\n"
        "                                     the window (a discovery run starts when it opens)\n"
        "  devicefinder discover [--json | --csv] [--broadcast ADDR] [--reply-port PORT]\n"
        "                        [--report FILE]\n"
        "                                     one discovery run; prints the devices found\n"
        "  devicefinder scan RANGE [--json | --csv]\n"
        "                                     one scan of the range; prints the devices found\n"
        "  devicefinder scan --local [--json | --csv]\n"
        "                                     scans each of this computer's networks in turn;\n"
        "                                     prints the devices found, in one list\n"
        "  devicefinder probe ADDRESS [--json | --csv]\n"
        "                                     asks one address for its details; prints the device\n"
        "  devicefinder expand RANGE          prints the addresses a range covers, one a line\n"
        "  devicefinder --help | --version\n"
        "\n"
        "RANGE is a CIDR block (192.168.1.1/24), a dash range on the last octet\n"
        "(192.168.1.10-20) or a single address (192.168.1.7). ADDRESS is an IPv4 address or a\n"
        "host name, with an optional :PORT. Discovery broadcasts go to 255.255.255.255 out of\n"
        "every network interface, or once to the ADDR of --broadcast (such as 192.168.1.255).\n"
        "The devices answer to a UDP port the system picks, or to PORT (1 to 65535) with\n"
        "--reply-port: let UDP to that port in through a firewall, and the replies arrive.\n"
        "\n"
        "--report FILE writes what the discovery run sent and heard on each interface, and why\n"
        "each device that answered is not listed, as JSON to FILE (- for standard error).\n"
        "scan --local scans the networks of the interfaces that are up, loopback left out; a\n"
        "network wider than a /16 is scanned as the /24 around this computer's address.\n"
        "\n"
        "The device list goes to standard output, as a table, as JSON (--json) or as CSV\n"
        "(--csv); log lines go to standard error.\n"
        "\n"
        "Ctrl+C (SIGINT) or SIGTERM stops a discover or scan run: the devices found so far are\n"
        "printed as usual, and a second Ctrl+C quits at once. In the window, Stop, Escape or\n"
        "Run > Stop stops the run and keeps its devices.\n"
        "\n"
        "Exit status: 0 on success; 1 when probe finds no device or the output cannot be\n"
        "written; 2 for a usage error or a range that cannot be expanded; 130 after Ctrl+C\n"
        "(SIGINT) and 143 after SIGTERM.\n");
}
