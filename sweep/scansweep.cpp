#include "sweep/scansweep.h"

#include "arp/arpsweep.h"
#include "localnet/networkinterfaces.h"
#include "platform/englishtext.h"
#include "platform/log.h"
#include "probes/networkloop.h"
#include "sweep/arphelperprocess.h"

#include <algorithm>

namespace {

// Addresses the sweep's source looks at in one call, at most: a range with few addresses on
// link does not hold the network thread while the source looks for the next one.
constexpr int looksPerCall = 4096;

// A stretch's addresses lie between its first and its last.
bool mayBeOnLink(const SweepWalk::Stretch &stretch, const LinkRoutes &routes)
{
    const std::optional<quint32> first = stretch.first.ipv4();
    const std::optional<quint32> last = stretch.last.ipv4();
    return !first || !last || routes.mayBeOnLink(*first, *last);
}

} // namespace

ScanSweep::ScanSweep(SweepWalk walk, const std::shared_ptr<Run> &run, std::shared_ptr<const LinkRoutes> routes,
                     const QString &why, quint32 arpRate, const ArpPace *pace)
{
    if (!routes) {
        logLine(lcScan, "No neighbour sweep: the routing table cannot be read (%@); every address is probed", why);
        return;
    }
    if (std::none_of(walk.stretches.cbegin(), walk.stretches.cend(),
                     [&](const auto &stretch) { return mayBeOnLink(stretch, *routes); }))
        return;
    m_routes = std::move(routes);
    // The walk's own order, on the network thread.
    SweepSchedule::Source source = [next = std::move(walk.next), routes = m_routes] {
        for (int looked = 0; looked < looksPerCall; ++looked) {
            const std::optional<Address> address = next();
            if (!address)
                return SweepSchedule::Next{};
            const std::optional<quint32> ip = address->ipv4();
            if (const int via = ip ? routes->linkInterface(*ip) : 0)
                return SweepSchedule::Next{ip, false, via};
        }
        return SweepSchedule::Next{std::nullopt, true};
    };
    QString unopened;
    const NeighbourSweep::Options options{arpRate, ArpHelperProcess::find(), pace ? std::optional(*pace) : std::nullopt};
    m_sweep = NeighbourSweep::open(std::move(source), run->stopToken(), options, &unopened);
    if (!m_sweep) {
        logLine(lcScan, "No neighbour sweep: %@; every address is probed", unopened);
        return;
    }
    NetworkLoop::instance().startWork(m_sweep);
    if (options.helper.isEmpty()) {
        m_howLogged = true;
        logLine(lcScan, "The neighbour sweep asks through the kernel: %@",
                qEnvironmentVariableIsSet("DEVICEFINDER_ARP_HELPER")
                    ? QStringLiteral("DEVICEFINDER_ARP_HELPER is empty")
                    : QStringLiteral("no devicefinder-arp beside the program or in its library folder"));
    }
}

ScanSweep::AddressCost ScanSweep::addressCost()
{
    if (ArpHelperProcess::find().isEmpty())
        return {};
    return {ArpSweep::requestsPerAddress, ArpSweep::replyWait};
}

bool ScanSweep::foundEmpty(const Address &address)
{
    if (!m_sweep)
        return false;
    const std::optional<quint32> ip = address.ipv4();
    if (!ip || !m_routes->isOnLink(*ip))
        return false;
    ++m_swept;
    const std::optional<SweepVerdict::Kind> kind = m_sweep->verdict(*ip);
    if (!m_howLogged) {
        if (const QString how = m_sweep->how(); !how.isEmpty()) {
            m_howLogged = true;
            logLine(lcScan, "%@", how);
        }
    }
    if (m_howLogged) {
        for (const QString &note : m_sweep->takeNotes())
            logLine(lcScan, "%@", note);
    }
    if (kind == SweepVerdict::Kind::NoWord && !m_failureLogged) {
        if (const QString failure = m_sweep->failure(); !failure.isEmpty()) {
            m_failureLogged = true;
            logLine(lcScan, "The neighbour sweep stopped: %@; the addresses after it are probed without it", failure);
        }
    }
    if (kind != SweepVerdict::Kind::Nobody)
        return false;
    ++m_empty;
    return true;
}

void ScanSweep::logSummary() const
{
    if (m_swept == 0)
        return;
    QString line = QStringLiteral("The neighbour sweep found %1 of %2 addresses on this computer's links empty")
                       .arg(groupedNumber(m_empty), groupedNumber(m_swept));
    if (const int lost = m_sweep->timesLost(); lost > 0)
        line += QStringLiteral("; the kernel's changes were lost %1 times, and its table read again").arg(lost);
    logLine(lcScan, "%@", line);
    if (m_sweep->helperAsked()) {
        const std::optional<quint64> sent = m_sweep->helperRequests();
        // The helper has the kernel resolve each address that answers, once.
        logLine(lcScan, "The neighbour sweep's devicefinder-arp sent %@ ARP requests, and the kernel about %@ more, one for "
                "each address that answered",
                sent ? groupedNumber(*sent) : QStringLiteral("an uncounted number of"), groupedNumber(m_swept - m_empty));
    } else {
        // The kernel asks three times for an address nobody holds, and mostly once for one
        // that answers.
        const quint64 datagrams = m_sweep->datagramsSent();
        const quint64 estimate =
            ArpPace::kernelRequests * m_empty + (datagrams - std::min(datagrams, m_empty));
        logLine(lcScan, "The neighbour sweep made the kernel send about %@ ARP requests", groupedNumber(estimate));
    }
}
