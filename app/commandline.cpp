#include "app/commandline.h"

#include "platform/addresstext.h"

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

// The options a command takes besides its operands.
enum Option : unsigned {
    Formats = 1,    // --json, --csv
    JsonOnly = 2,   // --json
    Broadcasts = 4, // --broadcast, --reply-port
    History = 8,    // --no-history
    Changes = 16,   // --changes
    Every = 32,     // --every
    Report = 64,    // --report
    Local = 128,    // --local, --ranges-from
    Rules = 256,    // --missing-after, --flap-changes, --flap-window, --metrics, --notify
    Pace = 512,     // --arp-rate
    Discover = 1024, // --discover
};

// A range watch's ARP pace without --arp-rate: a /24 in about 5 s, gentle on any switch.
constexpr quint32 rangeWatchArpRate = 100;

// ARP requests a second: from one (an address the kernel looks for takes three seconds then)
// to far more than any link needs.
constexpr int maxArpRate = 100'000;

// A whole number from `low` to `high`, taken from the front of `arguments`.
std::optional<int> wholeNumber(QStringList &arguments, int low, int high)
{
    bool ok = false;
    const int number = arguments.isEmpty() ? 0 : arguments.takeFirst().toInt(&ok);
    if (!ok || number < low || number > high)
        return std::nullopt;
    return number;
}

// Flapping: at least two changes; a window from a minute to a week.
constexpr int minFlapChanges = 2;
constexpr int maxFlapChanges = 1000;
constexpr int minFlapWindow = 60;
constexpr int maxFlapWindow = 604'800;

// Watch: at least 10 s apart, so that a run ends before the next starts; at most a day.
constexpr int minEverySeconds = 10;
constexpr int maxEverySeconds = 86'400;

// The options after the command word, those `accepted` names; the rest are its operands.
std::optional<QString> readOptions(QStringList arguments, unsigned accepted, Command &command, QStringList &operands)
{
    const bool broadcasts = accepted & Broadcasts;
    bool formatGiven = false;
    while (!arguments.isEmpty()) {
        const QString argument = arguments.takeFirst();
        if ((argument == u"--json" && (accepted & (Formats | JsonOnly))) || (argument == u"--csv" && (accepted & Formats))) {
            if (formatGiven)
                return QStringLiteral("give one of --json and --csv");
            formatGiven = true;
            command.format = argument == u"--json" ? OutputFormat::Json : OutputFormat::Csv;
        } else if (argument == u"--broadcast" && broadcasts) {
            if (arguments.isEmpty())
                return QStringLiteral("--broadcast takes an IPv4 address");
            const QString address = arguments.takeFirst();
            command.broadcastAddress = addressFromText(address);
            if (!command.broadcastAddress.ipv4())
                return QStringLiteral("--broadcast takes an IPv4 address such as 192.168.1.255, not '%1'").arg(address);
        } else if (argument == u"--reply-port" && broadcasts) {
            if (const std::optional<QString> problem = readReplyPort(arguments, command))
                return problem;
        } else if (argument == u"--no-history" && (accepted & History)) {
            command.noHistory = true;
        } else if (argument == u"--changes" && (accepted & Changes)) {
            command.changes = true;
        } else if (argument == u"--every" && (accepted & Every)) {
            bool ok = false;
            command.everySeconds = arguments.isEmpty() ? 0 : arguments.takeFirst().toInt(&ok);
            if (!ok || command.everySeconds < minEverySeconds || command.everySeconds > maxEverySeconds)
                return QStringLiteral("--every takes a whole number of seconds from %1 to %2")
                    .arg(minEverySeconds)
                    .arg(maxEverySeconds);
        } else if (argument == u"--missing-after" && (accepted & Rules)) {
            const std::optional<int> runs = wholeNumber(arguments, WatchRule::minMissingAfter, WatchRule::maxMissingAfter);
            if (!runs)
                return QStringLiteral("--missing-after takes a whole number of runs from %1 to %2")
                    .arg(WatchRule::minMissingAfter)
                    .arg(WatchRule::maxMissingAfter);
            command.watchRule.missingAfter = *runs;
        } else if (argument == u"--flap-changes" && (accepted & Rules)) {
            const std::optional<int> changes = wholeNumber(arguments, minFlapChanges, maxFlapChanges);
            if (!changes)
                return QStringLiteral("--flap-changes takes a whole number from %1 to %2").arg(minFlapChanges).arg(maxFlapChanges);
            command.watchRule.flapChanges = *changes;
        } else if (argument == u"--flap-window" && (accepted & Rules)) {
            const std::optional<int> seconds = wholeNumber(arguments, minFlapWindow, maxFlapWindow);
            if (!seconds)
                return QStringLiteral("--flap-window takes a whole number of seconds from %1 to %2")
                    .arg(minFlapWindow)
                    .arg(maxFlapWindow);
            command.watchRule.flapWindow = std::chrono::seconds(*seconds);
        } else if (argument == u"--metrics" && (accepted & Rules)) {
            if (arguments.isEmpty() || arguments.first().isEmpty() || arguments.first().startsWith(u'-'))
                return QStringLiteral("--metrics takes a file name");
            command.metricsFile = arguments.takeFirst();
        } else if (argument == u"--notify" && (accepted & Rules)) {
            command.notify = true;
        } else if (argument == u"--report" && (accepted & Report)) {
            // "-" is standard error; anything else that starts with "-" is an option left without its file.
            if (arguments.isEmpty() || arguments.first().isEmpty()
                || (arguments.first().startsWith(u'-') && arguments.first() != u"-"))
                return QStringLiteral("--report takes a file name, or - for standard error");
            command.reportFile = arguments.takeFirst();
        } else if (argument == u"--arp-rate" && (accepted & Pace)) {
            const std::optional<int> rate = wholeNumber(arguments, 1, maxArpRate);
            if (!rate)
                return QStringLiteral("--arp-rate takes a whole number of ARP requests a second from 1 to %1")
                    .arg(maxArpRate);
            command.arpRate = quint32(*rate);
        } else if (argument == u"--discover" && (accepted & Discover)) {
            command.discover = true;
        } else if (argument == u"--local" && (accepted & Local)) {
            command.localNetworks = true;
        } else if (argument == u"--ranges-from" && (accepted & Local)) {
            if (arguments.isEmpty() || arguments.first().isEmpty()
                || (arguments.first().startsWith(u'-') && arguments.first() != u"-"))
                return QStringLiteral("--ranges-from takes a file name, or - for standard input");
            command.rangesFile = arguments.takeFirst();
        } else if (argument.startsWith(u"--")) {
            return QStringLiteral("unknown option '%1'").arg(argument);
        } else {
            operands.append(argument);
        }
    }
    if (command.changes && command.noHistory)
        return QStringLiteral("--changes compares with the history, which --no-history leaves alone");
    return std::nullopt;
}

Command withOperands(Command::Kind kind, const QStringList &arguments)
{
    using K = Command::Kind;
    Command command = ofKind(kind);
    const QString name = arguments.first();
    QStringList operands;
    QStringList options = arguments.mid(1);
    // watch [options] -- PROGRAM [ARG...]: whatever follows "--" is the program's, as it is.
    if (const qsizetype end = options.indexOf(QStringLiteral("--")); kind == K::Watch && end >= 0) {
        command.program = options.mid(end + 1);
        options = options.first(end);
        if (command.program.isEmpty() || command.program.first().isEmpty())
            return usageError(QStringLiteral("watch: -- takes the program to run for each event"));
    }
    const unsigned accepted = kind == K::Discover ? Formats | Broadcasts | History | Changes | Report
                              : kind == K::Scan   ? Formats | History | Changes | Local | Pace
                              : kind == K::Probe  ? Formats
                              : kind == K::Diff   ? JsonOnly
                                                  : Broadcasts | History | Every | Rules | Pace | Local | Discover;
    if (const std::optional<QString> problem = readOptions(options, accepted, command, operands))
        return usageError(QStringLiteral("%1: %2").arg(name, *problem));
    if (kind == K::Scan || kind == K::Watch) {
        // Ranges as operands, in a file, or the computer's own networks: one of the three
        // (a watch without any discovers).
        const int sources = int(!operands.isEmpty()) + int(!command.rangesFile.isEmpty()) + int(command.localNetworks);
        if (sources > 1 || (kind == K::Scan && sources == 0))
            return usageError(QStringLiteral("%1 takes ranges, --ranges-from FILE or --local").arg(name));
        command.ranges = operands;
        if (kind == K::Scan)
            return command;
        if (sources == 0 && command.discover)
            return usageError(QStringLiteral("watch: --discover adds the broadcasts to a watch of ranges"));
        const bool broadcastOptions = command.broadcastAddress.ipv4() || command.replyPort != 0;
        if (sources == 1 && broadcastOptions && !command.discover)
            return usageError(QStringLiteral("watch: --broadcast and --reply-port need --discover with ranges"));
        if (sources == 1 && command.arpRate == 0)
            command.arpRate = rangeWatchArpRate;
        return command;
    }
    const qsizetype wanted = kind == K::Discover || kind == K::Watch ? 0 : kind == K::Diff ? 2 : 1;
    if (operands.size() != wanted) {
        if (wanted == 0)
            return usageError(QStringLiteral("%1 takes no range or address").arg(name));
        if (kind == K::Diff)
            return usageError(QStringLiteral("diff takes two files, the older device list and the newer one"));
        return usageError(QStringLiteral("probe takes one address"));
    }
    if (wanted == 1)
        command.argument = operands.first();
    command.files = kind == K::Diff ? operands : QStringList();
    if (kind == Command::Kind::Probe) {
        // Texts such as "010.0.0.1" or "192.168.1.260" are refused: a URL would read them as
        // another address or as a name to look up.
        const std::optional<Address> address = addressFromHostPort(command.argument);
        if (!address)
            return usageError(QStringLiteral("probe takes an IPv4 address (four numbers of 0 to 255 without leading "
                                             "zeros) or a host name, each with an optional :PORT; not '%1'")
                                  .arg(command.argument));
        command.probeAddress = *address;
    }
    return command;
}

// label MAC TEXT, label MAC, label --list [--json]. The text is taken as it is, whatever it
// starts with: a label is no option.
Command labelCommand(const QStringList &operands)
{
    Command command = ofKind(Command::Kind::Label);
    LabelRequest &request = command.label;
    if (!operands.isEmpty() && operands.first() == u"--list") {
        request.action = LabelRequest::Action::List;
        request.json = operands.size() == 2 && operands.at(1) == u"--json";
        if (operands.size() > 1 + int(request.json))
            return usageError(QStringLiteral("label --list takes only --json"));
        return command;
    }
    if (operands.size() == 3 && operands.at(1) == u"--watch") {
        if (operands.at(2) != u"on" && operands.at(2) != u"off")
            return usageError(QStringLiteral("label MAC --watch takes on or off"));
        request.action = LabelRequest::Action::Watch;
        request.macAddress = operands.first();
        request.watched = operands.at(2) == u"on";
        return command;
    }
    if (operands.isEmpty() || operands.size() > 2 || operands.first().startsWith(u"--"))
        return usageError(QStringLiteral("label takes a MAC address and a label (\"\" to remove it), a MAC address, "
                                         "or --list"));
    request.action = operands.size() == 2 ? LabelRequest::Action::Set : LabelRequest::Action::Print;
    request.macAddress = operands.first();
    request.label = operands.value(1);
    return command;
}

// settings export FILE|-, settings import FILE|- [--replace] [--actions].
Command settingsCommand(QStringList operands)
{
    Command command = ofKind(Command::Kind::Settings);
    SettingsRequest &request = command.settings;
    request.import = operands.value(0) == u"import";
    request.replace = request.import && operands.removeAll(QStringLiteral("--replace")) == 1;
    request.actions = request.import && operands.removeAll(QStringLiteral("--actions")) == 1;
    if (operands.size() != 2 || (operands.first() != u"export" && operands.first() != u"import") || operands.at(1).isEmpty()
        || (operands.at(1).startsWith(u'-') && operands.at(1) != u"-"))
        return usageError(QStringLiteral("settings takes export FILE, or import FILE [--replace] [--actions]; - for "
                                         "standard output or input"));
    request.file = operands.at(1);
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
    if (first == u"--broadcast" || first == u"--reply-port" || first == u"--no-history" || first == u"--hidden") {
        Command command;
        QStringList rest = arguments;
        while (!rest.isEmpty()) {
            const QString option = rest.takeFirst();
            if (option == u"--no-history") {
                command.noHistory = true;
            } else if (option == u"--hidden") {
                command.hidden = true;
            } else if (option == u"--reply-port") {
                if (const std::optional<QString> problem = readReplyPort(rest, command))
                    return usageError(*problem);
            } else if (option == u"--broadcast") {
                command.broadcastAddress = rest.isEmpty() ? Address() : addressFromText(rest.takeFirst());
                if (!command.broadcastAddress.ipv4())
                    return usageError(QStringLiteral("--broadcast takes one IPv4 address such as 192.168.1.255"));
            } else {
                return usageError(QStringLiteral("unknown option '%1'").arg(option));
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
    if (first == u"diff")
        return withOperands(Command::Kind::Diff, arguments);
    if (first == u"watch")
        return withOperands(Command::Kind::Watch, arguments);
    if (first == u"label")
        return labelCommand(arguments.mid(1));
    if (first == u"settings")
        return settingsCommand(arguments.mid(1));
    return usageError(QStringLiteral("unknown command '%1'").arg(first));
}

QString usageText()
{
    return QStringLiteral(
        "Usage:\n"
        "  devicefinder [--broadcast ADDR] [--reply-port PORT] [--no-history] [--hidden]\n"
        "                                     the window (a discovery run starts when it opens);\n"
        "                                     --hidden watches in the tray, the window shown\n"
        "                                     only when the desktop has no tray\n"
        "  devicefinder discover [--changes] [--json | --csv] [--broadcast ADDR]\n"
        "                        [--reply-port PORT] [--report FILE] [--no-history]\n"
        "                                     one discovery run; prints the devices found\n"
        "  devicefinder scan RANGE... [--changes] [--json | --csv] [--no-history] [--arp-rate N]\n"
        "                                     one scan of the ranges; prints the devices found\n"
        "  devicefinder scan --ranges-from FILE [--changes] [--json | --csv] [--no-history]\n"
        "                                     the same, one range a line of FILE (- for\n"
        "                                     standard input)\n"
        "  devicefinder scan --local [--changes] [--json | --csv] [--no-history]\n"
        "                                     scans each of this computer's networks in turn;\n"
        "                                     prints the devices found, in one list\n"
        "  devicefinder probe ADDRESS [--json | --csv]\n"
        "                                     asks one address for its details; prints the device\n"
        "  devicefinder expand RANGE          prints the addresses a range covers, one a line\n"
        "  devicefinder diff OLD NEW [--json] compares two device lists saved earlier\n"
        "  devicefinder label MAC TEXT        gives the device with this MAC address a label\n"
        "                                     (\"\" removes it); label MAC prints it\n"
        "  devicefinder label MAC --watch off|on\n"
        "                                     leaves the device out of watching, or not\n"
        "  devicefinder label --list [--json] prints every label and watch choice\n"
        "  devicefinder watch [RANGE... | --ranges-from FILE | --local] [--discover]\n"
        "                     [--every SECONDS] [--missing-after N] [--flap-changes N]\n"
        "                     [--flap-window SECONDS] [--notify] [--metrics FILE]\n"
        "                     [--broadcast ADDR] [--reply-port PORT]\n"
        "                     [--no-history] [--arp-rate N] [-- PROGRAM [ARG...]]\n"
        "                                     a discovery run every SECONDS (60; at least 10),\n"
        "                                     or a scan of the ranges (--discover: both, as one\n"
        "                                     run); prints each change as one JSON line, and\n"
        "                                     runs PROGRAM for each\n"
        "  devicefinder settings export FILE|-\n"
        "                                     writes labels, watch choices, actions and the\n"
        "                                     window's choices as one JSON document\n"
        "  devicefinder settings import FILE|- [--replace] [--actions]\n"
        "                                     merges such a document; what is here wins\n"
        "                                     unless --replace, each conflict one line;\n"
        "                                     its actions (programs) only with --actions\n"
        "  devicefinder --help | --version\n"
        "\n"
        "RANGE is a CIDR block (192.168.1.1/24), a dash range on the last octet\n"
        "(192.168.1.10-20) or a single address (192.168.1.7). Several ranges make one scan, each\n"
        "address asked once, in the order given (at most 16,777,216 in all); a FILE of ranges\n"
        "holds one a line, with # comments and blank lines. ADDRESS is an IPv4 address or a\n"
        "host name, with an optional :PORT. Discovery broadcasts go to 255.255.255.255 out of\n"
        "every network interface, or once to the ADDR of --broadcast (such as 192.168.1.255).\n"
        "The devices answer to a UDP port the system picks, or to PORT (1 to 65535) with\n"
        "--reply-port: let UDP to that port in through a firewall, and the replies arrive.\n"
        "\n"
        "--report FILE writes what the discovery run sent and heard on each interface, and why\n"
        "each device that answered is not listed, as JSON to FILE (- for standard error).\n"
        "--arp-rate N: at most N ARP requests leave in any second for a scan's addresses on this\n"
        "computer's links (the kernel asks three times for each; devicefinder-arp up to twice,\n"
        "never more than 2,000 a second): for switches with ARP inspection (15 a second) and\n"
        "slow wireless bridges.\n"
        "scan --local scans the networks of the interfaces that are up and have a carrier,\n"
        "loopback and self-assigned addresses left out; a network wider than a /22 is scanned\n"
        "as the /24 around this computer's address. A log line says why each is taken or left.\n"
        "\n"
        "The device list goes to standard output, as a table, as JSON (--json) or as CSV\n"
        "(--csv), each device with your label (\"label\" in JSON, a last \"Label\" column); log\n"
        "lines go to standard error. Labels (at most 200 characters, one line) are kept by MAC\n"
        "address in ~/.local/share/devicefinder/labels.json, also with --no-history.\n"
        "\n"
        "Every completed run records its devices, by MAC address, in the device history\n"
        "(~/.local/share/devicefinder/history.json): when each was first and last seen, and\n"
        "where. --no-history neither reads nor writes it. With --changes, discover and scan\n"
        "print only what changed against it: new devices (never seen before), missing ones\n"
        "(a discovery: seen by the previous completed discovery, not by this one; a scan: last\n"
        "seen inside its ranges, not there now) and moved ones (at another address); with\n"
        "--json as one object {\"new\", \"missing\", \"moved\", \"since\"}. A run that could\n"
        "ask nobody (its reply port taken, no interface to broadcast on, no route) prints no\n"
        "list, says why and exits 1, and leaves the history as it was. diff compares two\n"
        "files of --json output, window exports or histories (- for standard input) by MAC\n"
        "address:\n"
        "new, missing, moved and changed (another host name or firmware). watch prints\n"
        "{\"time\", \"event\", \"device\"} lines, the event new, missing (after N runs in a row\n"
        "without the device: --missing-after, 2), moved, back, flapping or steady. A device\n"
        "whose presence changes --flap-changes times (4) within --flap-window seconds (3600)\n"
        "is reported once as flapping, then not until it has been steady for the window,\n"
        "when one steady event (\"present\" true or false) says how it is. The window's\n"
        "notifications and its missing list follow the same rule. A device left out with\n"
        "label MAC --watch off gives no event. PROGRAM runs once per event, one at a time,\n"
        "without a shell: the event's line on its standard input, DF_EVENT, DF_MAC,\n"
        "DF_ADDRESS, DF_FROM (moved), DF_PRESENT (steady), DF_HOSTNAME and DF_LABEL in its\n"
        "environment; it is ended after 30 s. --notify shows each run's changes as a desktop\n"
        "notification. --metrics FILE rewrites FILE whole after every run in the Prometheus\n"
        "text format: devicefinder_device_up{mac,address,label} 1 or 0 (missing) per device,\n"
        "and the run's time and duration. A watch of ranges judges only the devices last seen\n"
        "inside them, and keeps 100 ARP requests a second unless --arp-rate says otherwise;\n"
        "--broadcast and --reply-port need --discover there. Every watch asks a known device\n"
        "that did not answer once at its last address (GET /info) before it counts as absent.\n"
        "\n"
        "Ctrl+C (SIGINT) or SIGTERM stops a discover or scan run: the devices found so far are\n"
        "printed as usual, and a second Ctrl+C quits at once. In the window, Stop, Escape or\n"
        "Run > Stop stops the run and keeps its devices. Ctrl+C ends watch, and so does the\n"
        "end of whatever reads it.\n"
        "\n"
        "Exit status: 0 on success; 1 when probe finds no device, a run could ask nobody, or\n"
        "the output cannot be written; 2 for a usage error or a range that cannot be\n"
        "expanded; 130 after Ctrl+C (SIGINT) and 143 after SIGTERM. diff: 0 when the lists\n"
        "hold the same devices, 1 when they differ, 2 when a file cannot be read. settings\n"
        "import: 2 when the file is not a settings document, over 16 MiB or over 10,000\n"
        "labels, or names an action as one of the row menu's own; 1 when the settings here\n"
        "could not be written; either way nothing is changed.\n");
}
