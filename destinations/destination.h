#pragma once

#include "destinations/secret.h"
#include "history/devicewatch.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>
#include <utility>
#include <variant>

// One place a watch's changes are sent, as the destinations file describes it
// (~/.config/devicefinder/destinations.json). Secrets are references (secret.h), read when
// a message is sent.

// A value given as it is, or a secret (an ntfy topic, a webhook's URL or header).
struct SecretText final {
    QString literal;
    std::optional<SecretRef> secret;
    bool operator==(const SecretText &) const = default;
};

struct NtfyDestination final {
    QString server; // http or https URL
    SecretText topic;
    std::optional<SecretRef> token; // sent as a Bearer authorization
    std::optional<int> priority;    // 1 to 5; none: 4 with a missing device, 3 otherwise
    bool operator==(const NtfyDestination &) const = default;
};

struct GotifyDestination final {
    QString server;
    SecretRef token;             // sent as X-Gotify-Key
    std::optional<int> priority; // 0 to 10; none: 8 with a missing device, 5 otherwise
    bool operator==(const GotifyDestination &) const = default;
};

struct WebhookDestination final {
    SecretText url;
    QString method = QStringLiteral("POST"); // or PUT
    QList<std::pair<QString, SecretText>> headers;
    QString contentType = QStringLiteral("application/json");
    QString body; // a template; empty: the default object
    // How a variable's text stands in the body: JSON-escaped, and for a Slack-shaped body also
    // with &, < and > as Slack's entities, so that no device's name is a mention or a link.
    enum class Escape { Json, Slack };
    Escape escape = Escape::Json;
    bool operator==(const WebhookDestination &) const = default;
};

struct EmailDestination final {
    enum class Tls { StartTls, None }; // none only for a server on a loopback address
    QString server;                    // smtp://host:port or smtps://host:port
    Tls tls = Tls::StartTls;
    QString from;
    QStringList to;
    QString user;
    std::optional<SecretRef> password;
    bool operator==(const EmailDestination &) const = default;
};

struct Destination final {
    QString name; // 1 to 64 ASCII letters, digits, '-' and '_', unique in the file
    bool enabled = true;
    // The changes it takes (by default all but steady).
    QList<WatchEvent::Kind> events;
    // The templates of one change (every kind but the webhook's, whose body is its own);
    // empty: the defaults.
    QString title;
    QString body;
    QString line;
    QString caFile; // the certificates a TLS server is checked against; empty: the system's
    std::variant<NtfyDestination, GotifyDestination, WebhookDestination, EmailDestination> kind;
    bool operator==(const Destination &) const = default;
};
