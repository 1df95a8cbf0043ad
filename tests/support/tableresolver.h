#pragma once

#include "platform/addresstext.h"
#include "platform/resolver.h"

#include <QHash>
#include <QSet>
#include <QStringList>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

// A resolver from a table, so that no test asks the machine's resolver. nameInfo answers
// like getnameinfo with flags 0: the name, else the address text; it fails for the
// addresses listed as failing. hostName answers the name or nothing. A delay per address
// lets a test make look-ups end out of order. Switched off, it stands for a name server
// that does not answer: every look-up waits until it is switched on again; with a prefix,
// only the look-ups of addresses that start with it. Any thread.
class TableResolver final : public Resolver {
public:
    explicit TableResolver(QHash<QString, QString> names = {}, QSet<QString> failing = {},
                           QHash<QString, std::chrono::milliseconds> delays = {})
        : m_names(std::move(names)), m_failing(std::move(failing)), m_delays(std::move(delays))
    {
    }

    std::optional<QByteArray> nameInfo(const Address &address, QByteArray *failure) override
    {
        const QString text = addressText(address);
        delay(text, [this] { ++m_nameInfoCalls; });
        if (m_failing.contains(text)) {
            *failure = "Name or service not known";
            return std::nullopt;
        }
        return m_names.value(text, text).toUtf8();
    }
    std::optional<QString> hostName(const Address &asked) override
    {
        const QString address = addressText(asked);
        delay(address, [&] { m_asked.append(address); });
        const auto found = m_names.constFind(address);
        return found == m_names.cend() ? std::nullopt : std::optional(*found);
    }
    void setAnswering(bool answering, const QString &silentPrefix = {})
    {
        const std::lock_guard lock(m_mutex);
        m_answering = answering;
        m_silentPrefix = silentPrefix;
        m_switched.notify_all();
    }
    QStringList asked() const // the addresses hostName was asked for
    {
        const std::lock_guard lock(m_mutex);
        return m_asked;
    }
    int nameInfoCalls() const
    {
        const std::lock_guard lock(m_mutex);
        return m_nameInfoCalls;
    }

private:
    // Counts the call, then waits while switched off and for the address's delay.
    template <typename Count>
    void delay(const QString &address, Count count)
    {
        {
            std::unique_lock lock(m_mutex);
            count();
            m_switched.wait(lock, [&] { return m_answering || !address.startsWith(m_silentPrefix); });
        }
        if (const auto found = m_delays.constFind(address); found != m_delays.cend())
            std::this_thread::sleep_for(*found);
    }

    const QHash<QString, QString> m_names;
    const QSet<QString> m_failing;
    const QHash<QString, std::chrono::milliseconds> m_delays;
    mutable std::mutex m_mutex;
    std::condition_variable m_switched;
    bool m_answering = true;
    QString m_silentPrefix;
    QStringList m_asked;
    int m_nameInfoCalls = 0;
};

// Where in-process tests send discovery broadcasts: loopback, never a real network.
inline const Address loopbackBroadcast = Address::ipv4(0x7FFF'FFFF); // 127.255.255.255
