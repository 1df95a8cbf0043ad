#include "app/commandline.h"

#include "app/commandlineoption.h"

namespace {

using F = CommandForm;

// One line of the usage: the form's own words after the program's name, what follows its
// options, and what it does. Its options come from the options table.
struct UsageLine final {
    CommandForm form;
    const char *words;
    const char *tail;
    const char *does;
};

constexpr UsageLine usageLines[] = {
    {F::Window, "", "",
     "the window (a discovery run starts when it opens); --hidden watches in the tray, the window shown only when the "
     "desktop has no tray"},
    {F::Discover, "discover", "", "one discovery run; prints the devices found"},
    {F::ScanRanges, "scan RANGE...", "", "one scan of the ranges; prints the devices found"},
    {F::ScanFile, "scan --ranges-from FILE", "", "the same, one range a line of FILE (- for standard input)"},
    {F::ScanLocal, "scan --local", "", "scans each of this computer's networks in turn; prints the devices found, in one list"},
    {F::Probe, "probe ADDRESS", "", "asks one address for its details; prints the device"},
    {F::Expand, "expand RANGE", "", "prints the addresses a range covers, one a line"},
    {F::Diff, "diff OLD NEW", "", "compares two device lists saved earlier"},
    {F::LabelSet, "label MAC TEXT", "", "gives the device with this MAC address a label (\"\" removes it); label MAC prints it"},
    {F::LabelWatch, "label MAC --watch off|on", "", "leaves the device out of watching, or not"},
    {F::LabelList, "label --list", "", "prints every label and watch choice"},
    {F::Watch, "watch [RANGE...]", "[-- PROGRAM [ARG...]]",
     "a discovery run every SECONDS (60; at least 10), or a scan of the ranges (--discover: both, as one run); "
     "prints each change as one JSON line, and runs PROGRAM for each"},
    {F::Log, "log [MAC]", "", "prints the presence log's events, oldest first, of one device or all"},
    {F::SettingsExport, "settings export FILE|-", "",
     "writes labels, watch choices, actions and the window's choices as one JSON document"},
    {F::SettingsImport, "settings import FILE|-", "",
     "merges such a document; what is here wins unless --replace, each conflict one line; its actions (programs) only "
     "with --actions; a device known here keeps its watch choice unless --watch-choices"},
    {F::DestinationsList, "destinations", "",
     "lists the destinations a watch sends its changes to, secrets as ***, with each one's last delivery"},
    {F::DestinationsTest, "destinations test NAME", "", "sends the destination a test message now; prints the server's answer"},
    {F::Help, "--help | --version", "", ""},
};

// No line is wider; what a form does starts in this column.
constexpr qsizetype width = 88;
constexpr qsizetype doesColumn = 37;

// The options the form takes, each in brackets, in the table's order; the options of one
// group share one bracket ("[--json | --csv]").
QStringList brackets(CommandForm form)
{
    QStringList items;
    int lastGroup = 0;
    for (const CommandLineOption &option : commandLineOptions()) {
        if (!(option.forms & formBit(form)) || (option.source && (scanForms & formBit(form))))
            continue;
        const QString item = option.value.isEmpty() ? option.name : option.name + u' ' + option.value;
        if (option.group != 0 && option.group == lastGroup)
            items.last().insert(items.last().size() - 1, QStringLiteral(" | ") + item);
        else
            items.append(u'[' + item + u']');
        lastGroup = option.group;
    }
    return items;
}

// The items appended to `line`, a space between two, a new line of `indent` spaces begun
// where the next would pass the width; `line` holds no item yet when `fresh`.
QStringList filled(QString line, bool fresh, const QStringList &items, qsizetype indent)
{
    QStringList lines;
    for (const QString &item : items) {
        if (!fresh && line.size() + 1 + item.size() > width) {
            lines.append(line);
            line = QString(indent, u' ');
            fresh = true;
        }
        line += (fresh ? QString() : QStringLiteral(" ")) + item;
        fresh = false;
    }
    if (!fresh)
        lines.append(line);
    return lines;
}

QStringList usageLine(const UsageLine &usage)
{
    const QString words = QString::fromUtf8(usage.words);
    QStringList items = brackets(usage.form);
    if (*usage.tail)
        items.append(QString::fromUtf8(usage.tail));
    // Wrapped under what follows the command's name.
    const QString program = QStringLiteral("  devicefinder ");
    const QString command = words.section(u' ', 0, 0);
    const QStringList lines = filled(program + words, words.isEmpty(), items,
                                     program.size() + (command.isEmpty() ? 0 : command.size() + 1));
    const QStringList does = QString::fromUtf8(usage.does).split(u' ', Qt::SkipEmptyParts);
    if (does.isEmpty())
        return lines;
    if (lines.size() == 1 && lines.first().size() < doesColumn)
        return filled(lines.first().leftJustified(doesColumn), true, does, doesColumn);
    return lines + filled(QString(doesColumn, u' '), true, does, doesColumn);
}

// The form's words, "[OPTION...]" where it takes options, and what follows them: one line.
QString shortUsageLine(const UsageLine &usage)
{
    QStringList parts{QStringLiteral("  devicefinder")};
    if (*usage.words)
        parts.append(QString::fromUtf8(usage.words));
    if (!brackets(usage.form).isEmpty())
        parts.append(QStringLiteral("[OPTION...]"));
    if (*usage.tail)
        parts.append(QString::fromUtf8(usage.tail));
    return parts.join(u' ');
}

} // namespace

QString usageErrorText(const QString &command)
{
    QString text = QStringLiteral("Usage:\n");
    for (const UsageLine &usage : usageLines) {
        if (command.isEmpty())
            text += shortUsageLine(usage) + u'\n';
        else if (QString::fromUtf8(usage.words).section(u' ', 0, 0) == command)
            text += usageLine(usage).join(u'\n') + u'\n';
    }
    return text + QStringLiteral("Try 'devicefinder --help' for more.\n");
}

QString usageText()
{
    QString text = QStringLiteral("Usage:\n");
    for (const UsageLine &usage : usageLines)
        text += usageLine(usage).join(u'\n') + u'\n';
    return text + QStringLiteral(
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
        "watch is the same watch. A watch starts from the history; a round of the broadcast\n"
        "judges the devices last seen on a network this computer is on now. --site NAME names\n"
        "the place in the presence log and the metrics (the window's Site Name, else this\n"
        "computer's host name). A device left out with\n"
        "label MAC --watch off gives no event. PROGRAM runs once per event, one at a time,\n"
        "without a shell: the event's line on its standard input, DF_EVENT, DF_MAC,\n"
        "DF_ADDRESS, DF_FROM (moved), DF_PRESENT (steady), DF_HOSTNAME and DF_LABEL in its\n"
        "environment; it is ended after 30 s. --notify shows each run's changes as a desktop\n"
        "notification. --metrics FILE rewrites FILE whole after every run in the Prometheus\n"
        "text format: devicefinder_device_up{site,mac,address,label} 1 or 0 (missing) per\n"
        "device,\n"
        "and the run's time and duration. A watch of ranges judges only what each round asked,\n"
        "and keeps 100 ARP requests a second unless --arp-rate says otherwise; --broadcast and\n"
        "--reply-port need --discover there. Each round asks the known devices first, then\n"
        "walks as much of the ranges as the pace allows before the next round is due (3 s\n"
        "before), going on where the previous round stopped. Every watch asks a known device\n"
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
        "labels, or names an action as one of the row menu's own or with Latin letters mixed\n"
        "with Cyrillic or Greek ones; 1 when the settings here could not be written; either\n"
        "way nothing is changed. A key it does not read is named, and is no reason to refuse.\n"
        "destinations: 2 when the destinations file is refused. destinations test: 0 when the\n"
        "server took the message, 1 when not, 2 for a name the file does not hold.\n");
}
