#include "destinations/messagetemplate.h"

namespace {

bool isNameCharacter(QChar c)
{
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || c == u'_';
}

// The length of the variable's name starting after the brace at `at`; 0 when none is there.
qsizetype nameLength(QStringView text, qsizetype at)
{
    qsizetype end = at + 1;
    while (end < text.size() && isNameCharacter(text.at(end)))
        ++end;
    if (end == at + 1 || end >= text.size() || text.at(end) != u'}')
        return 0;
    return end - at - 1;
}

// Calls `found` with each variable's name and where it starts; the text between is the caller's.
template <typename Found>
void forEachVariable(QStringView text, Found found)
{
    for (qsizetype at = 0; at < text.size(); ++at) {
        if (text.at(at) != u'{')
            continue;
        if (const qsizetype length = nameLength(text, at); length > 0) {
            found(text.mid(at + 1, length), at);
            at += length + 1;
        }
    }
}

} // namespace

QList<QStringView> changeVariables()
{
    return {u"event", u"name", u"label", u"hostname", u"address", u"mac",
            u"model", u"serial", u"tag", u"site", u"time", u"since"};
}

QList<QStringView> webhookVariables()
{
    QList<QStringView> known = changeVariables();
    known << u"changes" << u"title" << u"message";
    return known;
}

std::optional<QString> unknownVariable(QStringView text, const QList<QStringView> &known)
{
    std::optional<QString> unknown;
    forEachVariable(text, [&](QStringView name, qsizetype) {
        if (!unknown && !known.contains(name))
            unknown = name.toString();
    });
    return unknown;
}

QString expandTemplate(QStringView text, const std::function<QString(QStringView name)> &value)
{
    QString expanded;
    qsizetype copied = 0;
    forEachVariable(text, [&](QStringView name, qsizetype at) {
        expanded += text.mid(copied, at - copied);
        expanded += value(name);
        copied = at + name.size() + 2;
    });
    expanded += text.mid(copied);
    return expanded;
}
