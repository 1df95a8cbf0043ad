#pragma once

#include "discovery/responderentry.h"
#include "localnet/networkinterfaces.h"
#include "platform/addresstext.h"
#include "platform/resolver.h"

#include <QHash>
#include <QList>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <stop_token>

// The two reverse look-ups of a discovery's valid replies, made beside its receive loop on
// the look-up pool, so that a slow name server never keeps the loop from reading the
// replies waiting in the socket. They are the run's: at most `cap` addresses are looked
// up (an address that answers again shares its first look-up; any further address goes
// without), and they are given up when the run stops or once the entries are taken. The
// budget goes to the responders on the computer's own networks first: one on none of
// `interfaces` is looked up only once the receive window has closed, with what is left, so
// that forged replies from elsewhere cannot use it up.
//
// One discovery thread adds replies and takes the entries; the look-ups run on the pool.
class ReplyLookups final {
public:
    ReplyLookups(std::shared_ptr<Resolver> resolver, std::stop_token run, qsizetype cap,
                 QList<NetworkInterface> interfaces = {});
    ReplyLookups(const ReplyLookups &) = delete;
    ReplyLookups &operator=(const ReplyLookups &) = delete;
    ~ReplyLookups();

    // A valid reply from this address that came in on this interface, in arrival order.
    void add(const Address &address, unsigned interfaceIndex);
    // Waits until every look-up has answered, the run stops or `deadline` passes, then
    // gives one entry per reply in arrival order, with the look-ups' names and fallbacks; a
    // failed getnameinfo is reported here, in that order. A look-up without an answer by
    // then counts as one that was not made: its entry stands under the address alone.
    QList<ResponderEntry> entries(std::chrono::steady_clock::time_point deadline);

private:
    struct Lookup {
        Address address;
        QString text;
        bool done = false;
        std::optional<QByteArray> name;
        QByteArray failure;
        std::optional<QString> hostName;
    };
    // Shared with the look-ups, which may outlive the discovery.
    struct Shared {
        std::mutex mutex;
        std::condition_variable_any answered;
        qsizetype pending = 0;
    };
    struct GiveUp {
        std::stop_source *owner;
        void operator()() const { owner->request_stop(); }
    };

    void startLookUp(const std::shared_ptr<Lookup> &lookup);

    const std::shared_ptr<Resolver> m_resolver;
    const qsizetype m_cap;
    const QList<NetworkInterface> m_interfaces;
    qsizetype m_started = 0;
    const std::shared_ptr<Shared> m_shared = std::make_shared<Shared>();
    std::stop_source m_owner; // the look-ups' owner
    std::stop_callback<GiveUp> m_giveUpOnStop;
    struct Reply {
        std::shared_ptr<const Lookup> lookup;
        unsigned interfaceIndex = 0;
    };
    QList<Reply> m_replies; // in arrival order
    QHash<Address, std::shared_ptr<Lookup>> m_byAddress;
    QList<std::shared_ptr<Lookup>> m_offNetwork; // not looked up yet
};
