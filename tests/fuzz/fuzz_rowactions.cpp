// Bytes as actions.json, the user's own programs on a row: whatever the file holds, an action
// offered for a device runs the file's program, each argument one argument.
#include "settings/rowactions.h"
#include "tests/fuzz/require.h"

#include <QJsonObject>

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const RowActionsFile file = parseRowActions(bytes);
    require(file.problem.isEmpty() || file.actions.isEmpty(), "actions, or the reason there are none");
    require(file.actions.size() <= maxRowActions, "at most the bound of actions");
    const DeviceRecord record(QJsonObject{{QStringLiteral("ipAddress"), QStringLiteral("198.18.0.7")},
                                          {QStringLiteral("macAddress"), QStringLiteral("02:00:5E:10:00:07")},
                                          {QStringLiteral("hostname"), QString::fromUtf8(bytes.left(64))}});
    for (const RowAction &action : file.actions) {
        const ExpandedCommand expanded = expandCommand(action.command, record, QStringLiteral("{mac} -x"));
        require(expanded.arguments.isEmpty() != expanded.unavailable.isEmpty(), "offered, or the reason it is not");
        if (expanded.arguments.isEmpty())
            continue;
        require(expanded.arguments.size() == action.command.size(), "one argument for each of the command's");
        QString program = action.command.first();
        program.replace(QStringLiteral("{{"), QStringLiteral("{")).replace(QStringLiteral("}}"), QStringLiteral("}"));
        require(expanded.arguments.first() == program, "the program is the file's");
    }
    return 0;
}
