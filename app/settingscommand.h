#pragma once

#include "settings/settingstransfer.h"

#include <QString>

#include <cstdio>

// What `devicefinder settings` asks for; the command line fills it in.
struct SettingsRequest final {
    bool import = false;  // else export
    QString file;         // "-": standard output (export) or standard input (import)
    bool replace = false; // import: the file's settings take the place of those here
    bool actions = false; // import: the file's actions are taken in
    bool watchChoices = false; // import: the file's watch choices are taken for devices known here too
};

// `settings export FILE|-` writes the labels, watch choices, the user's actions and the
// window's choices as one document (see settings/settingstransfer.h); `settings import
// FILE|- [--replace] [--actions] [--watch-choices]` takes one in: on `out`, each action taken
// in, each watch choice a merge took in, then each part not taken in (a conflict, an action
// without --actions), one line each; on `err`, each key of the file that is not read. Exit
// status:
//   0  exported, or imported (conflicts or unknown keys or not);
//   1  the settings here could not be read (export) or written (import: nothing changed), or
//      the output could not be written;
//   2  the file cannot be read, or is no settings document, too large, over the bounds or
//      with an action named as one of the row menu's own or in mixed scripts: nothing changed.
int runSettingsCommand(const SettingsRequest &request, const SettingsFiles &files, std::FILE *out, std::FILE *err);
