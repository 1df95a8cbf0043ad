#include "sweep/arphelpersweep.h"

#include "address/ipv4text.h"
#include "arp/arpinput.h"
#include "arp/arpsweep.h"
#include "platform/englishtext.h"
#include "probes/loopwork.h"

#include <net/if.h>
#include <sys/epoll.h>

namespace {

// Source calls in one pass, at most: gathering a large scan does not hold the transfers.
constexpr int gathersPerPass = 65'536;

} // namespace

ArpHelperSweep::ArpHelperSweep(QString program, quint32 rate, SweepSchedule::Source addresses,
                               std::vector<ArpPace::Request> held)
    : m_program(std::move(program)), m_rate(rate), m_source(std::move(addresses)), m_held(std::move(held))
{
}

ArpHelperSweep::Step ArpHelperSweep::act(int epoll, std::deque<SweepVerdict> &verdicts, std::size_t room,
                                         Clock::time_point now)
{
    if (m_gathering) {
        if (!gather())
            return Step::Working;
        m_gathering = false;
        if (m_heldBack)
            return unusable(QStringLiteral("the scan's addresses on this computer's links lie on more than one interface"));
        if (m_stretches.size() > ArpInputParser::maxRanges || m_addresses > ArpInputParser::maxAddresses)
            return unusable(QStringLiteral("the scan's addresses on this computer's links are too many for it"));
        if (m_stretches.empty())
            return Step::Finished;
        return launch(epoll, now);
    }
    feed(epoll);
    std::deque<ArpAnswer> answers;
    const ArpHelperProcess::Status status = m_process->read(answers, room);
    for (const ArpAnswer &answer : answers) {
        if (answer.kind == ArpAnswer::Kind::Greeting)
            continue;
        if (answer.kind == ArpAnswer::Kind::End) {
            m_endSeen = true;
            m_sent = answer.sent;
            continue;
        }
        const bool inOrder = m_stretch < m_stretches.size() && answer.address == m_stretches[m_stretch].first + m_offset;
        if (!inOrder || m_endSeen)
            return gaveOut(QStringLiteral("devicefinder-arp answered for an address out of turn: it is ended"));
        if (m_stretches[m_stretch].first + m_offset == m_stretches[m_stretch].last) {
            ++m_stretch;
            m_offset = 0;
        } else {
            ++m_offset;
        }
        ++m_given;
        verdicts.push_back({answer.address, answer.kind == ArpAnswer::Kind::Someone ? SweepVerdict::Kind::Someone
                                                                                     : SweepVerdict::Kind::Nobody});
    }
    if (status == ArpHelperProcess::Status::Failed)
        return gaveOut(QStringLiteral("devicefinder-arp wrote something that is no answer: it is ended"));
    if (status == ArpHelperProcess::Status::Ended) {
        ArpExit code = ArpExit::Done;
        const QString reason = m_process->exitReason(&code);
        if (m_endSeen && code == ArpExit::Done && m_stretch == m_stretches.size())
            return Step::Finished;
        if (m_given == 0) {
            return unusable(code == ArpExit::NoSocket
                                ? QStringLiteral("devicefinder-arp at %1 may not send ARP (%2)").arg(m_program, reason)
                                : QStringLiteral("devicefinder-arp at %1 ended: %2").arg(m_program, reason));
        }
        return gaveOut(QStringLiteral("devicefinder-arp ended part way (%1)").arg(reason));
    }
    watchOutput(epoll, verdicts.size() < room, now);
    if (!m_pausedAt && now >= m_deadline)
        return gaveOut(QStringLiteral("devicefinder-arp did not finish within %1 s (two requests for each of its %2 "
                                      "addresses at its pace, and %3 s): it is ended")
                           .arg(groupedNumber(quint64(m_allowed.count())), groupedNumber(m_addresses))
                           .arg(deadlineSlack.count()));
    return Step::Working;
}

std::optional<ArpHelperSweep::Clock::time_point> ArpHelperSweep::deadline() const
{
    if (!m_process || m_pausedAt)
        return std::nullopt;
    return m_deadline;
}

bool ArpHelperSweep::gather()
{
    for (int calls = 0; calls < gathersPerPass; ++calls) {
        const SweepSchedule::Next next = m_source();
        if (!next.address)
            return !next.more;
        if (m_interfaceIndex == 0)
            m_interfaceIndex = next.interfaceIndex;
        if (next.interfaceIndex != m_interfaceIndex) {
            m_heldBack = next.address;
            m_heldBackInterface = next.interfaceIndex;
            return true;
        }
        ++m_addresses;
        if (!m_stretches.empty() && m_stretches.back().last != 0xFFFFFFFF && m_stretches.back().last + 1 == *next.address)
            m_stretches.back().last = *next.address;
        else
            m_stretches.push_back({*next.address, *next.address});
        // Past either bound the helper is not used: no need to gather more.
        if (m_stretches.size() > ArpInputParser::maxRanges || m_addresses > ArpInputParser::maxAddresses)
            return true;
    }
    return false;
}

ArpHelperSweep::Step ArpHelperSweep::launch(int epoll, Clock::time_point now)
{
    char name[IF_NAMESIZE] = {};
    if (!if_indextoname(unsigned(m_interfaceIndex), name))
        return unusable(QStringLiteral("the interface %1 has no name").arg(m_interfaceIndex));
    m_interface = QString::fromLocal8Bit(name);
    std::string input = std::string(arpGreeting) + "\ninterface " + name + '\n';
    if (m_rate > 0)
        input += "rate " + std::to_string(m_rate) + '\n';
    for (const Stretch &stretch : m_stretches)
        input += "range " + ipv4Text(stretch.first) + ' ' + ipv4Text(stretch.last) + '\n';
    // Both clocks are the system's monotonic one.
    for (const ArpPace::Request &request : m_held) {
        input += "held " + std::to_string(std::chrono::nanoseconds(request.at.time_since_epoch()).count()) + ' '
            + std::to_string(std::chrono::nanoseconds(request.late).count()) + '\n';
    }
    input += "end\n";
    m_process = std::make_unique<ArpHelperProcess>();
    QString why;
    if (!m_process->start(m_program, std::move(input), &why))
        return unusable(QStringLiteral("devicefinder-arp at %1 cannot be started: %2").arg(m_program, why));
    watchDescriptor(epoll, EPOLL_CTL_ADD, m_process->outputDescriptor(), EPOLLIN);
    m_outputWatched = true;
    // The helper's pace: the user's, never above its own ceiling.
    const quint64 pace = m_rate > 0 ? std::min(m_rate, ArpSweep::maxRate) : ArpSweep::maxRate;
    m_allowed = std::chrono::seconds((2 * m_addresses + pace - 1) / pace) + deadlineSlack;
    m_deadline = now + m_allowed;
    feed(epoll);
    return Step::Working;
}

void ArpHelperSweep::feed(int epoll)
{
    // A helper that ended early says why on its output's end.
    m_process->write();
    if (m_process->hasUnwritten() != m_inputWatched) {
        m_inputWatched = !m_inputWatched;
        watchDescriptor(epoll, m_inputWatched ? EPOLL_CTL_ADD : EPOLL_CTL_DEL, m_process->inputDescriptor(), EPOLLOUT);
    }
}

ArpHelperSweep::Step ArpHelperSweep::unusable(const QString &why)
{
    m_why = why;
    return Step::Unusable;
}

ArpHelperSweep::Step ArpHelperSweep::gaveOut(const QString &why)
{
    m_why = why + QStringLiteral(", and the kernel asks for the addresses it has not answered");
    return Step::GaveOut;
}

void ArpHelperSweep::watchOutput(int epoll, bool watchIt, Clock::time_point now)
{
    if (watchIt == m_outputWatched)
        return;
    // While the walk's verdicts are full, the helper's output waits in its pipe, out of the
    // wait set: a hang-up is reported whatever the events asked. The walk wakes the loop
    // when it takes a verdict. The wait is the walk's, not the helper's: its deadline moves.
    watchDescriptor(epoll, watchIt ? EPOLL_CTL_ADD : EPOLL_CTL_DEL, m_process->outputDescriptor(), EPOLLIN);
    m_outputWatched = watchIt;
    if (!watchIt)
        m_pausedAt = now;
    else if (m_pausedAt)
        m_deadline += now - *std::exchange(m_pausedAt, std::nullopt);
}

bool ArpHelperSweep::owns(int descriptor) const
{
    return m_process && (descriptor == m_process->outputDescriptor() || descriptor == m_process->inputDescriptor());
}

QString ArpHelperSweep::how() const
{
    return QStringLiteral("devicefinder-arp at %1 sends the ARP requests on %2").arg(m_program, m_interface);
}

SweepSchedule::Source ArpHelperSweep::rest()
{
    struct Rest {
        std::vector<Stretch> stretches;
        int interfaceIndex;
        std::optional<quint32> heldBack;
        int heldBackInterface;
        SweepSchedule::Source source;
        std::size_t stretch = 0;
        quint64 offset = 0;
    };
    // From the first address without a verdict.
    auto rest = std::make_shared<Rest>(Rest{std::move(m_stretches), m_interfaceIndex, m_heldBack, m_heldBackInterface,
                                            std::move(m_source), m_stretch, m_offset});
    return [rest] {
        if (rest->stretch < rest->stretches.size()) {
            const Stretch &stretch = rest->stretches[rest->stretch];
            const quint32 address = quint32(stretch.first + rest->offset);
            if (address == stretch.last) {
                ++rest->stretch;
                rest->offset = 0;
            } else {
                ++rest->offset;
            }
            return SweepSchedule::Next{address, false, rest->interfaceIndex};
        }
        if (rest->heldBack)
            return SweepSchedule::Next{std::exchange(rest->heldBack, std::nullopt), false, rest->heldBackInterface};
        return rest->source ? rest->source() : SweepSchedule::Next{};
    };
}

void ArpHelperSweep::end(int epoll)
{
    if (m_process && m_outputWatched)
        epoll_ctl(epoll, EPOLL_CTL_DEL, m_process->outputDescriptor(), nullptr);
    if (m_process && m_inputWatched)
        epoll_ctl(epoll, EPOLL_CTL_DEL, m_process->inputDescriptor(), nullptr);
    m_outputWatched = m_inputWatched = false;
    m_process.reset();
}
