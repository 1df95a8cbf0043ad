#include "labels/labelsformat.h"

#include "platform/safejson.h"
#include "platform/safetext.h"
#include "platform/versioneddocument.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace {

// The file says what it is, so that a file of another kind or version is never read as one.
constexpr QStringView formatName = u"devicefinder-labels";
constexpr int formatVersion = 2;

LabelsContent damaged(const QString &problem)
{
    return {LabelsContent::Status::Damaged, {}, {}, problem};
}

} // namespace

std::optional<QString> labelProblem(QStringView label)
{
    if (label.isEmpty())
        return QStringLiteral("a label cannot be empty");
    if (!label.isValidUtf16())
        return QStringLiteral("the label is not valid text");
    const QList<uint> characters = label.toUcs4();
    if (characters.size() > maxLabelLength)
        return QStringLiteral("a label has at most %1 characters, this one %2").arg(maxLabelLength).arg(characters.size());
    for (const uint c : characters) {
        if (c == '\n' || c == '\r' || c == 0x2028 || c == 0x2029)
            return QStringLiteral("a label is one line: it cannot hold a line break");
        if (isUnsafeCharacter(c))
            return QStringLiteral("a label cannot hold the control or invisible character U+%1")
                .arg(QString::number(c, 16).toUpper().rightJustified(4, u'0'));
    }
    return std::nullopt;
}

LabelsContent labelsFromJson(const QByteArray &bytes)
{
    const VersionedDocument document = readVersionedDocument(bytes, formatName, formatVersion);
    switch (document.kind) {
    case VersionedDocument::Kind::Unparsed:
        return damaged(document.problem);
    case VersionedDocument::Kind::Foreign:
        return damaged(QStringLiteral("not a labels file"));
    case VersionedDocument::Kind::NoVersion:
        return damaged(QStringLiteral("its version is not a whole number of 1 or more"));
    case VersionedDocument::Kind::Newer:
        return {LabelsContent::Status::Newer, {}, {},
                QStringLiteral("written by a newer version of Device Finder (labels file version %1)").arg(document.version)};
    case VersionedDocument::Kind::Document:
        break;
    }
    const QJsonValue labels = document.root.value(u"labels");
    if (!labels.isArray())
        return damaged(QStringLiteral("no list of labels"));
    return labelsFromEntries(labels.toArray());
}

LabelsContent labelsFromEntries(const QJsonArray &entries)
{
    if (entries.size() > maxLabels)
        return damaged(QStringLiteral("more than %1 labels").arg(maxLabels));
    LabelsContent content;
    qsizetype position = 0;
    for (const QJsonValue &value : entries) {
        ++position;
        const QJsonValue mac = value.toObject().value(u"macAddress");
        const QJsonValue label = value.toObject().value(u"label");
        const QJsonValue watch = value.toObject().value(u"watch");
        const std::optional<QString> key = mac.isString() ? macAddressKey(mac.toString()) : std::nullopt;
        const bool unwatched = watch.isBool() && !watch.toBool();
        if (!key || !(label.isString() || (label.isUndefined() && unwatched)) || !(watch.isUndefined() || watch.isBool()))
            return damaged(QStringLiteral("label %1: no well-formed macAddress and label").arg(position));
        if (content.labels.contains(*key) || content.unwatched.contains(*key))
            return damaged(QStringLiteral("label %1: MAC address %2 has a label already").arg(QString::number(position), *key));
        if (label.isString()) {
            if (const std::optional<QString> problem = labelProblem(label.toString()))
                return damaged(QStringLiteral("label %1: %2").arg(QString::number(position), *problem));
            content.labels.insert(*key, label.toString());
        }
        if (unwatched)
            content.unwatched.insert(*key);
    }
    return content;
}

QJsonArray labelEntries(const QMap<QString, QString> &labels, const QSet<QString> &unwatched)
{
    QMap<QString, QJsonObject> byMac;
    for (auto it = labels.cbegin(); it != labels.cend(); ++it)
        byMac[it.key()].insert(QStringLiteral("label"), it.value());
    for (const QString &mac : unwatched)
        byMac[mac].insert(QStringLiteral("watch"), false);
    QJsonArray entries;
    for (auto it = byMac.begin(); it != byMac.end(); ++it) {
        it->insert(QStringLiteral("macAddress"), it.key());
        entries.append(*it);
    }
    return entries;
}

QByteArray labelsToJson(const QMap<QString, QString> &labels, const QSet<QString> &unwatched)
{
    QJsonObject root = versionedDocumentHead(formatName, formatVersion);
    root.insert(QStringLiteral("labels"), labelEntries(labels, unwatched));
    return safeJson(QJsonDocument(root));
}
