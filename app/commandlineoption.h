#pragma once

#include "app/commandline.h"

#include <QString>

#include <span>

// The ways a command line can be written: one line of the usage each.
enum class CommandForm : unsigned {
    Window,
    Discover,
    ScanRanges,
    ScanFile,
    ScanLocal,
    Probe,
    Expand,
    Diff,
    LabelSet,
    LabelWatch,
    LabelList,
    Watch,
    Log,
    SettingsExport,
    SettingsImport,
    DestinationsList,
    DestinationsTest,
    Help,
};

// A set of forms, one bit each.
using CommandForms = unsigned;
constexpr CommandForms formBit(CommandForm form)
{
    return 1u << unsigned(form);
}
constexpr CommandForms scanForms =
    formBit(CommandForm::ScanRanges) | formBit(CommandForm::ScanFile) | formBit(CommandForm::ScanLocal);

// One option of the command line, the one place it is read and refused: its name, the value
// it takes, the forms that take it, and the words said when its value is refused. The usage
// lines are made from these rows, so that no form takes an option its line leaves out.
struct CommandLineOption final {
    QString name;  // "--broadcast"
    QString value; // what follows it, as the usage names it ("ADDR"); empty for a flag
    CommandForms forms;
    // Sets what the option asks for; false for a value it refuses. A flag is given no value.
    bool (*take)(Command &command, const QString &value);
    // "--NAME" and these words say that its value was refused or left out: "takes a UDP port
    // number from 1 to 65535".
    QString refusal = {};
    // The refused value is named after the words: ", not '192.168.1'".
    bool namesRefused = false;
    // Options of one group other than 0 exclude each other (--json and --csv).
    int group = 0;
    // Says what a scan walks: a scan form's own words name it, not a bracket of the usage.
    bool source = false;
};

// Every option, in the order the usage lines list them.
std::span<const CommandLineOption> commandLineOptions();
