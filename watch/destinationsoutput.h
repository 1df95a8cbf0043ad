#pragma once

#include "destinations/deliveryengine.h"
#include "destinations/deliverylock.h"
#include "destinations/destination.h"
#include "destinations/destinationmessage.h"
#include "watch/watchoutput.h"

#include <QDateTime>
#include <QList>
#include <QTimer>

#include <chrono>
#include <memory>

// Sends the watch's changes to the destinations of the destinations file, read when watching
// begins and again at a round's end when the file changed. What comes within gatherTime of the
// first change not yet sent goes as one message to each destination that takes any of it,
// through the delivery engine's thread, never holding the watch. Of the watchers on this
// computer only the one holding the delivery lock sends; another says so once. Main thread.
class DestinationsOutput final : public WatchOutput {
public:
    static constexpr std::chrono::seconds gatherTime{10};
    static constexpr std::chrono::seconds quitWait{5};

    DestinationsOutput(QString file, QString configFolder);
    ~DestinationsOutput() override;

    void watching(const WatchSession &session) override;
    void changed(const WatchSession &session, const QList<WatchChange> &changes) override;
    void roundEnded(const WatchSession &session, const WatchRoundEnd &end) override;
    void ended(const WatchSession &session) override;

private:
    // Reads the file again when it is not the one read last, and sends once the lock is held.
    void reload();
    // The enabled destinations of the file that may send now; a line for each that may not.
    QList<Destination> usableDestinations() const;
    bool takeLock();
    void send();

    const QString m_file;
    const QString m_configFolder;
    QString m_dataFolder;
    QString m_seen; // what the file was when last read: its identity, size and time
    QList<Destination> m_readable;     // those that may send, with the lock
    QList<Destination> m_destinations; // those that send: the lock is held
    bool m_toldBusy = false;
    bool m_toldSending = false;
    std::unique_ptr<DeliveryLock> m_lock;
    std::unique_ptr<DeliveryEngine> m_engine;
    QList<DestinationChange> m_gathered;
    QString m_site;
    QTimer m_gather;
};
