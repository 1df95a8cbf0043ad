#include "platform/versioneddocument.h"

#include "platform/boundedjson.h"

VersionedDocument readVersionedDocument(const QByteArray &bytes, QStringView format, int newest)
{
    using Kind = VersionedDocument::Kind;
    const ParsedJson parsed = parseBoundedJson(bytes);
    if (!parsed.problem.isEmpty())
        return {Kind::Unparsed, {}, 0, parsed.problem};
    const QJsonObject root = parsed.document.object();
    if (!parsed.document.isObject() || root.value(u"format").toString() != format)
        return {Kind::Foreign, {}, 0, {}};
    const QJsonValue version = root.value(u"version");
    const qint64 number = version.isDouble() ? version.toInteger(0) : 0;
    if (number < 1)
        return {Kind::NoVersion, {}, 0, {}};
    if (number > newest)
        return {Kind::Newer, {}, number, {}};
    return {Kind::Document, root, number, {}};
}

QJsonObject versionedDocumentHead(QStringView format, int version)
{
    return {{QStringLiteral("format"), format.toString()}, {QStringLiteral("version"), version}};
}
