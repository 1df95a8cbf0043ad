#pragma once

#include "address/address.h"
#include "app/destinationscommand.h"
#include "app/labelcommand.h"
#include "app/settingscommand.h"
#include "history/devicewatch.h"

#include <QString>
#include <QStringList>

// How a headless command prints the device list.
enum class OutputFormat { Text, Json, Csv };

// What the command line asks for.
struct Command {
    enum class Kind { Window, Discover, Scan, Expand, Probe, Diff, Watch, Log, Label, Settings, Destinations, Help, Version, UsageError };
    Kind kind = Kind::Window;
    QString argument; // Expand: the range; Probe: the address as given; Log: the MAC address, if any
    Address probeAddress; // Probe: the address, with its port if any
    QStringList ranges; // Scan, Watch: the ranges, in order (none with --local or --ranges-from)
    QString rangesFile; // Scan, Watch: --ranges-from, one range a line; "-" for standard input
    Address broadcastAddress; // Window, Discover, Watch: empty for every interface
    quint16 replyPort = 0;    // Window, Discover, Watch: 0 for one the system picks
    OutputFormat format = OutputFormat::Text;
    QStringList files;          // Diff: the older device list and the newer one
    bool changes = false;       // Discover, Scan: print only what changed against the history
    bool noHistory = false;     // Window, Discover, Scan, Watch: neither read nor write the history
    bool hidden = false;        // Window: --hidden, as started at login: watching, in the tray
    int everySeconds = 60;      // Watch: how often a round starts
    quint32 arpRate = 0;        // Scan, Watch: --arp-rate, ARP requests a second at most; 0 for no pace
                                // (a range watch keeps 100 without it)
    QStringList program;        // Watch: after "--", the program and its arguments run per event
    WatchRule watchRule;        // Watch: --missing-after, --flap-changes, --flap-window
    QString metricsFile;        // Watch: --metrics, rewritten after every run
    bool notify = false;        // Watch: --notify, a desktop notification per run with changes
    QString site;               // Watch: --site, the place it watches; empty: the window's, else this computer's
    QString sinceText;          // Log: --since, as given
    QString reportFile;         // Discover: where --report writes the report, "-" for standard error
    bool localNetworks = false; // Scan, Watch: --local, each of the computer's own networks in turn
    bool discover = false;      // Watch: --discover, the broadcasts too in each round of a range watch
    // Watch: whether rounds scan ranges (operands, --ranges-from or --local).
    bool watchesRanges() const { return !ranges.isEmpty() || !rangesFile.isEmpty() || localNetworks; }
    LabelRequest label;         // Label
    SettingsRequest settings;   // Settings
    DestinationsRequest destinations; // Destinations
    QString message; // UsageError: what was wrong
    QString usageOf; // UsageError: the command whose usage lines follow; empty outside any command
};

// Reads the arguments that follow the program name. Each option is read as its row of the
// options table says (app/commandlineoption.h), in the same words wherever it is refused.
Command parseCommandLine(const QStringList &arguments);

// What --help prints: a line for each form of the command line, its options those the
// options table gives the form, then how ranges, output, history and watch work.
QString usageText();

// What follows a usage error's line: the usage lines of `command` (its forms' lines of
// --help), or, outside any command, a short line for each form; then where the rest is.
QString usageErrorText(const QString &command);
