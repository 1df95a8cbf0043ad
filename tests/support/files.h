#pragma once

#include <QByteArray>
#include <QFile>

#include <cstdio>

// Whole files, JSON written with ' for " (for legibility), and a command's two streams.
inline QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

inline bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

inline QByteArray quotes(const char *json)
{
    return QByteArray(json).replace('\'', '"');
}

// Runs command(out, err) on two temporary files; `written` gets what each of them holds.
template <typename Command>
int runWithStreams(Command command, QByteArray (&written)[2])
{
    std::FILE *streams[] = {std::tmpfile(), std::tmpfile()};
    const int status = command(streams[0], streams[1]);
    for (int i : {0, 1}) {
        std::rewind(streams[i]);
        QFile file;
        written[i] = file.open(streams[i], QIODevice::ReadOnly, QFileDevice::AutoCloseHandle) ? file.readAll() : "?";
    }
    return status;
}
