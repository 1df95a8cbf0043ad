#pragma once

#include "model/responderentry.h"
#include "platform/resolver.h"
#include "platform/stoptoken.h"

#include <QHash>
#include <QList>

#include <condition_variable>
#include <memory>
#include <mutex>

// The two reverse look-ups of a discovery's valid replies, made beside its receive loop on
// a pool of look-up threads, so that a slow name server never keeps the loop from reading
// the replies waiting in the socket. Up to `depth` look-ups run at once: a name server that
// does not answer costs about one look-up time per `depth` addresses. An address that
// answers again shares its first look-up.
//
// One discovery thread adds replies and takes the entries; the look-ups run on the pool.
class ReplyLookups final {
public:
    ReplyLookups(std::shared_ptr<Resolver> resolver, std::shared_ptr<StopToken> stop, int depth = 32);
    ReplyLookups(const ReplyLookups &) = delete;
    ReplyLookups &operator=(const ReplyLookups &) = delete;

    // A valid reply from this address (host byte order), in arrival order.
    void add(quint32 address);
    // Waits for every look-up, then gives one entry per reply in arrival order, with the
    // look-ups' names and fallbacks; a failed getnameinfo is reported here, in that order.
    // Once the run is stopped it waits no more: look-ups still running end on their own and
    // their entries fall back to the address text.
    QList<ResponderEntry> entries();

private:
    struct Lookup {
        quint32 address = 0;
        QString text;
        std::optional<QByteArray> name;
        QByteArray failure;
        std::optional<QString> hostName;
        bool done = false;
    };
    // Shared with the look-ups, which may outlive the discovery.
    struct Shared {
        std::mutex mutex;
        std::condition_variable done;
    };

    const std::shared_ptr<Resolver> m_resolver;
    const std::shared_ptr<StopToken> m_stop;
    const int m_depth;
    const std::shared_ptr<Shared> m_shared = std::make_shared<Shared>();
    QList<std::shared_ptr<Lookup>> m_replies; // one per reply, in arrival order
    QHash<quint32, std::shared_ptr<Lookup>> m_byAddress;
};
