#pragma once

#include <QString>
#include <QStringList>

// How a headless command prints the device list.
enum class OutputFormat { Text, Json, Csv };

// What the command line asks for.
struct Command {
    enum class Kind { Window, Discover, Scan, Expand, Probe, Help, Version, UsageError };
    Kind kind = Kind::Window;
    QString argument; // Scan, Expand: the range (none with --local); Probe: the address
    QString broadcastAddress; // Window, Discover: empty for every interface
    quint16 replyPort = 0;    // Window, Discover: 0 for one the system picks
    OutputFormat format = OutputFormat::Text;
    QString reportFile;         // Discover: where --report writes the report, "-" for standard error
    bool localNetworks = false; // Scan: --local, each of the computer's own networks in turn
    QString message; // UsageError: what was wrong
};

// Reads the arguments that follow the program name.
Command parseCommandLine(const QStringList &arguments);

QString usageText();

// Whether `probe` takes the text: a dotted-quad IPv4 address written the one plain way
// (four numbers of 0 to 255, no leading zeros), or a host name, either with an optional
// ":PORT". Texts such as "010.0.0.1" or "192.168.1.260" are refused: a URL would read them
// as another address or as a name to look up.
bool isProbeAddress(const QString &text);
