#include "discovery/replylookups.h"

#include "platform/backgroundpool.h"

#include <QHostAddress>

#include <algorithm>
#include <cstdio>

namespace {

// Threads that may block for as long as a resolver takes, apart from the pool the runs and
// probes use.
BackgroundPool &lookupPool(int depth)
{
    static BackgroundPool *const pool = new BackgroundPool(depth); // never destroyed
    return *pool;
}

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

ReplyLookups::ReplyLookups(std::shared_ptr<Resolver> resolver, std::shared_ptr<StopToken> stop, int depth)
    : m_resolver(std::move(resolver)), m_stop(std::move(stop)), m_depth(depth)
{
}

void ReplyLookups::add(quint32 address)
{
    if (const auto known = m_byAddress.constFind(address); known != m_byAddress.cend()) {
        m_replies.append(*known);
        return;
    }
    auto lookup = std::make_shared<Lookup>();
    lookup->address = address;
    lookup->text = QHostAddress(address).toString();
    m_replies.append(lookup);
    m_byAddress.insert(address, lookup);
    lookupPool(m_depth).async([lookup, shared = m_shared, resolver = m_resolver] {
        QByteArray failure;
        std::optional<QByteArray> name = resolver->nameInfo(lookup->address, &failure);
        // The host object is asked only when getnameinfo succeeded.
        std::optional<QString> hostName = name ? resolver->hostName(lookup->text) : std::nullopt;
        const std::lock_guard lock(shared->mutex);
        lookup->name = std::move(name);
        lookup->failure = std::move(failure);
        lookup->hostName = std::move(hostName);
        lookup->done = true;
        shared->done.notify_all();
    });
}

QList<ResponderEntry> ReplyLookups::entries()
{
    const auto allDone = [this] {
        return std::all_of(m_replies.cbegin(), m_replies.cend(), [](const auto &lookup) { return lookup->done; });
    };
    {
        // Registered outside the lock that the waker takes.
        const StopRegistration wake = m_stop ? m_stop->onStop([shared = m_shared] {
            const std::lock_guard lock(shared->mutex);
            shared->done.notify_all();
        })
                                             : StopRegistration();
        std::unique_lock lock(m_shared->mutex);
        m_shared->done.wait(lock, [&] { return allDone() || (m_stop && m_stop->isStopped()); });
    }
    QList<ResponderEntry> entries;
    const std::lock_guard lock(m_shared->mutex);
    for (const std::shared_ptr<Lookup> &lookup : std::as_const(m_replies)) {
        ResponderEntry entry{lookup->text, std::nullopt, lookup->text};
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
