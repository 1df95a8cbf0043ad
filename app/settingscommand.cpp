#include "app/settingscommand.h"

#include "app/output.h"
#include "platform/boundedjson.h"
#include "platform/wholefile.h"

int runSettingsCommand(const SettingsRequest &request, const SettingsFiles &files, std::FILE *out, std::FILE *err)
{
    if (!request.import) {
        const SettingsExport exported = exportSettings(files);
        if (!exported.problem.isEmpty()) {
            writeMessage(err, exported.problem);
            return 1;
        }
        if (request.file == u"-")
            return writeOutput(out, exported.document) ? 0 : 1;
        if (const Result<> written = writeWholeFile(request.file, exported.document, FileOwner::User); !written) {
            writeMessage(err, QStringLiteral("%1 could not be written: %2").arg(request.file, written.reason()));
            return 1;
        }
        return 0;
    }
    const FileBytes bytes = request.file == u"-" ? readBoundedStandardInput() : readBoundedFile(request.file, false);
    if (!bytes.problem.isEmpty()) {
        writeMessage(err, QStringLiteral("%1: %2").arg(request.file, bytes.problem));
        return 2;
    }
    const SettingsReading reading = readSettings(bytes.bytes);
    if (!reading.document) {
        writeMessage(err, QStringLiteral("%1: %2").arg(request.file, reading.problem));
        return 2;
    }
    // Not a reason to refuse the file: a later version may write more than this one reads.
    for (const QString &line : reading.document->unknownKeys)
        writeMessage(err, QStringLiteral("%1: %2").arg(request.file, line));
    const SettingsImport imported =
        importSettings(*reading.document, files, {request.replace, request.actions, request.watchChoices});
    if (!imported.problem.isEmpty()) {
        writeMessage(err, QStringLiteral("%1: %2").arg(request.file, imported.problem));
        return 1;
    }
    return writeLines(out, imported.actions + imported.watched + imported.kept) ? 0 : 1;
}
