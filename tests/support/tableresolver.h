#pragma once

#include "platform/resolver.h"

#include <QHash>
#include <QSet>
#include <QStringList>

#include <chrono>
#include <condition_variable>
#include <mutex>

// A resolver from a table, so that no test asks the machine's resolver. nameInfo answers
// like getnameinfo with flags 0: the name, else the address text; it fails for the
// addresses listed as failing. hostName answers the name or nothing. A delay per address
// lets a test make look-ups end out of order. Switched off, it stands for a name server
// that does not answer: every look-up waits until it is switched on again; with a prefix,
// only the look-ups of addresses that start with it. Any thread.
class TableResolver final : public Resolver {
public:
    explicit TableResolver(QHash<QString, QString> names = {}, QSet<QString> failing = {},
                           QHash<QString, std::chrono::milliseconds> delays = {});

    std::optional<QByteArray> nameInfo(const Address &address, QByteArray *failure) override;
    std::optional<QString> hostName(const Address &address) override;
    void setAnswering(bool answering, const QString &silentPrefix = {});
    QStringList asked() const; // the addresses hostName was asked for
    int nameInfoCalls() const;


private:
    void delay(const QString &address);

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
