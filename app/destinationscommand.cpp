#include "app/destinationscommand.h"

#include "app/output.h"
#include "destinations/deliveryengine.h"
#include "destinations/deliveryrecord.h"
#include "destinations/destinationsfile.h"
#include "destinations/destinationtarget.h"
#include "model/deviceexport.h"
#include "platform/safejson.h"
#include "platform/safetext.h"
#include "platform/sitename.h"

#include <QJsonArray>
#include <QJsonObject>

#include <mutex>

namespace {

// The time a test may take: the delivery's own, and a little more.
constexpr std::chrono::milliseconds testWait = DeliveryEngine::deliveryTimeout + std::chrono::seconds(2);

QByteArray listed(const QList<Destination> &destinations, const QString &configFolder, const QString &dataFolder, bool json)
{
    const QHash<QString, LastDelivery> last = readDeliveries(deliveriesFilePath(dataFolder));
    QJsonArray entries;
    QList<QStringList> rows{{QStringLiteral("Name"), QStringLiteral("Kind"), QStringLiteral("Sends to"), QStringLiteral("Last delivery")}};
    for (const Destination &destination : destinations) {
        QJsonObject entry{{QStringLiteral("name"), destination.name},
                          {QStringLiteral("kind"), destinationKindName(destination)},
                          {QStringLiteral("enabled"), destination.enabled},
                          {QStringLiteral("target"), destinationTarget(destination)}};
        QJsonArray events;
        for (WatchEvent::Kind kind : destination.events)
            events.append(QString::fromLatin1(watchEventName(kind)));
        entry.insert(QStringLiteral("events"), events);
        QString state = destination.enabled ? QString() : QStringLiteral("off");
        if (const std::optional<QString> problem = destinationProblem(destination, configFolder); problem && destination.enabled) {
            entry.insert(QStringLiteral("problem"), *problem);
            state = QStringLiteral("sends nothing: ") + *problem;
        }
        QString lastText = QStringLiteral("none yet");
        if (const auto found = last.find(destination.name); found != last.end()) {
            entry.insert(QStringLiteral("lastDelivery"), QJsonObject{{QStringLiteral("sent"), found->sent},
                                                                     {QStringLiteral("outcome"), found->outcome},
                                                                     {QStringLiteral("time"), found->time.toString(Qt::ISODate)}});
            lastText = QStringLiteral("%1 %2 %3").arg(found->sent ? QStringLiteral("sent") : QStringLiteral("failed"),
                                                      found->outcome, found->time.toString(Qt::ISODate));
        }
        entries.append(entry);
        rows.append({destination.name, destinationKindName(destination),
                     state.isEmpty() ? destinationTarget(destination) : destinationTarget(destination) + u' ' + u'(' + state + u')',
                     lastText});
    }
    if (json)
        return safeJson(QJsonDocument(QJsonObject{{QStringLiteral("destinations"), entries}}));
    return textTable(rows).toUtf8();
}

int test(const Destination &destination, const QString &configFolder, const QString &dataFolder, std::FILE *out, std::FILE *err)
{
    if (const std::optional<QString> problem = destinationProblem(destination, configFolder)) {
        writeMessage(err, QStringLiteral("%1 sends nothing: %2").arg(destination.name, *problem));
        return 1;
    }
    const QDateTime now = QDateTime::currentDateTimeUtc();
    Result<OutgoingMessage> outgoing = outgoingMessage(destination, testMessage(destination, defaultSiteName(), now), configFolder, now);
    if (!outgoing) {
        writeMessage(err, QStringLiteral("%1 sends nothing: %2").arg(destination.name, outgoing.reason()));
        return 1;
    }
    std::mutex mutex;
    std::optional<DeliveryOutcome> outcome;
    {
        DeliveryEngine engine([&](const DeliveryOutcome &told) {
            const std::lock_guard lock(mutex);
            outcome = told;
        });
        engine.send(destination.name, destinationKindName(destination), 1, *std::move(outgoing), 1);
        engine.finish(testWait);
    }
    if (!outcome)
        return 1;
    recordDelivery(deliveriesFilePath(dataFolder), destination.name,
                   {outcome->sent, outcome->sent ? QString::number(outcome->status) : outcome->answer, outcome->time});
    QStringList lines{outcome->answer};
    if (!outcome->answerBody.isEmpty())
        lines += QString::fromUtf8(outcome->answerBody).split(u'\n');
    if (!writeLines(out, lines))
        return 1;
    return outcome->sent ? 0 : 1;
}

} // namespace

int runDestinationsCommand(const DestinationsRequest &request, const QString &file, const QString &configFolder,
                           const QString &dataFolder, std::FILE *out, std::FILE *err)
{
    const DestinationsFile read = readDestinationsFile(file);
    if (read.status == DestinationsFile::Status::Refused || read.status == DestinationsFile::Status::Unreadable) {
        const QString how = read.status == DestinationsFile::Status::Refused ? QStringLiteral("is refused")
                                                                              : QStringLiteral("cannot be read now");
        writeMessage(err, QStringLiteral("the destinations file %1 %2: %3").arg(file, how, read.problem));
        return 2;
    }
    if (request.test.isEmpty() && !request.json && read.destinations.isEmpty()) {
        const QString how = read.status == DestinationsFile::Status::Missing ? QStringLiteral("does not exist")
                                                                              : QStringLiteral("lists none");
        return writeLines(out, {QStringLiteral("No destinations: %1 %2").arg(file, how)}) ? 0 : 1;
    }
    if (request.test.isEmpty())
        return writeOutput(out, listed(read.destinations, configFolder, dataFolder, request.json)) ? 0 : 1;
    for (const Destination &destination : read.destinations) {
        if (destination.name == request.test)
            return test(destination, configFolder, dataFolder, out, err);
    }
    writeMessage(err, QStringLiteral("no destination is named %1 in %2").arg(request.test, file));
    return 2;
}
