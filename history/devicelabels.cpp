#include "history/devicelabels.h"

#include "history/labelsformat.h"
#include "history/setaside.h"
#include "history/boundedjson.h"
#include "platform/log.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QSaveFile>
#include <QStandardPaths>

#include <utility>

namespace {

// A live instance holds the lock for one read and one write; a lock this old belongs to one
// that hangs (one that died leaves a lock QLockFile sees as stale at once).
constexpr std::chrono::seconds staleLockAge{30};

QString lockProblem(QLockFile::LockError error)
{
    switch (error) {
    case QLockFile::LockFailedError:
        return QStringLiteral("another instance of Device Finder is editing the labels; try again");
    case QLockFile::PermissionError:
        return QStringLiteral("no lock file can be made beside the labels file (permission denied)");
    case QLockFile::NoError:
    case QLockFile::UnknownError:
        break;
    }
    return QStringLiteral("no lock file can be made beside the labels file");
}

} // namespace

// What the file holds now. Unusable: neither read nor set aside, for the reason given.
struct DeviceLabels::Reading final {
    enum class Outcome { Labels, SetAside, Unusable };
    Outcome outcome = Outcome::Labels;
    QMap<QString, QString> labels;
    QString problem;
};

QString DeviceLabels::defaultPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)
           + QStringLiteral("/devicefinder/labels.json");
}

DeviceLabels::DeviceLabels(QString path, std::chrono::milliseconds lockWait)
    : m_path(std::move(path)), m_lockWait(lockWait)
{
    reload();
}

void DeviceLabels::reload()
{
    m_labels.clear();
    if (isReadOnly())
        return;
    const Reading reading = readFile();
    if (reading.outcome == Reading::Outcome::Unusable)
        m_readOnlyReason = reading.problem;
    m_labels = reading.labels;
}

DeviceLabels::Reading DeviceLabels::readFile()
{
    const QFileInfo info(m_path);
    if (!info.exists() && !info.isSymLink())
        return {};
    // A file that cannot be opened may be whole: it is not damage, and is left alone.
    QFile file(m_path);
    if (info.isFile() && !file.open(QIODevice::ReadOnly))
        return {Reading::Outcome::Unusable, {},
                QStringLiteral("the labels file %1 cannot be read: %2").arg(m_path, file.errorString())};
    file.close();
    const FileBytes bytes = readBoundedFile(m_path, true);
    const LabelsContent content = bytes.problem.isEmpty() ? labelsFromJson(bytes.bytes)
                                                          : LabelsContent{LabelsContent::Status::Damaged, {}, bytes.problem};
    switch (content.status) {
    case LabelsContent::Status::Read:
        return {Reading::Outcome::Labels, content.labels, {}};
    case LabelsContent::Status::Newer:
        logLine(lcModel, "Labels file %@ left untouched, labels are read-only: %@", m_path, content.problem);
        return {Reading::Outcome::Unusable, {},
                QStringLiteral("the labels file %1 was %2; labels are read-only").arg(m_path, content.problem)};
    case LabelsContent::Status::Damaged:
        break;
    }
    const SetAside aside = setAsideFile(m_path);
    if (aside.path.isEmpty()) {
        logLine(lcModel, "Labels file %@ not read, and could not be set aside: %@ (%@)", m_path, content.problem,
                aside.problem);
        return {Reading::Outcome::Unusable, {},
                QStringLiteral("the labels file %1 is damaged (%2) and could not be set aside: %3")
                    .arg(m_path, content.problem, aside.problem)};
    }
    logLine(lcModel, "Labels file %@ set aside as %@: %@", m_path, aside.path, content.problem);
    m_notice = QStringLiteral("the labels file was damaged (%1) and set aside as %2").arg(content.problem, aside.path);
    return {Reading::Outcome::SetAside, {}, {}};
}

QString DeviceLabels::label(QStringView mac) const
{
    const std::optional<QString> key = macAddressKey(mac);
    return key ? m_labels.value(*key) : QString();
}

QString DeviceLabels::labelOf(const DeviceRecord &record) const
{
    const std::optional<QString> mac = deviceIdentity(record);
    return mac ? label(*mac) : QString();
}

QString DeviceLabels::takeNotice()
{
    return std::exchange(m_notice, QString());
}

QString DeviceLabels::setLabel(QStringView mac, const QString &text)
{
    const std::optional<QString> key = macAddressKey(mac);
    if (!key)
        return QStringLiteral("not a MAC address (six pairs of hex digits between ':' or '-'): %1").arg(mac);
    const QString label = text.trimmed();
    if (!label.isEmpty()) {
        if (const std::optional<QString> problem = labelProblem(label))
            return *problem;
    }
    if (isReadOnly())
        return m_readOnlyReason;

    QDir().mkpath(QFileInfo(m_path).absolutePath());
    QLockFile lock(m_path + QStringLiteral(".lock"));
    lock.setStaleLockTime(staleLockAge);
    if (!lock.tryLock(m_lockWait))
        return lockProblem(lock.error());

    Reading reading = readFile();
    switch (reading.outcome) {
    case Reading::Outcome::Unusable:
        // A file this object cannot read is one it must never replace.
        m_readOnlyReason = reading.problem;
        return reading.problem;
    case Reading::Outcome::SetAside:
        // The labels this object read before are kept: the damage was nobody's edit.
        reading.labels = m_labels;
        break;
    case Reading::Outcome::Labels:
        break;
    }
    m_labels = reading.labels;
    if (label.isEmpty())
        reading.labels.remove(*key);
    else
        reading.labels.insert(*key, label);
    if (reading.labels.size() > maxLabels)
        return QStringLiteral("there are %1 labels already, the most the labels file keeps").arg(maxLabels);

    const QByteArray bytes = labelsToJson(reading.labels);
    QSaveFile file(m_path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        logLine(lcModel, "Labels file %@ could not be written: %@", m_path, file.errorString());
        return QStringLiteral("the labels file %1 could not be written: %2").arg(m_path, file.errorString());
    }
    m_labels = reading.labels;
    return {};
}
