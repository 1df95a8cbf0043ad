#include "app/output.h"

#include "platform/safetext.h"

bool writeOutput(std::FILE *stream, QByteArrayView bytes)
{
    // An empty view may have no data at all, which fwrite must not be given.
    const auto size = std::size_t(bytes.size());
    return (size == 0 || std::fwrite(bytes.data(), 1, size, stream) == size) && std::fflush(stream) == 0;
}

bool writeLines(std::FILE *stream, const QStringList &lines)
{
    QByteArray bytes;
    for (const QString &line : lines)
        bytes += terminalText(line).toUtf8() + '\n';
    return writeOutput(stream, bytes);
}

bool writeMessage(std::FILE *stream, const QString &text)
{
    return writeLines(stream, {QStringLiteral("devicefinder: ") + text});
}
