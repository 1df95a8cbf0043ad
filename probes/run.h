#pragma once

#include "platform/dispatchgroup.h"
#include "probes/unaskedaddresses.h"

#include <QtGlobal>

#include <atomic>
#include <memory>
#include <mutex>
#include <stop_token>

class ProbeSink;

// One discovery run, range scan or lone probe: what belongs to it and to nothing else. Its
// background work holds it and hands its stop token down by value; once the run is
// stopped, which it is at its end too, that work starts nothing new, its requests and
// look-ups are cancelled, and whatever of it comes late (a completion, a look-up, a count)
// finds it stopped and reaches nothing. The controller keeps the run in progress, and ends
// it in one place. Any thread, except where a member says otherwise.
class Run final {
public:
    enum class Kind { Discovery, Scan, Probe };

    // The run's probes hand their records to `sink`, which the run does not keep alive; a
    // scan gives the number of addresses in its ranges.
    explicit Run(Kind kind, std::weak_ptr<ProbeSink> sink = {}, quint64 addresses = 0)
        : m_kind(kind), m_sink(std::move(sink)), m_addresses(addresses)
    {
    }
    Run(const Run &) = delete;
    Run &operator=(const Run &) = delete;

    Kind kind() const { return m_kind; }
    const std::weak_ptr<ProbeSink> &sink() const { return m_sink; }
    std::stop_token stopToken() const { return m_stop.get_token(); }
    bool isStopped() const { return m_stop.stop_requested(); }
    // Stops the run's work, once; later calls do nothing.
    void stop() { m_stop.request_stop(); }

    // The group every probe of a scan joins; its leaves count the addresses probed.
    const std::shared_ptr<DispatchGroup> &group() const { return m_group; }
    quint64 addresses() const { return m_addresses; }
    quint64 probed() const { return quint64(m_group->left()); }

    // The records merged in this run. Main thread.
    quint64 answers() const { return m_answers; }
    void noteAnswer() { ++m_answers; }

    // The probes that ended, and those of them that never left this computer (no route),
    // with their addresses: a scan whose every probe had no route asked nothing, and one
    // where some had none leaves unjudged only the devices last seen at those addresses.
    void noteProbeEnded(const Address &address, bool noRoute)
    {
        m_probesEnded.fetch_add(1, std::memory_order_relaxed);
        if (!noRoute)
            return;
        m_probesWithoutRoute.fetch_add(1, std::memory_order_relaxed);
        const std::lock_guard lock(m_unaskedMutex);
        m_unasked.add(address);
    }
    quint64 probesEnded() const { return m_probesEnded.load(std::memory_order_relaxed); }
    quint64 probesWithoutRoute() const { return m_probesWithoutRoute.load(std::memory_order_relaxed); }
    UnaskedAddresses unasked() const
    {
        const std::lock_guard lock(m_unaskedMutex);
        return m_unasked;
    }

private:
    const Kind m_kind;
    const std::weak_ptr<ProbeSink> m_sink;
    const quint64 m_addresses;
    std::stop_source m_stop;
    const std::shared_ptr<DispatchGroup> m_group = std::make_shared<DispatchGroup>();
    quint64 m_answers = 0;
    std::atomic<quint64> m_probesEnded{0};
    std::atomic<quint64> m_probesWithoutRoute{0};
    mutable std::mutex m_unaskedMutex;
    UnaskedAddresses m_unasked; // under m_unaskedMutex
};
