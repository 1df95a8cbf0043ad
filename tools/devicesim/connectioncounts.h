#pragma once

#include <QtGlobal>

#include <algorithm>
#include <atomic>

// How many HTTP connections the simulated devices have accepted and how many are open,
// counted on the simulator's thread and read from any other. A connection stops counting
// as open the moment its device has written the last byte of its answer (or the peer went
// away first), so a client that only opens its next connection after reading an answer
// never sees a count above the number it really has in flight.
class ConnectionCounts final {
public:
    void opened()
    {
        m_accepted.fetch_add(1, std::memory_order_relaxed);
        const int now = m_open.fetch_add(1, std::memory_order_relaxed) + 1;
        int peak = m_peak.load(std::memory_order_relaxed);
        while (now > peak && !m_peak.compare_exchange_weak(peak, now, std::memory_order_relaxed)) {
        }
    }
    void closed() { m_open.fetch_sub(1, std::memory_order_relaxed); }

    int open() const { return m_open.load(std::memory_order_relaxed); }
    int peak() const { return m_peak.load(std::memory_order_relaxed); }
    qint64 accepted() const { return m_accepted.load(std::memory_order_relaxed); }

private:
    std::atomic<int> m_open = 0;
    std::atomic<int> m_peak = 0;
    std::atomic<qint64> m_accepted = 0;
};
