#pragma once

#include <QString>

#include <cstdio>

// `devicefinder destinations [--json]` lists the destinations of the destinations file: name,
// kind, whether it is on, where it sends (each secret as "***"), why it sends nothing if it
// does not, and the last delivery's outcome and time (deliveries.json in `dataFolder`). A
// table, or a JSON object {"destinations": [...]}. Exit status: 0, also with no file; 2 for a
// refused file.
//
// `devicefinder destinations test NAME` sends the destination one test message now and
// prints the server's status line and the first 500 bytes of its answer, made safe. Exit
// status: 0 when it was taken, 1 when not (or the destination can send nothing now), 2 for a
// name the file does not hold or a refused file.
struct DestinationsRequest final {
    bool json = false;
    QString test; // the destination to test; empty: list them
};
int runDestinationsCommand(const DestinationsRequest &request, const QString &file, const QString &configFolder,
                           const QString &dataFolder, std::FILE *out, std::FILE *err);
