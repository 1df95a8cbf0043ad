#include "destinations/secret.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>

namespace {

// A secret is a line or two, never a file to read whole.
constexpr qint64 maxSecretBytes = 64 * 1024;

SecretValue fromFile(const QString &path, const QString &shownAs)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {std::nullopt, QStringLiteral("%1 cannot be read: %2").arg(shownAs, file.errorString())};
    struct stat held {};
    if (::fstat(file.handle(), &held) != 0 || !S_ISREG(held.st_mode))
        return {std::nullopt, QStringLiteral("%1 is not a regular file").arg(shownAs)};
    if (held.st_mode & (S_IRWXG | S_IRWXO))
        return {std::nullopt, QStringLiteral("%1 may be read by others than its owner (chmod 600 it)").arg(shownAs)};
    QByteArray bytes = file.read(maxSecretBytes + 1);
    if (bytes.size() > maxSecretBytes)
        return {std::nullopt, QStringLiteral("%1 is larger than 64 KiB").arg(shownAs)};
    if (bytes.endsWith('\n'))
        bytes.chop(1);
    return {QString::fromUtf8(bytes), {}};
}

} // namespace

SecretValue readSecret(const SecretRef &secret, const QString &configFolder)
{
    switch (secret.kind) {
    case SecretRef::Kind::File: {
        const QString path = QFileInfo(secret.name).isAbsolute() ? secret.name : QDir(configFolder).filePath(secret.name);
        return fromFile(path, QStringLiteral("the secret file %1").arg(path));
    }
    case SecretRef::Kind::Env: {
        if (!qEnvironmentVariableIsSet(secret.name.toLocal8Bit().constData()))
            return {std::nullopt, QStringLiteral("the environment variable %1 is not set").arg(secret.name)};
        return {qEnvironmentVariable(secret.name.toLocal8Bit().constData()), {}};
    }
    case SecretRef::Kind::Credential:
        break;
    }
    const QString folder = qEnvironmentVariable("CREDENTIALS_DIRECTORY");
    if (folder.isEmpty())
        return {std::nullopt, QStringLiteral("the credential %1 is not there: $CREDENTIALS_DIRECTORY is not set").arg(secret.name)};
    if (secret.name.isEmpty() || secret.name.contains(u'/') || secret.name == u".." || secret.name == u".")
        return {std::nullopt, QStringLiteral("a credential's name is a file name in $CREDENTIALS_DIRECTORY")};
    return fromFile(QDir(folder).filePath(secret.name), QStringLiteral("the credential %1").arg(secret.name));
}
