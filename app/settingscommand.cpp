#include "app/settingscommand.h"

#include "app/output.h"
#include "platform/boundedjson.h"
#include "platform/safetext.h"

#include <QSaveFile>

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
        QSaveFile file(request.file);
        if (!file.open(QIODevice::WriteOnly) || file.write(exported.document) != exported.document.size() || !file.commit()) {
            writeLine(err, QStringLiteral("%1 could not be written: %2").arg(terminalText(request.file), file.errorString()));
            return 1;
        }
        return 0;
    }
    const FileBytes bytes = request.file == u"-" ? readBoundedStandardInput() : readBoundedFile(request.file, false);
    if (!bytes.problem.isEmpty()) {
        writeLine(err, QStringLiteral("%1: %2").arg(terminalText(request.file), bytes.problem));
        return 2;
    }
    const SettingsImport imported = importSettings(bytes.bytes, files, request.replace);
    if (imported.outcome != SettingsImport::Outcome::Imported) {
        writeLine(err, QStringLiteral("%1: %2").arg(terminalText(request.file), imported.problem));
        return imported.outcome == SettingsImport::Outcome::Refused ? 2 : 1;
    }
    QByteArray lines;
    for (const QString &conflict : imported.conflicts)
        lines += terminalText(conflict).toUtf8() + '\n';
    return writeOutput(out, lines) ? 0 : 1;
}
