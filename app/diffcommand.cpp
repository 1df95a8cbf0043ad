#include "app/diffcommand.h"

#include "app/output.h"
#include "history/changesexport.h"
#include "history/devicediff.h"
#include "history/devicelistfile.h"
#include "labels/devicelabels.h"

#include <optional>

namespace {

std::optional<DeviceList> readList(const QString &path, std::FILE *err)
{
    const DeviceListFile file = readDeviceListFile(path);
    if (!file.problem.isEmpty()) {
        writeMessage(err, path + QStringLiteral(": ") + file.problem);
        return std::nullopt;
    }
    if (file.withoutMac > 0 || file.repeated > 0)
        writeMessage(err, path + QStringLiteral(": ")
                              + QStringLiteral("skipped %1 records without a MAC address and %2 with a MAC address read before")
                                    .arg(file.withoutMac)
                                    .arg(file.repeated));
    return file.devices;
}

} // namespace

int runDiffCommand(const Command &command, std::FILE *out, std::FILE *err)
{
    if (command.files.value(0) == u"-" && command.files.value(1) == u"-") {
        writeMessage(err, QStringLiteral("-: only one of the two lists can come from standard input"));
        return 2;
    }
    // Both files are read, so that one run names every file that cannot be.
    const std::optional<DeviceList> before = readList(command.files.value(0), err);
    const std::optional<DeviceList> after = readList(command.files.value(1), err);
    if (!before || !after)
        return 2;
    const DeviceDiff diff = diffDevices(*before, *after);
    const DeviceLabels labels(DeviceLabels::defaultPath());
    const LabelOf labelOf = [&labels](const DeviceRecord &record) { return labels.labelOf(record); };
    QByteArray text;
    if (command.format == OutputFormat::Json)
        text = diffAsJson(diff, labelOf);
    else if (!diff.isEmpty())
        text = diffAsTextTable(diff, labelOf).toUtf8();
    // Output that cannot be written is trouble, not a difference; the caller says so.
    if (!writeOutput(out, text))
        return 2;
    return diff.isEmpty() ? 0 : 1;
}
