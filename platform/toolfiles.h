#pragma once

#include <QString>

// Where the tool keeps its files: ~/.local/share/devicefinder/NAME for what it records
// (the data folder follows XDG_DATA_HOME), ~/.config/devicefinder/NAME for what the user
// sets up (XDG_CONFIG_HOME).
QString dataFile(const QString &name);
QString configFile(const QString &name);
