#pragma once

#include "destinations/destination.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

// The destinations file: ~/.config/devicefinder/destinations.json (under $XDG_CONFIG_HOME when
// that is set), a versioned document ("format": "devicefinder-destinations", "version": 1) with
// the list "destinations". A file that breaks any rule is refused whole, with the reason and the
// line and column it is at: nothing of it is sent. Pure where it says so, any thread.

// The folder of the tool's configuration files, where relative secret files start.
QString destinationsConfigFolder();
QString destinationsFilePath();

struct DestinationsFile final {
    // Missing: no file, no destinations. Refused: damaged, foreign, of a newer version or
    // breaking a rule. Unreadable: it cannot be read now (left alone).
    enum class Status { Missing, Read, Refused, Unreadable };
    Status status = Status::Missing;
    QList<Destination> destinations;
    QString problem; // Refused: "line 4, column 7: ..."; Unreadable: why
};

// The document's bytes, read. Pure.
DestinationsFile parseDestinations(const QByteArray &bytes);
DestinationsFile readDestinationsFile(const QString &path = destinationsFilePath());
