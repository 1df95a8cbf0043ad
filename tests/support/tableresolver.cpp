#include "support/tableresolver.h"

#include "platform/addresstext.h"

#include <thread>

TableResolver::TableResolver(QHash<QString, QString> names, QSet<QString> failing,
                             QHash<QString, std::chrono::milliseconds> delays)
    : m_names(std::move(names)), m_failing(std::move(failing)), m_delays(std::move(delays))
{
}

std::optional<QByteArray> TableResolver::nameInfo(const Address &address, QByteArray *failure)
{
    const QString text = addressText(address);
    {
        const std::lock_guard lock(m_mutex);
        ++m_nameInfoCalls;
    }
    delay(text);
    if (m_failing.contains(text)) {
        *failure = "Name or service not known";
        return std::nullopt;
    }
    return m_names.value(text, text).toUtf8();
}

std::optional<QString> TableResolver::hostName(const Address &asked)
{
    const QString address = addressText(asked);
    {
        const std::lock_guard lock(m_mutex);
        m_asked.append(address);
    }
    delay(address);
    const auto found = m_names.constFind(address);
    if (found == m_names.cend())
        return std::nullopt;
    return *found;
}

void TableResolver::setAnswering(bool answering, const QString &silentPrefix)
{
    const std::lock_guard lock(m_mutex);
    m_answering = answering;
    m_silentPrefix = silentPrefix;
    m_switched.notify_all();
}

int TableResolver::nameInfoCalls() const
{
    const std::lock_guard lock(m_mutex);
    return m_nameInfoCalls;
}

QStringList TableResolver::asked() const
{
    const std::lock_guard lock(m_mutex);
    return m_asked;
}

void TableResolver::delay(const QString &address)
{
    {
        std::unique_lock lock(m_mutex);
        m_switched.wait(lock, [&] { return m_answering || !address.startsWith(m_silentPrefix); });
    }
    if (const auto found = m_delays.constFind(address); found != m_delays.cend())
        std::this_thread::sleep_for(*found);
}
