#include "sweep/neighboursweep.h"

#include "arp/arpsweep.h"
#include "platform/englishtext.h"

#include <sys/epoll.h>

#include <cerrno>
#include <cstring>

namespace {

// Datagrams read from rtnetlink in one pass, at most: a burst of changes does not hold the
// transfers; the rest is read at the next pass.
constexpr int maxReadsPerPass = 64;

QString errorText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

} // namespace

std::shared_ptr<NeighbourSweep> NeighbourSweep::open(SweepSchedule::Source addresses, std::stop_token stop,
                                                     const Options &options, QString *why)
{
    auto sweep = std::make_shared<NeighbourSweep>(std::move(addresses), std::move(stop), options);
    if (!sweep->m_neighbours->isOpen()) {
        *why = QStringLiteral("rtnetlink cannot be opened: %1").arg(errorText(sweep->m_neighbours->openError()));
        return nullptr;
    }
    if (!sweep->m_discard->isOpen()) {
        *why = QStringLiteral("no UDP socket: %1").arg(errorText(sweep->m_discard->openError()));
        return nullptr;
    }
    return sweep;
}

NeighbourSweep::NeighbourSweep(SweepSchedule::Source addresses, std::stop_token stop, const Options &options)
    : m_stop(std::move(stop)), m_pace(options.pace), m_arpRate(options.arpRate)
{
    const Clock::time_point now = Clock::now();
    if (!m_pace && m_arpRate > 0)
        m_pace.emplace(m_arpRate, now);
    if (options.helper.isEmpty()) {
        m_schedule.emplace(std::move(addresses), now, m_pace);
    } else {
        m_helper = std::make_unique<ArpHelperSweep>(options.helper, options.arpRate, std::move(addresses),
                                                    m_pace ? m_pace->heldFrom(now) : std::vector<ArpPace::Request>());
    }
}

std::optional<SweepVerdict::Kind> NeighbourSweep::verdict(quint32 address)
{
    std::unique_lock lock(m_mutex);
    if (!m_handed.wait(lock, m_stop, [this] { return !m_verdicts.empty() || !m_failure.isEmpty() || m_finished; }))
        return std::nullopt;
    if (m_verdicts.empty())
        return SweepVerdict::Kind::NoWord;
    const bool wasFull = m_verdicts.size() >= maxHanded;
    const SweepVerdict verdict = m_verdicts.front();
    m_verdicts.pop_front();
    lock.unlock();
    // The network thread stopped handing verdicts out when there was no room.
    if (wasFull)
        wakeLoop();
    Q_ASSERT(verdict.address == address);
    return verdict.address == address ? verdict.kind : SweepVerdict::Kind::NoWord;
}

QString NeighbourSweep::failure() const
{
    const std::lock_guard lock(m_mutex);
    return m_failure;
}

int NeighbourSweep::timesLost() const
{
    const std::lock_guard lock(m_mutex);
    return m_timesLost;
}

QString NeighbourSweep::how() const
{
    const std::lock_guard lock(m_mutex);
    return m_how;
}

bool NeighbourSweep::helperAsked() const
{
    const std::lock_guard lock(m_mutex);
    return m_helperAsks;
}

std::optional<quint64> NeighbourSweep::helperRequests() const
{
    std::unique_lock lock(m_mutex);
    m_handed.wait_for(lock, std::chrono::seconds(1),
                      [this] { return m_helperRequests || !m_helperAsks || m_helperEnded || !m_failure.isEmpty(); });
    return m_helperRequests;
}

QStringList NeighbourSweep::takeNotes()
{
    const std::lock_guard lock(m_mutex);
    return std::exchange(m_notes, {});
}

quint64 NeighbourSweep::datagramsSent() const
{
    return m_datagrams.load(std::memory_order_relaxed);
}

void NeighbourSweep::begin(int epoll)
{
    // A stop ends the sweep at the loop's next pass, which it asks for.
    m_wakeOnStop.emplace(m_stop, [this] { wakeLoop(); });
    if (m_helper)
        return;
    watchDescriptor(epoll, EPOLL_CTL_ADD, m_neighbours->descriptor(), EPOLLIN);
    requestDump();
}

bool NeighbourSweep::owns(int descriptor) const
{
    return m_neighbours
        && (descriptor == m_neighbours->descriptor() || descriptor == m_discard->descriptor()
            || (m_helper && m_helper->owns(descriptor)));
}

void NeighbourSweep::act(int epoll, Clock::time_point now)
{
    if (m_over)
        return;
    if (m_stop.stop_requested()) {
        m_over = true;
        return;
    }
    if (m_helper) {
        actWithHelper(epoll, now);
        return;
    }
    readChanges(now);
    if (m_dumpAgain && !m_dumping && !m_over)
        requestDump();
    if (m_over)
        return;
    sendDue(epoll, now);
    handVerdicts(now);
}

std::optional<NeighbourSweep::Clock::time_point> NeighbourSweep::wakeAt() const
{
    if (m_helper && m_over)
        return std::nullopt;
    // Gathering goes on at the next pass; then the helper has its deadline.
    if (m_helper)
        return m_helper->isGathering() ? std::optional(Clock::time_point()) : m_helper->deadline();
    if (m_over || m_waitingToSend)
        return std::nullopt;
    return m_schedule->wakeAt();
}

void NeighbourSweep::end(int epoll)
{
    if (m_helper) {
        m_helper->end(epoll);
        m_helper.reset();
    } else {
        epoll_ctl(epoll, EPOLL_CTL_DEL, m_neighbours->descriptor(), nullptr);
    }
    if (m_waitingToSend)
        epoll_ctl(epoll, EPOLL_CTL_DEL, m_discard->descriptor(), nullptr);
    m_neighbours.reset();
    m_discard.reset();
    m_schedule.reset(); // with the source and what it holds
    m_wakeOnStop.reset();
}

void NeighbourSweep::readChanges(Clock::time_point now)
{
    for (int reads = 0; reads < maxReadsPerPass; ++reads) {
        NeighbourSocket::Read read = m_neighbours->read();
        switch (read.status) {
        case NeighbourSocket::ReadStatus::Nothing:
            return;
        case NeighbourSocket::ReadStatus::Failed:
            fail(QStringLiteral("rtnetlink failed: %1").arg(errorText(read.error)));
            return;
        case NeighbourSocket::ReadStatus::Lost: {
            // Sends wait for a new dump, which tells what the lost changes would have.
            m_schedule->wordsLost(now);
            m_dumpAgain = true;
            const std::lock_guard lock(m_mutex);
            ++m_timesLost;
            continue;
        }
        case NeighbourSocket::ReadStatus::Messages:
            break;
        }
        for (const NeighbourEntry &entry : std::as_const(read.messages.entries))
            m_schedule->heard(entry);
        const NetlinkStatus &status = read.messages.status;
        m_interrupted = m_interrupted || status.dumpInterrupted;
        if (status.sequence != m_sequence || !m_dumping || (!status.dumpDone && status.error == 0))
            continue;
        m_dumping = false;
        if (status.error != 0) {
            fail(QStringLiteral("rtnetlink refused the neighbour table: %1").arg(errorText(status.error)));
            return;
        }
        if (std::exchange(m_interrupted, false)) {
            m_schedule->wordsLost(now);
            m_dumpAgain = true;
        } else if (!m_dumpAgain) {
            m_schedule->dumpEnded();
        }
    }
}

void NeighbourSweep::requestDump()
{
    m_dumpAgain = false;
    m_dumping = true;
    if (!m_neighbours->requestDump(++m_sequence))
        fail(QStringLiteral("rtnetlink refused a request: %1").arg(errorText(errno)));
}

void NeighbourSweep::sendDue(int epoll, Clock::time_point now)
{
    if (m_waitingToSend) {
        // Watched until there is room again.
        watchDescriptor(epoll, EPOLL_CTL_DEL, m_discard->descriptor(), 0);
        m_waitingToSend = false;
    }
    while (const std::optional<quint32> address = m_schedule->dueSend(now)) {
        switch (m_discard->send(*address)) {
        case DiscardSocket::SendResult::Sent:
            // Counted once it left: the kernel's request went with it.
            m_schedule->sent(*address, Clock::now());
            m_datagrams.fetch_add(1, std::memory_order_relaxed);
            break;
        case DiscardSocket::SendResult::Full:
            watchDescriptor(epoll, EPOLL_CTL_ADD, m_discard->descriptor(), EPOLLOUT);
            m_waitingToSend = true;
            return;
        case DiscardSocket::SendResult::Failed:
            // This computer's own address or a broadcast address, an address the kernel
            // cannot resolve: probed as it would be without the sweep.
            m_schedule->sendFailed(*address);
            break;
        }
    }
}

void NeighbourSweep::handVerdicts(Clock::time_point now)
{
    bool handed = false;
    {
        const std::lock_guard lock(m_mutex);
        while (m_verdicts.size() < maxHanded) {
            const std::optional<SweepVerdict> verdict = m_schedule->nextVerdict(now);
            if (!verdict)
                break;
            m_verdicts.push_back(*verdict);
            handed = true;
        }
        m_finished = m_schedule->isFinished();
        handed = handed || m_finished;
    }
    if (handed)
        m_handed.notify_all();
    m_over = m_over || m_finished;
}

void NeighbourSweep::fail(const QString &why)
{
    m_over = true;
    {
        const std::lock_guard lock(m_mutex);
        m_failure = why;
    }
    m_handed.notify_all();
}

void NeighbourSweep::actWithHelper(int epoll, Clock::time_point now)
{
    std::size_t room = 0;
    {
        const std::lock_guard lock(m_mutex);
        room = maxHanded - std::min(maxHanded, m_verdicts.size());
    }
    std::deque<SweepVerdict> verdicts;
    const ArpHelperSweep::Step step = m_helper->act(epoll, verdicts, room, now);
    if (step == ArpHelperSweep::Step::Unusable) {
        {
            const std::lock_guard lock(m_mutex);
            m_how = QStringLiteral("The neighbour sweep asks through the kernel: %1").arg(m_helper->why());
        }
        toKernel(epoll, now, now);
        return;
    }
    {
        const std::lock_guard lock(m_mutex);
        if (m_how.isEmpty() && !verdicts.empty()) {
            m_how = QStringLiteral("The neighbour sweep asks without the kernel: %1").arg(m_helper->how());
            m_helperAsks = true;
            if (m_arpRate > ArpSweep::maxRate)
                m_notes.append(QStringLiteral("The neighbour sweep's devicefinder-arp sends at most %1 ARP requests a "
                                              "second, fewer than the %2 asked")
                                   .arg(groupedNumber(ArpSweep::maxRate), groupedNumber(m_arpRate)));
        }
        m_verdicts.insert(m_verdicts.end(), verdicts.cbegin(), verdicts.cend());
        m_finished = m_finished || step == ArpHelperSweep::Step::Finished;
        m_helperRequests = m_helper->requestsSent();
    }
    if (!verdicts.empty() || step == ArpHelperSweep::Step::Finished || m_helper->requestsSent())
        m_handed.notify_all();
    if (step == ArpHelperSweep::Step::GaveOut) {
        {
            const std::lock_guard lock(m_mutex);
            // Said as how the sweep asks when the helper gave no verdict at all.
            if (m_how.isEmpty())
                m_how = QStringLiteral("The neighbour sweep asks through the kernel: %1").arg(m_helper->why());
            else
                m_notes.append(QStringLiteral("The neighbour sweep's %1").arg(m_helper->why()));
            m_helperEnded = true;
        }
        m_handed.notify_all();
        // The helper's requests of its last second and the kernel's first are not added up.
        toKernel(epoll, now, now + std::chrono::seconds(1));
        return;
    }
    m_over = m_over || step == ArpHelperSweep::Step::Finished;
}

void NeighbourSweep::toKernel(int epoll, Clock::time_point now, Clock::time_point sendsFrom)
{
    m_schedule.emplace(m_helper->rest(), sendsFrom, m_pace);
    m_helper->end(epoll);
    m_helper.reset();
    begin(epoll);
    act(epoll, now);
}
