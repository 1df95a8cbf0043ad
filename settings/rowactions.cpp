#include "settings/rowactions.h"

#include "labels/labelsformat.h"
#include "platform/addresstext.h"
#include "platform/boundedjson.h"
#include "platform/safetext.h"
#include "platform/toolfiles.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonObject>

#include <algorithm>
#include <optional>

namespace {

// One piece of an argument: a literal text, or a placeholder's name.
struct Piece final {
    QString text;
    bool placeholder = false;
};

constexpr QStringView placeholderNames[] = {u"address", u"mac", u"hostname", u"serial", u"label"};

// The argument's pieces, or nothing and why when a brace is neither a placeholder nor doubled.
std::optional<QList<Piece>> piecesOf(QStringView argument, QString *problem)
{
    QList<Piece> pieces{{}};
    for (qsizetype i = 0; i < argument.size(); ++i) {
        const QChar c = argument.at(i);
        if ((c == u'{' || c == u'}') && i + 1 < argument.size() && argument.at(i + 1) == c) {
            pieces.last().text += c;
            ++i;
        } else if (c == u'}') {
            *problem = QStringLiteral("a lone '}' (write '}}' for one)");
            return std::nullopt;
        } else if (c == u'{') {
            const qsizetype end = argument.indexOf(u'}', i);
            const QStringView name = end < 0 ? QStringView() : argument.sliced(i + 1, end - i - 1);
            if (std::find(std::begin(placeholderNames), std::end(placeholderNames), name) == std::end(placeholderNames)) {
                *problem = end < 0 ? QStringLiteral("a lone '{' (write '{{' for one)")
                                   : QStringLiteral("unknown placeholder {%1}").arg(name);
                return std::nullopt;
            }
            pieces.append({name.toString(), true});
            pieces.append(Piece{});
            i = end;
        } else {
            pieces.last().text += c;
        }
    }
    return pieces;
}

bool isOneLine(QStringView text)
{
    return !holdsUnsafeCharacter(text);
}

// The text of a record's key when it is a text; empty otherwise.
QString textOf(const DeviceRecord &record, QStringView key)
{
    const QJsonValue value = record.value(key);
    return value.isString() ? value.toString() : QString();
}

QString plainAddress(const DeviceRecord &record)
{
    const QString text = textOf(record, DeviceKey::ipAddress);
    return plainIPv4(text) ? text : QString();
}

// A placeholder's value and what it is called in a reason.
std::pair<QString, QString> valueOf(const QString &name, const DeviceRecord &record, const QString &label)
{
    if (name == u"address")
        return {plainAddress(record), QStringLiteral("IP address")};
    if (name == u"mac")
        return {macAddressKey(textOf(record, DeviceKey::macAddress)).value_or(QString()), QStringLiteral("MAC address")};
    if (name == u"hostname")
        return {textOf(record, DeviceKey::hostname), QStringLiteral("host name")};
    if (name == u"serial")
        return {textOf(record, DeviceKey::serialNumber), QStringLiteral("serial number")};
    return {label, QStringLiteral("label")};
}

// Cyrillic and Greek letters a reader takes for Latin ones, each with the letter it passes for.
struct LookAlike final {
    char32_t letter;
    char16_t latin;
};
constexpr LookAlike lookAlikes[] = {
    // Cyrillic: а е о р с у х і ј ѕ and the capitals that look Latin.
    {U'\u0430', u'a'}, {U'\u0435', u'e'}, {U'\u043E', u'o'}, {U'\u0440', u'p'}, {U'\u0441', u'c'},
    {U'\u0443', u'y'}, {U'\u0445', u'x'}, {U'\u0456', u'i'}, {U'\u0458', u'j'}, {U'\u0455', u's'},
    {U'\u0410', u'A'}, {U'\u0412', u'B'}, {U'\u0415', u'E'}, {U'\u041A', u'K'}, {U'\u041C', u'M'},
    {U'\u041D', u'H'}, {U'\u041E', u'O'}, {U'\u0420', u'P'}, {U'\u0421', u'C'}, {U'\u0422', u'T'},
    {U'\u0423', u'Y'}, {U'\u0425', u'X'}, {U'\u0406', u'I'}, {U'\u0408', u'J'}, {U'\u0405', u'S'},
    // Greek: ο ν and the capitals that look Latin.
    {U'\u03BF', u'o'}, {U'\u03BD', u'v'}, {U'\u0391', u'A'}, {U'\u0392', u'B'}, {U'\u0395', u'E'},
    {U'\u0396', u'Z'}, {U'\u0397', u'H'}, {U'\u0399', u'I'}, {U'\u039A', u'K'}, {U'\u039C', u'M'},
    {U'\u039D', u'N'}, {U'\u039F', u'O'}, {U'\u03A1', u'P'}, {U'\u03A4', u'T'}, {U'\u03A5', u'Y'},
    {U'\u03A7', u'X'},
};

// The first Cyrillic or Greek letter of a name that holds Latin letters too; 0 when there is none.
char32_t mixedScriptLetter(QStringView name)
{
    bool latin = false;
    char32_t other = 0;
    for (const char32_t c : name.toUcs4()) {
        const QChar::Script script = QChar::script(c);
        latin = latin || script == QChar::Script_Latin;
        if (!other && (script == QChar::Script_Cyrillic || script == QChar::Script_Greek))
            other = c;
    }
    return latin ? other : 0;
}

QString actionProblem(const QJsonValue &value)
{
    const QJsonValue name = value.toObject().value(u"name");
    const QJsonValue command = value.toObject().value(u"command");
    if (!name.isString() || name.toString().trimmed().isEmpty() || !isOneLine(name.toString())
        || name.toString().size() > maxActionNameLength)
        return QStringLiteral("no \"name\" of one line of at most %1 characters").arg(maxActionNameLength);
    // A letter of another script can pass for a Latin one: "Оpen in Browser" with a Cyrillic "О".
    if (const char32_t letter = mixedScriptLetter(name.toString()))
        return QStringLiteral("\"%1\" mixes Latin letters with Cyrillic or Greek ones (U+%2)")
            .arg(name.toString().trimmed(), QString::number(letter, 16).toUpper().rightJustified(4, u'0'));
    if (isBuiltInActionName(name.toString()))
        return QStringLiteral("\"%1\" is the name of one of the menu's own items").arg(name.toString().trimmed());
    const QJsonArray arguments = command.toArray();
    if (!command.isArray() || arguments.isEmpty() || arguments.size() > maxActionArguments)
        return QStringLiteral("no \"command\": a list of 1 to %1 texts").arg(maxActionArguments);
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QJsonValue argument = arguments.at(i);
        if (!argument.isString() || argument.toString().size() > maxActionArgumentLength)
            return QStringLiteral("argument %1 is not a text of at most %2 characters").arg(i + 1).arg(maxActionArgumentLength);
        QString problem;
        const std::optional<QList<Piece>> pieces = piecesOf(argument.toString(), &problem);
        if (!pieces)
            return QStringLiteral("argument %1: %2").arg(QString::number(i + 1), problem);
        if (i == 0 && (pieces->size() > 1 || pieces->first().text.isEmpty()))
            return QStringLiteral("the program (argument 1) must be a name or path without placeholders");
    }
    return {};
}

} // namespace

QList<RowAction> builtInRowActions()
{
    return {{RowAction::Kind::OpenInBrowser, QStringLiteral("Open in Browser"), {}},
            {RowAction::Kind::CopyAddress, QStringLiteral("Copy Address"), {}},
            {RowAction::Kind::CopyMacAddress, QStringLiteral("Copy MAC Address"), {}},
            {RowAction::Kind::SetLabel, QStringLiteral("Set Label..."), {}},
            {RowAction::Kind::DontWatch, QStringLiteral("Don't Watch"), {}},
            {RowAction::Kind::History, QStringLiteral("History..."), {}}};
}

QString actionNameKey(QStringView name)
{
    QString key;
    for (const char32_t c : name.toUcs4()) {
        const auto alike = std::find_if(std::begin(lookAlikes), std::end(lookAlikes),
                                        [c](const LookAlike &lookAlike) { return lookAlike.letter == c; });
        if (alike != std::end(lookAlikes))
            key += QChar(alike->latin);
        else if (c == U'\u2026')
            key += QStringLiteral("...");
        else if (c != U'&')
            key += QString::fromUcs4(&c, 1);
    }
    return key.simplified().toCaseFolded();
}

bool isBuiltInActionName(QStringView name)
{
    const QString key = actionNameKey(name);
    const QList<RowAction> builtIn = builtInRowActions();
    return std::any_of(builtIn.begin(), builtIn.end(),
                       [&](const RowAction &action) { return actionNameKey(action.name) == key; });
}

QString commandText(const QStringList &command)
{
    QStringList shown;
    for (const QString &argument : command) {
        const bool plain = !argument.isEmpty() && std::none_of(argument.begin(), argument.end(), [](QChar c) {
            return c.isSpace() || c == u'"' || c == u'\'' || c == u'\\';
        });
        const QString escaped = QString(argument).replace(u'\\', QStringLiteral("\\\\")).replace(u'"', QStringLiteral("\\\""));
        shown.append(plain ? argument : u'"' + escaped + u'"');
    }
    return shown.join(u' ');
}

RowActionsFile parseRowActions(const QByteArray &bytes)
{
    if (bytes.size() > maxActionsFileBytes)
        return {{}, QStringLiteral("larger than %1 KiB").arg(maxActionsFileBytes / 1024)};
    const ParsedJson parsed = parseBoundedJson(bytes);
    if (!parsed.problem.isEmpty())
        return {{}, parsed.problem};
    if (!parsed.document.isArray())
        return {{}, QStringLiteral("not a list of actions (a JSON array)")};
    const QJsonArray array = parsed.document.array();
    if (array.size() > maxRowActions)
        return {{}, QStringLiteral("more than %1 actions").arg(maxRowActions)};
    RowActionsFile file;
    for (qsizetype i = 0; i < array.size(); ++i) {
        if (const QString problem = actionProblem(array.at(i)); !problem.isEmpty())
            return {{}, QStringLiteral("action %1: %2").arg(QString::number(i + 1), problem)};
        const QJsonObject object = array.at(i).toObject();
        QStringList command;
        for (const QJsonValue &argument : object.value(u"command").toArray())
            command.append(argument.toString());
        file.actions.append({RowAction::Kind::Program, object.value(u"name").toString().trimmed(), command});
    }
    return file;
}

QString rowActionsPath()
{
    return configFile(QStringLiteral("actions.json"));
}

RowActionsFile readRowActions(const QString &path)
{
    const QFileInfo info(path);
    if (!info.exists() && !info.isSymLink())
        return {};
    const FileBytes bytes = readBoundedFile(path, true);
    RowActionsFile file = bytes.problem.isEmpty() ? parseRowActions(bytes.bytes) : RowActionsFile{{}, bytes.problem};
    if (!file.problem.isEmpty())
        file.problem = QStringLiteral("%1: %2").arg(path, file.problem);
    return file;
}

ExpandedCommand expandCommand(const QStringList &command, const DeviceRecord &record, const QString &label)
{
    ExpandedCommand expanded;
    for (const QString &argument : command) {
        QString problem;
        const std::optional<QList<Piece>> pieces = piecesOf(argument, &problem);
        if (!pieces)
            return {{}, problem};
        QString text;
        for (const Piece &piece : *pieces) {
            if (!piece.placeholder) {
                text += piece.text;
                continue;
            }
            const auto [value, what] = valueOf(piece.text, record, label);
            if (value.isEmpty())
                return {{}, QStringLiteral("no %1").arg(what)};
            if (value.size() > maxActionArgumentLength)
                return {{}, QStringLiteral("the %1 is longer than %2 characters").arg(what).arg(maxActionArgumentLength)};
            if (holdsUnsafeCharacter(value))
                return {{}, QStringLiteral("the %1 holds a control or invisible character").arg(what)};
            if (text.isEmpty() && value.startsWith(u'-'))
                return {{}, QStringLiteral("the %1 starts with '-'").arg(what)};
            text += value;
        }
        expanded.arguments.append(text);
    }
    return expanded;
}
