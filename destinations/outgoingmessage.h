#pragma once

#include "destinations/destination.h"
#include "destinations/destinationmessage.h"
#include "platform/result.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

// One message as it goes on the wire: an HTTP request (ntfy, Gotify, a webhook) or an SMTP
// transaction, its secrets read. Its secret values go along only so that the delivery can show
// them as "***" wherever a server repeats one.
struct OutgoingMessage final {
    enum class Protocol { Http, Smtp };
    Protocol protocol = Protocol::Http;
    QByteArray url;
    QByteArray method = "POST";   // Http
    QList<QByteArray> headers;    // Http: "Name: value"
    QByteArray body;              // Http: the body; Smtp: the whole message, CRLF line ends
    QByteArray from;              // Smtp
    QList<QByteArray> recipients; // Smtp
    bool requireTls = true;       // Smtp: STARTTLS (smtp://) or TLS from the start (smtps://)
    QByteArray user;              // Smtp
    QByteArray password;          // Smtp
    QString caFile;
    QStringList secrets;
};

// What the destination is sent of the message, at `now` (the e-mail's Date), or why not (a
// secret that cannot be read). Reads its secrets.
Result<OutgoingMessage> outgoingMessage(const Destination &destination, const DestinationMessage &message,
                                        const QString &configFolder, const QDateTime &now = QDateTime::currentDateTimeUtc());

// The JSON array of the changes, as a webhook's {changes} and its default body hold them.
QByteArray changesJson(const DestinationMessage &message);

// A Subject header's value: plain ASCII as it is, anything else as RFC 2047 encoded words
// of UTF-8 (base64), never a line end. Pure.
QByteArray encodedSubject(const QString &subject);

// The text with each secret's value as "***". Pure.
QString hideSecrets(QString text, const QStringList &secrets);
