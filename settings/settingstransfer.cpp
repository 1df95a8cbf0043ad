#include "settings/settingstransfer.h"

#include "settings/rowactions.h"
#include "settings/stagedfiles.h"
#include "history/devicehistory.h"
#include "history/devicewatch.h"
#include "labels/devicelabels.h"
#include "labels/labelsformat.h"
#include "platform/boundedjson.h"
#include "platform/englishtext.h"
#include "platform/preferences.h"
#include "platform/safejson.h"
#include "platform/safetext.h"
#include "platform/sitename.h"
#include "platform/versioneddocument.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

constexpr QStringView formatName = u"devicefinder-settings";
constexpr int formatVersion = 1;

// The window's choices that move, each with the values it may take.
struct WindowChoice {
    const QString &key;
    QJsonValue::Type type;
    int low = 0; // Double: a whole number from low to high; String: at most high characters
    int high = 0;
    std::optional<QString> (*textProblem)(QStringView) = nullptr; // String: what else it must be
};
const WindowChoice windowChoices[] = {
    {WatchKey, QJsonValue::Bool},
    {WatchIntervalKey, QJsonValue::Double, minWatchIntervalMinutes, maxWatchIntervalMinutes},
    {WatchMissingAfterKey, QJsonValue::Double, WatchRule::minMissingAfter, WatchRule::maxMissingAfter},
    {WatchLocalNetworkKey, QJsonValue::Bool},
    {WatchRangeKey, QJsonValue::Bool},
    {LastScanAddressKey, QJsonValue::String, 0, 1000},
    {SiteNameKey, QJsonValue::String, 0, int(maxSiteNameLength), siteNameProblem},
};

QJsonValue storedChoice(const WindowChoice &choice)
{
    const QVariant value = Preferences::standard().value(choice.key);
    switch (choice.type) {
    case QJsonValue::Bool:
        return value.toBool();
    case QJsonValue::Double:
        return value.toInt();
    default:
        return value.toString();
    }
}

std::optional<QString> choiceProblem(const WindowChoice &choice, const QJsonValue &value)
{
    const bool fits = value.type() == choice.type
                      && (choice.type != QJsonValue::Double
                          || (value.toDouble() == double(value.toInt()) && value.toInt() >= choice.low
                              && value.toInt() <= choice.high))
                      && (choice.type != QJsonValue::String
                          || (value.toString().size() <= choice.high && !holdsUnsafeCharacter(value.toString())
                              && !(choice.textProblem && choice.textProblem(value.toString()))));
    if (fits)
        return std::nullopt;
    return QStringLiteral("the window's %1 is not a value it can take").arg(choice.key);
}

QString shown(const QJsonValue &value)
{
    return QString::fromUtf8(safeJsonValue(value));
}

SettingsReading refused(const QString &problem)
{
    return {std::nullopt, problem};
}

// An action as one line: its name, what is said of it, then its command.
QString actionLine(const RowAction &action, QStringView said)
{
    return QStringLiteral("action \"%1\"%2: %3").arg(action.name, said, commandText(action.command));
}

// The keys of a document that this version does not read, each named once, up to a bound.
struct UnknownKeys final {
    static constexpr qsizetype maxNamed = 20;
    QStringList lines;
    qsizetype rest = 0;

    // Notes each key of `object` that `known` does not hold; `where` ends its line.
    template <typename Known>
    void note(const QJsonObject &object, const Known &known, const QString &where)
    {
        for (auto it = object.begin(); it != object.end(); ++it) {
            if (std::find(std::begin(known), std::end(known), it.key()) != std::end(known))
                continue;
            if (lines.size() == maxNamed) {
                ++rest;
                continue;
            }
            // A key is the document's to choose: a long one is cut, never inside a character.
            const qsizetype cut = it.key().size() > 64 ? (it.key().at(63).isHighSurrogate() ? 63 : 64) : -1;
            const QString key = cut < 0 ? it.key() : it.key().first(cut) + u'\u2026';
            lines.append(QStringLiteral("unknown key \"%1\"%2, not used").arg(key, where));
        }
    }
    QStringList named() const
    {
        if (rest == 0)
            return lines;
        return lines + QStringList{QStringLiteral("%1 more unknown %2, not used")
                                       .arg(groupedNumber(quint64(rest)), rest == 1 ? u"key" : u"keys")};
    }
};

// The MAC addresses the device history knows, or why it cannot say. Only read: a damaged
// file is the history's own to set aside, at its next load.
struct KnownToHistory final {
    std::optional<QSet<QString>> macs;
    QString problem;
};
KnownToHistory knownToHistory(const QString &path)
{
    const FileBytes file = readBoundedFile(path, true);
    if (file.status == FileBytes::Status::Missing)
        return {QSet<QString>(), {}};
    if (!file.problem.isEmpty())
        return {std::nullopt, file.problem};
    const HistoryReading reading = DeviceHistory::read(file.bytes);
    if (!reading.history)
        return {std::nullopt, reading.problem};
    QSet<QString> macs;
    for (const QString &mac : reading.history->newestFirst()) {
        if (const std::optional<QString> key = macAddressKey(mac))
            macs.insert(*key);
    }
    return {macs, {}};
}

// The watch choices once a merge has taken the document's: for every device with `all`, else
// for each device this computer does not know (no label, no choice here, not in the history).
// Each one taken is one line in `result.watched`; the lines of those kept are returned.
QStringList takeWatchChoices(const LabelsContent &document, bool all, const QMap<QString, QString> &labels,
                             QSet<QString> &unwatched, const QString &historyPath, SettingsImport &result)
{
    QStringList devices = document.labels.keys() + QStringList(document.unwatched.cbegin(), document.unwatched.cend());
    devices.sort();
    devices.removeDuplicates();
    std::optional<KnownToHistory> history; // read only when a device is known nowhere else
    QStringList kept;
    for (const QString &mac : devices) {
        const bool off = document.unwatched.contains(mac);
        if (off == unwatched.contains(mac))
            continue;
        bool take = all;
        if (!take && off && !labels.contains(mac)) {
            if (!history) {
                history = knownToHistory(historyPath);
                if (!history->macs)
                    kept.prepend(QStringLiteral("watch: the device history %1 cannot be used (%2), so every device "
                                                "keeps its choice here")
                                     .arg(historyPath, history->problem));
            }
            take = history->macs && !history->macs->contains(mac);
        }
        if (!take) {
            kept.append(
                QStringLiteral("watch %1: kept %2, not %3").arg(mac, off ? u"on" : u"off", off ? u"off" : u"on"));
            continue;
        }
        if (off)
            unwatched.insert(mac);
        else
            unwatched.remove(mac);
        ++result.watchChoices;
        result.watched.append(QStringLiteral("watch %1 taken in: %2").arg(mac, off ? u"off" : u"on"));
    }
    return kept;
}

// The labels and watch choices once the document's are taken in; each difference kept is
// one line in `result`.
void takeLabels(const LabelsContent &document, SettingsImportChoice how, const QString &historyPath,
                QMap<QString, QString> &labels, QSet<QString> &unwatched, SettingsImport &result)
{
    if (how.replace) {
        for (auto it = document.labels.cbegin(); it != document.labels.cend(); ++it)
            result.labels += labels.value(it.key()) != it.value() ? 1 : 0;
        result.watchChoices = (unwatched - document.unwatched).size() + (document.unwatched - unwatched).size();
        labels = document.labels;
        unwatched = document.unwatched;
        return;
    }
    // Before the labels: a device that has one only from the document is not known here.
    const QStringList watchKept = takeWatchChoices(document, how.watchChoices, labels, unwatched, historyPath, result);
    for (auto it = document.labels.cbegin(); it != document.labels.cend(); ++it) {
        const QString kept = labels.value(it.key());
        if (kept.isEmpty()) {
            labels.insert(it.key(), it.value());
            ++result.labels;
        } else if (kept != it.value()) {
            result.kept.append(QStringLiteral("label %1: kept \"%2\", not \"%3\"").arg(it.key(), kept, it.value()));
        }
    }
    result.kept += watchKept;
}

// The actions file once the document's actions are taken in, or why not.
std::optional<QJsonArray> takeActions(const SettingsDocument &document, const QString &path, bool replace,
                                      SettingsImport &result)
{
    QJsonArray actions;
    QList<RowAction> here;
    const FileBytes current = readBoundedFile(path, true);
    if (!replace && current.status != FileBytes::Status::Missing) {
        const RowActionsFile parsed = current.problem.isEmpty() ? parseRowActions(current.bytes) : RowActionsFile{};
        if (!current.problem.isEmpty() || !parsed.problem.isEmpty()) {
            result.problem = QStringLiteral("the actions file %1 is not used, so nothing can be merged into it: %2")
                                 .arg(path, current.problem.isEmpty() ? parsed.problem : current.problem);
            return std::nullopt;
        }
        here = parsed.actions;
        actions = QJsonDocument::fromJson(current.bytes).array();
    }
    for (qsizetype i = 0; i < document.actions->size(); ++i) {
        const RowAction &action = document.actions->at(i);
        const auto same = std::find_if(here.cbegin(), here.cend(), [&](const RowAction &kept) {
            return actionNameKey(kept.name) == actionNameKey(action.name);
        });
        if (same == here.cend()) {
            actions.append(document.actionsJson.at(i));
            result.actions.append(actionLine(action, u" taken in"));
        } else if (same->command != action.command) {
            result.kept.append(QStringLiteral("action \"%1\": kept %2, not %3")
                                   .arg(action.name, commandText(same->command), commandText(action.command)));
        }
    }
    const RowActionsFile together = parseRowActions(safeJson(QJsonDocument(actions)));
    if (!together.problem.isEmpty()) {
        result.problem =
            QStringLiteral("the actions with those of %1 would make a file that is not used: %2").arg(path, together.problem);
        return std::nullopt;
    }
    return actions;
}

} // namespace

SettingsExport exportSettings(const SettingsFiles &files)
{
    const DeviceLabels labels(files.labels);
    if (labels.isReadOnly())
        return {{}, labels.readOnlyReason()};
    QJsonObject root = versionedDocumentHead(formatName, formatVersion);
    root.insert(QStringLiteral("labels"), labelEntries(labels.labels(), labels.unwatched()));
    const FileBytes actions = readBoundedFile(files.actions, true);
    if (actions.status != FileBytes::Status::Missing) {
        const RowActionsFile parsed = actions.problem.isEmpty() ? parseRowActions(actions.bytes) : RowActionsFile{};
        if (!actions.problem.isEmpty() || !parsed.problem.isEmpty())
            return {{}, QStringLiteral("the actions file %1 is not used: %2")
                            .arg(files.actions, actions.problem.isEmpty() ? parsed.problem : actions.problem)};
        root.insert(QStringLiteral("actions"), QJsonDocument::fromJson(actions.bytes).array());
    }
    QJsonObject window;
    for (const WindowChoice &choice : windowChoices) {
        if (Preferences::standard().isStored(choice.key))
            window.insert(choice.key, storedChoice(choice));
    }
    if (!window.isEmpty())
        root.insert(QStringLiteral("window"), window);
    return {safeJson(QJsonDocument(root)), {}};
}

SettingsReading readSettings(const QByteArray &bytes)
{
    const VersionedDocument read = readVersionedDocument(bytes, formatName, formatVersion);
    switch (read.kind) {
    case VersionedDocument::Kind::Unparsed:
        return refused(read.problem);
    case VersionedDocument::Kind::Foreign:
        return refused(QStringLiteral("not a settings file of Device Finder"));
    case VersionedDocument::Kind::NoVersion:
        return refused(QStringLiteral("its version is not a whole number of 1 or more"));
    case VersionedDocument::Kind::Newer:
        return refused(QStringLiteral("written by a newer version of Device Finder (settings version %1)").arg(read.version));
    case VersionedDocument::Kind::Document:
        break;
    }
    const QJsonObject &root = read.root;
    SettingsDocument document;
    UnknownKeys unknown;
    unknown.note(root, std::initializer_list<QStringView>{u"format", u"version", u"labels", u"actions", u"window"}, {});
    if (const QJsonValue labels = root.value(u"labels"); !labels.isUndefined()) {
        if (!labels.isArray())
            return refused(QStringLiteral("its labels are not a list"));
        document.labels = labelsFromEntries(labels.toArray());
        if (document.labels->status != LabelsContent::Status::Read)
            return refused(document.labels->problem);
        for (qsizetype i = 0; i < labels.toArray().size(); ++i)
            unknown.note(labels.toArray().at(i).toObject(), labelEntryKeys, QStringLiteral(" in label %1").arg(i + 1));
    }
    if (const QJsonValue actions = root.value(u"actions"); !actions.isUndefined()) {
        const RowActionsFile checked = actions.isArray() ? parseRowActions(safeJson(QJsonDocument(actions.toArray())))
                                                         : RowActionsFile{{}, QStringLiteral("not a list")};
        if (!checked.problem.isEmpty())
            return refused(QStringLiteral("its actions: %1").arg(checked.problem));
        document.actions = checked.actions;
        document.actionsJson = actions.toArray();
        for (qsizetype i = 0; i < document.actionsJson.size(); ++i)
            unknown.note(document.actionsJson.at(i).toObject(), actionKeys, QStringLiteral(" in action %1").arg(i + 1));
    }
    const QJsonValue window = root.value(u"window");
    if (!window.isUndefined() && !window.isObject())
        return refused(QStringLiteral("its window choices are not an object"));
    for (const WindowChoice &choice : windowChoices) {
        const QJsonValue value = window.toObject().value(choice.key);
        if (value.isUndefined())
            continue;
        if (const std::optional<QString> problem = choiceProblem(choice, value))
            return refused(*problem);
        document.window.insert(choice.key, value);
    }
    QStringList windowKeys;
    for (const WindowChoice &choice : windowChoices)
        windowKeys.append(choice.key);
    unknown.note(window.toObject(), windowKeys, QStringLiteral(" in \"window\""));
    document.unknownKeys = unknown.named();
    return {document, {}};
}

SettingsImport importSettings(const SettingsDocument &document, const SettingsFiles &files, SettingsImportChoice how)
{
    SettingsImport result;
    DeviceLabels here(files.labels);
    StagedFiles staged;
    result.problem = here.holdingLock([&]() -> QString {
        if (document.labels) {
            here.reload();
            if (here.isReadOnly())
                return here.readOnlyReason();
            QMap<QString, QString> labels = here.labels();
            QSet<QString> unwatched = here.unwatched();
            takeLabels(*document.labels, how, files.history, labels, unwatched, result);
            if (QSet<QString>(unwatched).unite(QSet<QString>(labels.keyBegin(), labels.keyEnd())).size() > maxLabels)
                return QStringLiteral("with the labels here, there would be more than %1, the most the labels file keeps")
                    .arg(maxLabels);
            if (labels != here.labels() || unwatched != here.unwatched()) {
                if (const QString problem = staged.stage(here.path(), labelsToJson(labels, unwatched)); !problem.isEmpty())
                    return problem;
            }
        }
        if (document.actions && how.actions) {
            const std::optional<QJsonArray> actions = takeActions(document, files.actions, how.replace, result);
            if (!actions)
                return result.problem;
            if (!result.actions.isEmpty() || how.replace) {
                if (const QString problem = staged.stage(files.actions, safeJson(QJsonDocument(*actions)));
                    !problem.isEmpty())
                    return problem;
            }
        } else if (document.actions) {
            for (const RowAction &action : *document.actions)
                result.kept.append(actionLine(action, u" not taken in"));
        }
        QVariantMap choices;
        for (const WindowChoice &choice : windowChoices) {
            const QJsonValue value = document.window.value(choice.key);
            const bool stored = Preferences::standard().isStored(choice.key);
            if (value.isUndefined() || (stored && storedChoice(choice) == value))
                continue;
            if (stored && !how.replace) {
                result.kept.append(
                    QStringLiteral("window %1: kept %2, not %3").arg(choice.key, shown(storedChoice(choice)), shown(value)));
                continue;
            }
            choices.insert(choice.key, choice.type == QJsonValue::Double ? QVariant(value.toInt()) : value.toVariant());
            result.windowChoices.append(choice.key);
        }
        if (const QString problem = staged.commit(); !problem.isEmpty())
            return problem;
        // Last: once they are set, nothing is left that could fail.
        if (const QString problem = Preferences::standard().setValues(choices); !problem.isEmpty()) {
            const QString notPutBack = staged.restore();
            return notPutBack.isEmpty() ? problem : problem + QStringLiteral("; ") + notPutBack;
        }
        return QString();
    });
    if (!result.problem.isEmpty())
        return {result.problem, 0, 0, {}, {}, {}, {}};
    return result;
}

QStringList keptWatchChoices(const SettingsDocument &document, const SettingsFiles &files)
{
    if (!document.labels)
        return {};
    const DeviceLabels here(files.labels);
    QSet<QString> unwatched = here.unwatched();
    SettingsImport taken;
    return takeWatchChoices(*document.labels, false, here.labels(), unwatched, files.history, taken);
}
