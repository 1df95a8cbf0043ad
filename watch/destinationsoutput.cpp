#include "watch/destinationsoutput.h"

#include "destinations/deliveryrecord.h"
#include "destinations/destinationsfile.h"
#include "destinations/destinationtarget.h"
#include "destinations/outgoingmessage.h"
#include "history/devicehistory.h"
#include "platform/log.h"
#include "watch/watchsession.h"

#include <QFileInfo>

namespace {

QString fileState(const QString &path)
{
    const QFileInfo info(path);
    if (!info.exists())
        return {};
    return QStringLiteral("%1 %2 %3").arg(info.size()).arg(info.lastModified().toMSecsSinceEpoch()).arg(info.birthTime().toMSecsSinceEpoch());
}

} // namespace

DestinationsOutput::DestinationsOutput(QString file, QString configFolder)
    : m_file(std::move(file)), m_configFolder(std::move(configFolder))
{
    m_gather.setSingleShot(true);
    m_gather.setInterval(gatherTime);
    QObject::connect(&m_gather, &QTimer::timeout, &m_gather, [this] { send(); });
}

DestinationsOutput::~DestinationsOutput() = default;

void DestinationsOutput::watching(const WatchSession &session)
{
    if (m_dataFolder.isEmpty()) {
        m_dataFolder = QFileInfo(session.historyFile().isEmpty() ? DeviceHistory::defaultPath() : session.historyFile()).absolutePath();
        m_seen = QStringLiteral("never read");
    }
    reload();
}

void DestinationsOutput::reload()
{
    const QString state = fileState(m_file);
    if (state != m_seen) {
        m_seen = state;
        m_readable = usableDestinations();
        m_destinations.clear();
        m_toldSending = false;
    }
    if (m_readable.isEmpty() || !takeLock())
        return;
    m_destinations = m_readable;
    if (std::exchange(m_toldSending, true))
        return;
    QStringList names;
    for (const Destination &destination : std::as_const(m_destinations))
        names.append(destination.name);
    logLine(lcApp, "Sending changes to %@", names.join(QStringLiteral(", ")));
    if (!m_engine) {
        const QString record = deliveriesFilePath(m_dataFolder);
        m_engine = std::make_unique<DeliveryEngine>([record](const DeliveryOutcome &outcome) {
            recordDelivery(record, outcome.destination,
                           {outcome.sent, outcome.sent ? QString::number(outcome.status) : outcome.answer, outcome.time});
        });
    }
}

QList<Destination> DestinationsOutput::usableDestinations() const
{
    const DestinationsFile file = readDestinationsFile(m_file);
    switch (file.status) {
    case DestinationsFile::Status::Missing:
        return {};
    case DestinationsFile::Status::Refused:
        logLine(lcApp, "The destinations file %@ is refused (%@); watching without destinations", m_file, file.problem);
        return {};
    case DestinationsFile::Status::Unreadable:
        logLine(lcApp, "The destinations file %@ cannot be read now (%@); watching without destinations", m_file, file.problem);
        return {};
    case DestinationsFile::Status::Read:
        break;
    }
    QList<Destination> usable;
    for (const Destination &destination : file.destinations) {
        if (!destination.enabled)
            continue;
        if (const std::optional<QString> problem = destinationProblem(destination, m_configFolder))
            logLine(lcApp, "Destination %@ (%@) sends nothing: %@", destination.name, destinationKindName(destination), *problem);
        else
            usable.append(destination);
    }
    return usable;
}

bool DestinationsOutput::takeLock()
{
    if (m_lock)
        return true;
    QString problem;
    m_lock = DeliveryLock::take(m_dataFolder, problem);
    if (m_lock)
        return true;
    // Tried again at each round's end: the one that holds it may quit.
    if (!std::exchange(m_toldBusy, true)) {
        if (problem.isEmpty())
            logLine(lcApp, "Another watcher on this computer sends to the destinations; this one sends nothing");
        else
            logLine(lcApp, "The delivery lock cannot be taken (%@); sending to no destination", problem);
    }
    return false;
}

void DestinationsOutput::changed(const WatchSession &session, const QList<WatchChange> &changes)
{
    if (m_destinations.isEmpty())
        return;
    m_site = session.site();
    QHash<QString, QDateTime> lastSeen;
    for (const HistoryEntry &missing : session.missingNow())
        lastSeen.insert(deviceMac(*missing.record).value_or(QString()), missing.lastSeen);
    const LabelOf labelOf = session.labelOf();
    for (const WatchChange &change : changes) {
        const DeviceRecord &record = *change.event.device;
        const QDateTime since = change.event.kind == WatchEvent::Kind::Missing
                                    ? lastSeen.value(deviceMac(record).value_or(QString()), change.time)
                                    : change.time;
        m_gathered.append({change.event, change.time, since, labelOf ? labelOf(record) : QString()});
    }
    if (!m_gather.isActive())
        m_gather.start();
}

void DestinationsOutput::roundEnded(const WatchSession &, const WatchRoundEnd &)
{
    reload();
}

void DestinationsOutput::send()
{
    const QList<DestinationChange> gathered = std::exchange(m_gathered, {});
    if (!m_engine)
        return;
    for (const Destination &destination : std::as_const(m_destinations)) {
        const std::optional<DestinationMessage> message = destinationMessage(destination, gathered, m_site);
        if (!message)
            continue;
        Result<OutgoingMessage> outgoing = outgoingMessage(destination, *message, m_configFolder);
        const QString kind = destinationKindName(destination);
        if (!outgoing) {
            logLine(lcApp, "Could not send to %@ (%@): %@; not tried again", destination.name, kind, outgoing.reason());
            continue;
        }
        m_engine->send(destination.name, kind, message->changes.size(), *std::move(outgoing));
    }
}

void DestinationsOutput::ended(const WatchSession &)
{
    m_gather.stop();
    send();
    if (m_engine)
        m_engine->finish(quitWait);
}
