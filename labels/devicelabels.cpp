#include "labels/devicelabels.h"

#include "history/setaside.h"
#include "labels/labelsformat.h"
#include "platform/boundedjson.h"
#include "platform/datalock.h"
#include "platform/log.h"
#include "platform/toolfiles.h"
#include "platform/wholefile.h"

#include <QDir>
#include <QFileInfo>

#include <utility>

namespace {

QString lockProblem(const DataLockResult &lock)
{
    if (lock.outcome == DataLockOutcome::Busy)
        return QStringLiteral("another instance of Device Finder is editing the labels; try again");
    const QString problem = QStringLiteral("no lock file can be made beside the labels file");
    if (!lock.reason.isEmpty())
        return problem + QStringLiteral(": ") + lock.reason;
    return lock.outcome == DataLockOutcome::Denied ? problem + QStringLiteral(" (permission denied)") : problem;
}

QString notMacAddress(QStringView mac)
{
    return QStringLiteral("not a MAC address (six pairs of hex digits between ':' or '-'): %1").arg(mac);
}

} // namespace

// What the file holds now. Unreadable and Newer: not read, and left where it is, for the
// reason given.
struct DeviceLabels::Reading final {
    enum class Outcome { Labels, SetAside, Unreadable, Newer };
    Outcome outcome = Outcome::Labels;
    QMap<QString, QString> labels;
    QSet<QString> unwatched;
    QString problem; // for the user
    QString cause;   // for the log
};

QString DeviceLabels::defaultPath()
{
    return dataFile(QStringLiteral("labels.json"));
}

DeviceLabels::DeviceLabels(QString path, std::chrono::milliseconds lockWait)
    : m_path(std::move(path)), m_lockWait(lockWait)
{
    reload();
}

void DeviceLabels::reload()
{
    take(readFile());
}

void DeviceLabels::take(const Reading &reading)
{
    switch (reading.outcome) {
    case Reading::Outcome::Labels:
    case Reading::Outcome::SetAside:
        m_labels = reading.labels;
        m_unwatched = reading.unwatched;
        m_readOnlyReason.clear();
        return;
    case Reading::Outcome::Newer:
        m_labels.clear();
        m_unwatched.clear();
        break;
    case Reading::Outcome::Unreadable:
        // The labels read before stay shown: the file is most likely whole.
        break;
    }
    if (reading.problem == m_readOnlyReason)
        return; // said already
    m_readOnlyReason = reading.problem;
    logLine(lcModel, "Labels file %@ left untouched, labels are read-only: %@", m_path, reading.cause);
    if (reading.outcome == Reading::Outcome::Unreadable)
        m_notice = reading.problem;
}

DeviceLabels::Reading DeviceLabels::readFile()
{
    LabelsContent content;
    const OwnFileReading file = readOwnFile(m_path, [&content](const QByteArray &bytes) {
        content = labelsFromJson(bytes);
        return content.status == LabelsContent::Status::Damaged ? std::optional(content.problem) : std::nullopt;
    });
    const auto unreadable = [this](const QString &cause) {
        return Reading{Reading::Outcome::Unreadable, {}, {},
                       QStringLiteral("the labels file %1 %2; labels are read-only until it can be read").arg(m_path, cause),
                       cause};
    };
    switch (file.status) {
    case OwnFileReading::Status::Missing:
        return {};
    case OwnFileReading::Status::Unreadable:
        // Not damage: it may be whole, and is read again the next time.
        return unreadable(QStringLiteral("cannot be read now: %1").arg(file.problem));
    case OwnFileReading::Status::Damaged:
        return unreadable(
            QStringLiteral("is damaged (%1) and could not be set aside: %2").arg(file.problem, file.asideProblem));
    case OwnFileReading::Status::SetAside:
        logLine(lcModel, "Labels file %@ set aside as %@: %@", m_path, file.asidePath, file.problem);
        m_notice = QStringLiteral("the labels file was damaged (%1) and set aside as %2").arg(file.problem, file.asidePath);
        return {Reading::Outcome::SetAside, {}, {}, {}, {}};
    case OwnFileReading::Status::Read:
        break;
    }
    if (content.status == LabelsContent::Status::Newer)
        return {Reading::Outcome::Newer, {}, {},
                QStringLiteral("the labels file %1 was %2; labels are read-only").arg(m_path, content.problem), content.problem};
    return {Reading::Outcome::Labels, content.labels, content.unwatched, {}, {}};
}

QString DeviceLabels::label(QStringView mac) const
{
    const std::optional<QString> key = macAddressKey(mac);
    return key ? m_labels.value(*key) : QString();
}

QString DeviceLabels::labelOf(const DeviceRecord &record) const
{
    const std::optional<QString> mac = deviceMac(record);
    return mac ? label(*mac) : QString();
}

QString DeviceLabels::takeNotice()
{
    return std::exchange(m_notice, QString());
}

bool DeviceLabels::isWatched(QStringView mac) const
{
    const std::optional<QString> key = macAddressKey(mac);
    return !key || !m_unwatched.contains(*key);
}

QString DeviceLabels::setLabel(QStringView mac, const QString &text)
{
    const std::optional<QString> key = macAddressKey(mac);
    if (!key)
        return notMacAddress(mac);
    const QString label = text.trimmed();
    if (!label.isEmpty()) {
        if (const std::optional<QString> problem = labelProblem(label))
            return *problem;
    }
    return edit([&](QMap<QString, QString> &labels, QSet<QString> &) {
        if (label.isEmpty())
            labels.remove(*key);
        else
            labels.insert(*key, label);
    });
}

QString DeviceLabels::setWatched(QStringView mac, bool watched)
{
    const std::optional<QString> key = macAddressKey(mac);
    if (!key)
        return notMacAddress(mac);
    return edit([&](QMap<QString, QString> &, QSet<QString> &unwatched) {
        if (watched)
            unwatched.remove(*key);
        else
            unwatched.insert(*key);
    });
}

QString DeviceLabels::holdingLock(const std::function<QString()> &act)
{
    QString result;
    const DataLockResult lock = holdingDataLock(m_path + QStringLiteral(".lock"), m_lockWait, [&] { result = act(); });
    return lock.outcome == DataLockOutcome::Held ? result : lockProblem(lock);
}

QString DeviceLabels::edit(const std::function<void(QMap<QString, QString> &, QSet<QString> &)> &change)
{
    return holdingLock([&]() -> QString {
        // Read again whatever this object found before: a read-only state ends with the file
        // read, and a file this object cannot read is one it must never replace.
        Reading reading = readFile();
        if (reading.outcome == Reading::Outcome::SetAside) {
            // the damage was nobody's edit: what this object read before stays
            reading.labels = m_labels;
            reading.unwatched = m_unwatched;
        }
        take(reading);
        if (isReadOnly())
            return m_readOnlyReason;
        change(reading.labels, reading.unwatched);
        QSet<QString> entries(reading.unwatched);
        for (auto it = reading.labels.cbegin(); it != reading.labels.cend(); ++it)
            entries.insert(it.key());
        if (entries.size() > maxLabels)
            return QStringLiteral("there are %1 labels already, the most the labels file keeps").arg(maxLabels);

        if (const Result<> written =
                writeWholeFile(m_path, labelsToJson(reading.labels, reading.unwatched), FileOwner::Tool);
            !written) {
            logLine(lcModel, "Labels file %@ could not be written: %@", m_path, written.reason());
            return QStringLiteral("the labels file %1 could not be written: %2").arg(m_path, written.reason());
        }
        m_labels = reading.labels;
        m_unwatched = reading.unwatched;
        return QString();
    });
}
