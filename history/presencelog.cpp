#include "history/presencelog.h"

#include "history/devicehistory.h"
#include "history/eventkind.h"
#include "platform/datalock.h"
#include "platform/log.h"
#include "platform/toolfiles.h"
#include "platform/safejson.h"
#include "platform/wholefile.h"
#include "platform/wholeline.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>

#include <algorithm>
#include <array>
#include <deque>
#include <utility>

namespace {

// Hands each whole line (without its line end) to `take`, and returns how many lines longer
// than maxLineBytes it passed over. A last line without its line end is one being written,
// or half of one: passed over uncounted (the next append ends it, and it is counted then).
template <typename Take>
qsizetype forEachLine(QFile &file, Take &&take)
{
    qsizetype overlong = 0;
    QByteArray buffer(PresenceLog::maxLineBytes + 2, Qt::Uninitialized);
    bool skipping = false;
    for (;;) {
        const qint64 read = file.readLine(buffer.data(), buffer.size());
        if (read <= 0)
            break;
        const bool ended = buffer.at(read - 1) == '\n';
        if (std::exchange(skipping, skipping && !ended))
            continue;
        if (!ended) {
            if (read == buffer.size() - 1) {
                ++overlong;
                skipping = true;
            }
            continue;
        }
        take(QByteArrayView(buffer.constData(), read - 1));
    }
    return overlong;
}

// Opens the log for reading: not there is empty; anything else that cannot be read is left alone.
PresenceReading openLog(QFile &file)
{
    PresenceReading reading;
    const QFileInfo info(file.fileName());
    if (!info.exists())
        return reading;
    if (!info.isFile())
        reading.problem = QStringLiteral("not a regular file");
    else if (!file.open(QIODevice::ReadOnly))
        reading.problem = file.errorString();
    reading.readable = reading.problem.isEmpty();
    if (!reading.readable)
        logLine(lcModel, "The presence log %@ cannot be read, and is left as it is: %@", file.fileName(), reading.problem);
    return reading;
}

void logSkipped(const QString &path, qsizetype skipped)
{
    if (skipped > 0)
        logLine(lcModel, "The presence log %@ has %@ damaged or overlong lines: they are skipped", path,
                QString::number(skipped));
}

} // namespace

QByteArray presenceLine(const PresenceEvent &event)
{
    QJsonObject line{{QStringLiteral("time"), historyTimeText(event.time)},
                     {QStringLiteral("event"), event.event},
                     {QStringLiteral("macAddress"), event.mac},
                     {QStringLiteral("address"), event.address},
                     {QStringLiteral("source"), event.source}};
    if (eventKind(event.event) == EventKind::Moved)
        line.insert(QStringLiteral("from"), event.from);
    if (event.present)
        line.insert(QStringLiteral("present"), *event.present);
    if (!event.site.isEmpty())
        line.insert(QStringLiteral("site"), event.site);
    return safeJson(QJsonDocument(line), QJsonDocument::Compact);
}

std::optional<PresenceEvent> presenceEvent(QByteArrayView line)
{
    const QJsonDocument document = QJsonDocument::fromJson(line.toByteArray());
    if (!document.isObject())
        return std::nullopt;
    PresenceEvent event;
    event.line = document.object();
    const auto text = [&](const char *key) { return event.line.value(QLatin1StringView(key)).toString(); };
    event.time = QDateTime::fromString(text("time"), Qt::ISODate);
    event.event = text("event");
    event.mac = text("macAddress");
    event.address = text("address");
    event.from = text("from");
    event.source = text("source");
    event.site = text("site");
    if (const QJsonValue present = event.line.value(QLatin1StringView("present")); present.isBool())
        event.present = present.toBool();
    if (!event.time.isValid() || !macAddressKey(event.mac) || !eventKind(event.event))
        return std::nullopt;
    event.time = event.time.toUTC();
    return event;
}

QString PresenceLog::defaultPath()
{
    return dataFile(fileName);
}

QString PresenceLog::besideHistory(const QString &historyFile)
{
    return QFileInfo(historyFile).absolutePath() + u'/' + fileName;
}

PresenceLog::PresenceLog(QString path, PresenceLogBounds bounds, std::chrono::milliseconds lockWait)
    : m_path(std::move(path)), m_bounds(bounds), m_lockWait(lockWait)
{
}

QString PresenceLog::append(const QList<PresenceEvent> &events, const QDateTime &now)
{
    if (events.isEmpty())
        return {};
    QList<QByteArray> lines;
    for (const PresenceEvent &event : events)
        lines.append(presenceLine(event));
    QString problem;
    const DataLockResult lock = holdingDataLock(dataLockPath(QFileInfo(m_path).absolutePath()), m_lockWait, [&] {
        if (const Result<> appended = appendWholeLines(m_path, lines); !appended)
            problem = appended.reason();
        else
            compactIfPast(now);
    });
    if (lock.outcome == DataLockOutcome::Busy)
        problem = QStringLiteral("another instance of Device Finder held its lock too long");
    else if (lock.outcome != DataLockOutcome::Held)
        problem = lock.reason.isEmpty() ? QStringLiteral("no lock file can be made beside it")
                                        : QStringLiteral("no lock file can be made beside it: ") + lock.reason;
    if (!problem.isEmpty())
        logLine(lcModel, "The presence log %@ is not written, and left as it is: %@", m_path, problem);
    return problem;
}

void PresenceLog::compactIfPast(const QDateTime &now) const
{
    QFile file(m_path);
    if (!file.open(QIODevice::ReadOnly))
        return;
    qsizetype lines = 0;
    if (file.size() <= m_bounds.compactBytes) {
        std::array<char, 65536> chunk{};
        for (qint64 read = 0; (read = file.read(chunk.data(), chunk.size())) > 0;)
            lines += std::count(chunk.data(), chunk.data() + read, '\n');
        if (lines <= m_bounds.compactLines)
            return;
        file.seek(0);
    }
    // The newest lines of the last keptDays, within keptLines and keptBytes, in their order.
    const QDateTime oldest = now.addDays(-m_bounds.keptDays);
    std::deque<QByteArray> kept;
    qint64 keptBytes = 0;
    qsizetype damaged = 0;
    damaged += forEachLine(file, [&](QByteArrayView line) {
        const std::optional<PresenceEvent> event = presenceEvent(line);
        if (!event) {
            ++damaged;
            return;
        }
        if (event->time < oldest)
            return;
        kept.emplace_back(line.toByteArray());
        keptBytes += line.size() + 1;
        while (qsizetype(kept.size()) > m_bounds.keptLines || keptBytes > m_bounds.keptBytes) {
            keptBytes -= kept.front().size() + 1;
            kept.pop_front();
        }
    });
    logSkipped(m_path, damaged);
    QByteArray whole;
    whole.reserve(keptBytes);
    for (const QByteArray &line : kept)
        whole += line + '\n';
    if (const Result<> written = writeWholeFile(m_path, whole, FileOwner::Tool); !written)
        logLine(lcModel, "The presence log %@ could not be compacted: %@", m_path, written.reason());
    else
        logLine(lcModel, "The presence log %@ passed its bounds: its newest %@ lines of the last %@ days are kept",
                m_path, QString::number(kept.size()), QString::number(m_bounds.keptDays));
}

PresenceReading PresenceLog::read(const std::function<void(PresenceEvent &&)> &visit, const QSet<QString> *macs) const
{
    QFile file(m_path);
    PresenceReading reading = openLog(file);
    if (!file.isOpen())
        return reading;
    // Parsing every line of a long log after each run would hold up the window.
    static constexpr QByteArrayView macKey = "\"macAddress\":\"";
    reading.skipped += forEachLine(file, [&](QByteArrayView line) {
        if (const qsizetype at = macs ? line.indexOf(macKey) : -1; at >= 0) {
            const QByteArrayView rest = line.sliced(at + macKey.size());
            if (const qsizetype end = rest.indexOf('"'); end >= 0 && !macs->contains(QString::fromUtf8(rest.first(end))))
                return;
        }
        std::optional<PresenceEvent> event = presenceEvent(line);
        if (!event)
            ++reading.skipped;
        else if (!macs || macs->contains(event->mac))
            visit(std::move(*event));
    });
    logSkipped(m_path, reading.skipped);
    return reading;
}

QList<PresenceEvent> PresenceLog::events(const std::function<bool(const PresenceEvent &)> &take,
                                         PresenceReading *reading) const
{
    std::deque<PresenceEvent> taken;
    const PresenceReading done = read([&](PresenceEvent &&event) {
        if (take && !take(event))
            return;
        taken.push_back(std::move(event));
        if (qsizetype(taken.size()) > m_bounds.compactLines)
            taken.pop_front();
    });
    if (reading)
        *reading = done;
    return QList<PresenceEvent>(std::make_move_iterator(taken.begin()), std::make_move_iterator(taken.end()));
}
