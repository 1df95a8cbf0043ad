#include "tools/devicesim/httpanswer.h"

#include <QJsonArray>
#include <QJsonDocument>

namespace {

const QByteArray jsonType = QByteArrayLiteral("application/json");

QByteArray reason(int status)
{
    switch (status) {
    case 200:
        return QByteArrayLiteral("OK");
    case 400:
        return QByteArrayLiteral("Bad Request");
    case 404:
        return QByteArrayLiteral("Not Found");
    case 405:
        return QByteArrayLiteral("Method Not Allowed");
    case 500:
        return QByteArrayLiteral("Internal Server Error");
    default:
        return QByteArrayLiteral("Unknown");
    }
}

HttpAnswer plain(int status)
{
    return {status, QByteArrayLiteral("text/plain"), reason(status) + '\n'};
}

} // namespace

std::optional<std::pair<QByteArray, QByteArray>> parseRequestLine(const QByteArray &head)
{
    const QByteArray line = head.left(head.indexOf("\r\n"));
    const QList<QByteArray> parts = line.split(' ');
    if (parts.size() != 3 || parts.at(0).isEmpty() || !parts.at(1).startsWith('/')
        || !parts.at(2).startsWith("HTTP/1."))
        return std::nullopt;
    return std::pair{parts.at(0), parts.at(1)};
}

QJsonObject servedDocument(const DeviceProfile &device, qint64 secondsUp)
{
    QJsonObject document = device.document;
    if (device.kind != DeviceProfile::Kind::Info)
        return document;
    // A numeric uptime is the value at start; any other value is served as the file gives it.
    const QJsonValue uptime = document.value(u"uptime");
    if (uptime.isUndefined())
        document.insert(QStringLiteral("uptime"), secondsUp);
    else if (uptime.isDouble())
        document.insert(QStringLiteral("uptime"), static_cast<qint64>(uptime.toDouble()) + secondsUp);
    return document;
}

HttpAnswer answerFor(const DeviceProfile &device, const QByteArray &method, const QByteArray &path, qint64 secondsUp)
{
    if (method != "GET")
        return plain(405);
    const QByteArray resource = path.split('?').first();
    if (const auto status = device.statuses.constFind(resource); status != device.statuses.cend())
        return {*status, jsonType, QJsonDocument(servedDocument(device, secondsUp)).toJson(QJsonDocument::Compact)};
    if (device.kind == DeviceProfile::Kind::InfoNotFound && resource == "/info")
        return plain(404);
    const QByteArray served = device.kind == DeviceProfile::Kind::Info ? QByteArrayLiteral("/info")
                                                                    : QByteArrayLiteral("/getdata.json");
    if (resource != served)
        return plain(404);

    const QJsonObject document = servedDocument(device, secondsUp);
    switch (device.http) {
    case DeviceProfile::Http::NotJson:
        return {200, jsonType, QByteArrayLiteral("<html><body>not JSON</body></html>\n")};
    case DeviceProfile::Http::NotObject:
        return {200, jsonType, QJsonDocument(QJsonArray{document}).toJson(QJsonDocument::Compact)};
    case DeviceProfile::Http::Status500:
        return {500, jsonType, QJsonDocument(document).toJson(QJsonDocument::Compact)};
    default:
        return {200, jsonType, QJsonDocument(document).toJson(QJsonDocument::Compact)};
    }
}

LargeBody largeBody(const QJsonObject &document, qint64 totalBytes)
{
    const QByteArray compact = QJsonDocument(document).toJson(QJsonDocument::Compact);
    LargeBody body;
    body.prefix = QByteArrayLiteral("{\"padding\":\"");
    body.suffix = document.isEmpty() ? QByteArrayLiteral("\"}") : "\"," + compact.mid(1);
    body.fill = qMax<qint64>(0, totalBytes - body.prefix.size() - body.suffix.size());
    return body;
}

QByteArray responseHead(int status, const QByteArray &contentType, qint64 contentLength)
{
    QByteArray head = "HTTP/1.1 " + QByteArray::number(status) + ' ' + reason(status) + "\r\n";
    head += "Content-Type: " + contentType + "\r\n";
    if (contentLength >= 0)
        head += "Content-Length: " + QByteArray::number(contentLength) + "\r\n";
    head += "Connection: close\r\n\r\n";
    return head;
}
