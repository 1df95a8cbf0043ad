#pragma once

#include <QString>

#include <optional>

// A secret that a file of the tool's names but never holds (a token, a password, a webhook's
// URL): a file that only its owner can read, an environment variable, or a systemd credential
// ($CREDENTIALS_DIRECTORY/NAME, as a user service's LoadCredential= gives one). It is read
// when it is needed, and its value is never written, logged or exported: wherever it would
// show, "***" does.
struct SecretRef final {
    enum class Kind { File, Env, Credential };
    Kind kind = Kind::File;
    QString name; // the file's path (relative ones from the config folder), the variable, the credential
    bool operator==(const SecretRef &) const = default;
};

inline constexpr QStringView hiddenSecret = u"***";

// The secret's value, or why it cannot be had: a file that others may read or that is not
// there, a variable or credential not set. One trailing newline of a file is not part of it.
// `configFolder` is where relative file names start. Any thread.
struct SecretValue final {
    std::optional<QString> value;
    QString problem;
};
SecretValue readSecret(const SecretRef &secret, const QString &configFolder);
