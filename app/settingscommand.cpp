#include "app/settingscommand.h"

#include "app/output.h"
#include "platform/boundedjson.h"
#include "platform/safetext.h"
#include "platform/wholefile.h"

namespace {

void writeLine(std::FILE *err, const QString &text)
{
    writeOutput(err, QStringLiteral("devicefinder: %1\n").arg(text).toUtf8());
}

} // namespace

int runSettingsCommand(const SettingsRequest &request, const SettingsFiles &files, std::FILE *out, std::FILE *err)
{
    if (!request.import) {
        const SettingsExport exported = exportSettings(files);
        if (!exported.problem.isEmpty()) {
            writeLine(err, exported.problem);
            return 1;
        }
        if (request.file == u"-")
            return writeOutput(out, exported.document) ? 0 : 1;
        if (const std::optional<QString> problem = writeWholeFile(request.file, exported.document, FileOwner::User)) {
            writeLine(err, QStringLiteral("%1 could not be written: %2").arg(terminalText(request.file), *problem));
            return 1;
        }
        return 0;
    }
    const FileBytes bytes = request.file == u"-" ? readBoundedStandardInput() : readBoundedFile(request.file, false);
    if (!bytes.problem.isEmpty()) {
        writeLine(err, terminalText(QStringLiteral("%1: %2").arg(request.file, bytes.problem)));
        return 2;
    }
    const SettingsReading reading = readSettings(bytes.bytes);
    if (!reading.document) {
        writeLine(err, terminalText(QStringLiteral("%1: %2").arg(request.file, reading.problem)));
        return 2;
    }
    const SettingsImport imported = importSettings(*reading.document, files, {request.replace, request.actions});
    if (!imported.problem.isEmpty()) {
        writeLine(err, terminalText(QStringLiteral("%1: %2").arg(request.file, imported.problem)));
        return 1;
    }
    QByteArray lines;
    for (const QString &line : imported.actions + imported.kept)
        lines += terminalText(line).toUtf8() + '\n';
    return writeOutput(out, lines) ? 0 : 1;
}
