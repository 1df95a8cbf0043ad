#include "controller/settingstransfer.h"

#include "controller/rowactions.h"
#include "labels/devicelabels.h"
#include "labels/labelsformat.h"
#include "platform/boundedjson.h"
#include "platform/preferences.h"
#include "platform/safetext.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

namespace {

constexpr QStringView formatName = u"devicefinder-settings";
constexpr int formatVersion = 1;

// The window's choices that move, each with the values it may take.
struct WindowChoice {
    const QString &key;
    QJsonValue::Type type;
    int low = 0; // Double: a whole number from low to high; String: at most high characters
    int high = 0;
};
const WindowChoice windowChoices[] = {
    {WatchKey, QJsonValue::Bool},
    {WatchIntervalKey, QJsonValue::Double, 1, 1440},
    {WatchMissingAfterKey, QJsonValue::Double, 1, 1000},
    {LastScanAddressKey, QJsonValue::String, 0, 1000},
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
                          || (value.toString().size() <= choice.high && !holdsUnsafeCharacter(value.toString())));
    if (fits)
        return std::nullopt;
    return QStringLiteral("the window's %1 is not a value it can take").arg(choice.key);
}

QString shown(const QJsonValue &value)
{
    return QString::fromUtf8(QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact).chopped(1).sliced(1));
}

SettingsImport refused(const QString &problem)
{
    return {SettingsImport::Outcome::Refused, problem, {}};
}

QString writeActions(const QString &path, const QJsonArray &actions)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    const QByteArray bytes = QJsonDocument(actions).toJson(QJsonDocument::Indented);
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit())
        return QStringLiteral("the actions file %1 could not be written: %2").arg(path, file.errorString());
    return {};
}

} // namespace

SettingsExport exportSettings(const SettingsFiles &files)
{
    const DeviceLabels labels(files.labels);
    if (labels.isReadOnly())
        return {{}, labels.readOnlyReason()};
    QJsonObject root{{QStringLiteral("format"), formatName.toString()}, {QStringLiteral("version"), formatVersion}};
    root.insert(QStringLiteral("labels"),
                QJsonDocument::fromJson(labelsToJson(labels.labels(), labels.unwatched())).object().value(u"labels"));
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
    return {QJsonDocument(root).toJson(QJsonDocument::Indented), {}};
}

SettingsImport importSettings(const QByteArray &bytes, const SettingsFiles &files, bool replace)
{
    // Everything is checked before anything is written.
    const ParsedJson parsed = parseBoundedJson(bytes);
    if (!parsed.problem.isEmpty())
        return refused(parsed.problem);
    const QJsonObject root = parsed.document.object();
    if (!parsed.document.isObject() || root.value(u"format").toString() != formatName)
        return refused(QStringLiteral("not a settings file of Device Finder"));
    const QJsonValue version = root.value(u"version");
    if (!version.isDouble() || version.toInteger(0) < 1)
        return refused(QStringLiteral("its version is not a whole number of 1 or more"));
    if (version.toInteger() > formatVersion)
        return refused(QStringLiteral("written by a newer version of Device Finder (settings version %1)")
                           .arg(version.toInteger()));
    const QJsonValue labelsValue = root.value(u"labels");
    if (!labelsValue.isUndefined() && !labelsValue.isArray())
        return refused(QStringLiteral("its labels are not a list"));
    // The labels file's own reader checks every entry and the bound on their number.
    const LabelsContent labels = labelsFromJson(QJsonDocument(QJsonObject{{QStringLiteral("format"), QStringLiteral("devicefinder-labels")},
                                                                          {QStringLiteral("version"), 2},
                                                                          {QStringLiteral("labels"), labelsValue.toArray()}})
                                                    .toJson(QJsonDocument::Compact));
    if (labels.status != LabelsContent::Status::Read)
        return refused(labels.problem);
    const QJsonValue actions = root.value(u"actions");
    if (!actions.isUndefined()) {
        const RowActionsFile checked =
            actions.isArray() ? parseRowActions(QJsonDocument(actions.toArray()).toJson()) : RowActionsFile{{}, QStringLiteral("not a list")};
        if (!checked.problem.isEmpty())
            return refused(QStringLiteral("its actions: %1").arg(checked.problem));
    }
    const QJsonValue window = root.value(u"window");
    if (!window.isUndefined() && !window.isObject())
        return refused(QStringLiteral("its window choices are not an object"));
    for (const WindowChoice &choice : windowChoices) {
        const QJsonValue value = window.toObject().value(choice.key);
        if (!value.isUndefined()) {
            if (const std::optional<QString> problem = choiceProblem(choice, value))
                return refused(*problem);
        }
    }

    SettingsImport result;
    DeviceLabels local(files.labels);
    const QString problem = local.edit([&](QMap<QString, QString> &here, QSet<QString> &unwatched) {
        if (replace) {
            here = labels.labels;
            unwatched = labels.unwatched;
            return;
        }
        for (auto it = labels.labels.cbegin(); it != labels.labels.cend(); ++it) {
            const QString kept = here.value(it.key());
            if (kept.isEmpty())
                here.insert(it.key(), it.value());
            else if (kept != it.value())
                result.conflicts.append(QStringLiteral("label %1: kept \"%2\", not \"%3\"").arg(it.key(), kept, it.value()));
        }
        unwatched.unite(labels.unwatched);
    });
    if (!problem.isEmpty())
        return {SettingsImport::Outcome::Failed, problem, {}};

    if (actions.isArray()) {
        const FileBytes current = readBoundedFile(files.actions, true);
        const bool differs = current.status != FileBytes::Status::Missing
                             && QJsonDocument::fromJson(current.bytes).array() != actions.toArray();
        if (differs && !replace) {
            result.conflicts.append(QStringLiteral("actions: kept those of %1").arg(files.actions));
        } else if (const QString written = writeActions(files.actions, actions.toArray()); !written.isEmpty()) {
            result.outcome = SettingsImport::Outcome::Failed;
            result.problem = written;
        }
    }
    for (const WindowChoice &choice : windowChoices) {
        const QJsonValue value = window.toObject().value(choice.key);
        if (value.isUndefined())
            continue;
        const bool stored = Preferences::standard().isStored(choice.key);
        if (stored && !replace && storedChoice(choice) != value)
            result.conflicts.append(QStringLiteral("window %1: kept %2, not %3").arg(choice.key, shown(storedChoice(choice)), shown(value)));
        else if (!stored || replace)
            Preferences::standard().setValue(choice.key, choice.type == QJsonValue::Double ? QVariant(value.toInt())
                                                                                          : value.toVariant());
    }
    return result;
}
