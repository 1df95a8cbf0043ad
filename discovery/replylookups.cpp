#include "discovery/replylookups.h"

#include "platform/log.h"
#include "platform/lookuppool.h"

#include <algorithm>
#include <cstdio>

namespace {

// The getnameinfo name when it reads as ASCII text of more than 2 characters, otherwise the
// address text.
QString hostnameOf(const QByteArray &name, const QString &address)
{
    const bool ascii = std::all_of(name.cbegin(), name.cend(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    if (!ascii || name.size() <= 2)
        return address;
    return QString::fromLatin1(name);
}

} // namespace

ReplyLookups::ReplyLookups(std::shared_ptr<Resolver> resolver, std::stop_token run, qsizetype cap,
                           QList<NetworkInterface> interfaces)
    : m_resolver(std::move(resolver)), m_cap(cap), m_interfaces(std::move(interfaces)),
      m_giveUpOnStop(std::move(run), GiveUp{&m_owner})
{
}

ReplyLookups::~ReplyLookups()
{
    m_owner.request_stop();
}

void ReplyLookups::add(const Address &address, unsigned interfaceIndex)
{
    if (const auto known = m_byAddress.constFind(address); known != m_byAddress.cend()) {
        m_replies.append({*known, interfaceIndex});
        return;
    }
    auto lookup = std::make_shared<Lookup>();
    lookup->address = address;
    lookup->text = addressText(address);
    m_replies.append({lookup, interfaceIndex});
    // Beyond the responders a run probes, nobody needs a name.
    const std::optional<quint32> ip = address.ipv4();
    if (!m_interfaces.isEmpty() && !(ip && isOnAnyNetwork(*ip, m_interfaces))) {
        if (m_offNetwork.size() < m_cap) {
            m_byAddress.insert(address, lookup);
            m_offNetwork.append(lookup);
        }
    } else if (m_started < m_cap) {
        m_byAddress.insert(address, lookup);
        startLookUp(lookup);
    }
}

void ReplyLookups::startLookUp(const std::shared_ptr<Lookup> &lookup)
{
    if (m_started >= m_cap)
        return;
    ++m_started;
    {
        const std::lock_guard lock(m_shared->mutex);
        ++m_shared->pending;
    }
    LookupPool::instance().async(m_owner.get_token(), [lookup, shared = m_shared, resolver = m_resolver] {
        QByteArray failure;
        std::optional<QByteArray> name = resolver->nameInfo(lookup->address, &failure);
        // The host object is asked only when getnameinfo succeeded.
        std::optional<QString> hostName = name ? resolver->hostName(lookup->address) : std::nullopt;
        const std::lock_guard lock(shared->mutex);
        lookup->name = std::move(name);
        lookup->failure = std::move(failure);
        lookup->hostName = std::move(hostName);
        lookup->done = true;
        --shared->pending;
        shared->answered.notify_all();
    });
}

QList<ResponderEntry> ReplyLookups::entries(std::chrono::steady_clock::time_point deadline)
{
    for (const std::shared_ptr<Lookup> &lookup : std::as_const(m_offNetwork))
        startLookUp(lookup);
    m_offNetwork.clear();
    std::unique_lock lock(m_shared->mutex);
    m_shared->answered.wait_until(lock, m_owner.get_token(), deadline, [this] { return m_shared->pending == 0; });
    const bool stopped = m_owner.stop_requested();
    const qsizetype unanswered = m_shared->pending;
    lock.unlock();
    // What has not answered by now is given up: queued look-ups never start.
    m_owner.request_stop();
    if (unanswered > 0 && !stopped)
        logLine(lcDiscovery, "%lu name look-ups gave no answer within %lus; those responders are listed by address",
                std::size_t(unanswered), std::size_t(LookupPool::budget.count()));

    QList<ResponderEntry> entries;
    entries.reserve(m_replies.size());
    lock.lock();
    for (const Reply &reply : std::as_const(m_replies)) {
        const Lookup *const lookup = reply.lookup.get();
        ResponderEntry entry{lookup->address, std::nullopt, lookup->text, reply.interfaceIndex};
        if (lookup->done && !lookup->name) {
            // As perror writes it, with getnameinfo's own description: it does not set errno.
            std::fprintf(stderr, "getnameinfo failed: %s\n", lookup->failure.constData());
        } else if (lookup->done) {
            entry.hostname = hostnameOf(*lookup->name, lookup->text);
            entry.redirectAddress = lookup->hostName.value_or(lookup->text);
        }
        entries.append(entry);
    }
    return entries;
}
