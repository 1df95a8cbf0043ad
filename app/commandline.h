#pragma once

#include <QString>
#include <QStringList>

// What the command line asks for.
struct Command {
    enum class Kind { Window, Expand, Help, Version, UsageError };
    Kind kind = Kind::Window;
    QString range;   // Expand
    QString message; // UsageError: what was wrong
};

// Reads the arguments that follow the program name.
Command parseCommandLine(const QStringList &arguments);

QString usageText();
