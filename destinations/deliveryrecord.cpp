#include "destinations/deliveryrecord.h"

#include "platform/boundedjson.h"
#include "platform/datalock.h"
#include "platform/log.h"
#include "platform/safejson.h"
#include "platform/versioneddocument.h"
#include "platform/wholefile.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonObject>

namespace {

constexpr QStringView format = u"devicefinder-deliveries";
// More names than any destinations file holds: those of removed ones go first.
constexpr qsizetype maxKept = 1000;

struct Read {
    bool newer = false;
    QJsonObject deliveries;
};

Read readObject(const QString &path)
{
    const FileBytes bytes = readBoundedFile(path, true);
    if (bytes.status != FileBytes::Status::Read)
        return {};
    const VersionedDocument document = readVersionedDocument(bytes.bytes, format, 1);
    if (document.kind == VersionedDocument::Kind::Newer)
        return {true, {}};
    return {false, document.root.value(u"deliveries").toObject()};
}

} // namespace

QString deliveriesFilePath(const QString &dataFolder)
{
    return QDir(dataFolder).filePath(QStringLiteral("deliveries.json"));
}

QHash<QString, LastDelivery> readDeliveries(const QString &path)
{
    QHash<QString, LastDelivery> last;
    const QJsonObject deliveries = readObject(path).deliveries;
    for (auto entry = deliveries.begin(); entry != deliveries.end(); ++entry) {
        const QJsonObject object = entry.value().toObject();
        const QDateTime time = QDateTime::fromString(object.value(u"time").toString(), Qt::ISODate);
        if (time.isValid())
            last.insert(entry.key(), {object.value(u"sent").toBool(), object.value(u"outcome").toString(), time});
    }
    return last;
}

void recordDelivery(const QString &path, const QString &destination, const LastDelivery &last)
{
    std::optional<QString> problem;
    const DataLockResult locked = holdingDataLock(dataLockPath(QFileInfo(path).absolutePath()), std::chrono::seconds(2), [&] {
        Read read = readObject(path);
        if (read.newer)
            return;
        read.deliveries.insert(destination, QJsonObject{{QStringLiteral("sent"), last.sent},
                                                        {QStringLiteral("outcome"), last.outcome},
                                                        {QStringLiteral("time"), last.time.toUTC().toString(Qt::ISODate)}});
        while (read.deliveries.size() > maxKept)
            read.deliveries.erase(read.deliveries.begin());
        QJsonObject root = versionedDocumentHead(format, 1);
        root.insert(QStringLiteral("deliveries"), read.deliveries);
        if (const Result<> written = writeWholeFile(path, safeJson(QJsonDocument(root)), FileOwner::Tool); !written)
            problem = written.reason();
    });
    if (locked.outcome != DataLockOutcome::Held)
        problem = locked.reason.isEmpty() ? QStringLiteral("the data lock is held by another instance") : locked.reason;
    if (problem)
        logLine(lcApp, "The deliveries file %@ could not be written: %@", path, *problem);
}
