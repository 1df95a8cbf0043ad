#pragma once

#include "tools/devicesim/deviceprofile.h"

#include <QByteArray>

#include <optional>

// The answer a device gives to one request, before any timing fault is applied.
struct HttpAnswer final {
    int status = 200;
    QByteArray contentType;
    QByteArray body;
};

// The body of an over-large answer: prefix, `fill` bytes 'x', suffix. Written in pieces so
// that a simulator serving many MiB never holds them all.
struct LargeBody final {
    QByteArray prefix;
    qint64 fill = 0;
    QByteArray suffix;
};

// Method and path of a request head (up to the blank line); nothing when malformed.
std::optional<std::pair<QByteArray, QByteArray>> parseRequestLine(const QByteArray &head);

// The device's document as served at `secondsUp` seconds after its start.
QJsonObject servedDocument(const DeviceProfile &device, qint64 secondsUp);

HttpAnswer answerFor(const DeviceProfile &device, const QByteArray &method, const QByteArray &path, qint64 secondsUp);

// A JSON object of exactly `totalBytes` bytes holding `document`'s members and a padding member.
LargeBody largeBody(const QJsonObject &document, qint64 totalBytes);

// Status line and headers; `contentLength` < 0 leaves the length out (the body ends at close).
QByteArray responseHead(int status, const QByteArray &contentType, qint64 contentLength);
