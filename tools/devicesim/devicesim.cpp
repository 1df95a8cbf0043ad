#include "tools/devicesim/devicesim.h"

#include "tools/devicesim/simnetwork.h"

#include <QEventLoop>
#include <QSocketNotifier>

#include <sys/eventfd.h>
#include <unistd.h>

#include <condition_variable>
#include <mutex>

namespace {

// What the simulator's thread reports once its sockets are bound, or could not be.
struct Opening {
    std::mutex mutex;
    std::condition_variable changed;
    bool done = false;
    QString problem;
    quint16 infoPort = 0;
    quint16 gatewayPort = 0;
    QList<quint16> httpPorts;
    QList<quint16> rangePorts;
};

void serve(const QList<DeviceProfile> &devices, const QList<RangeProfile> &ranges, const SimOptions &options, ConnectionCounts &counts, int stopFd,
           Opening &opening)
{
    // The loop comes first: it gives this thread the event dispatcher the sockets need.
    QEventLoop loop;
    SimNetwork network(devices, ranges, options, counts);
    // Stopping by a descriptor rather than a posted quit: one written before the loop runs is
    // not lost.
    QSocketNotifier stopper(stopFd, QSocketNotifier::Read);
    QObject::connect(&stopper, &QSocketNotifier::activated, &loop, &QEventLoop::quit);
    QString problem;
    const bool opened = network.open(&problem);
    {
        const std::lock_guard lock(opening.mutex);
        opening.done = true;
        opening.problem = problem;
        if (opened) {
            opening.infoPort = network.infoPort();
            opening.gatewayPort = network.gatewayPort();
            opening.httpPorts = network.httpPorts();
            opening.rangePorts = network.rangePorts();
        }
        opening.changed.notify_one();
    }
    if (opened)
        loop.exec();
}

} // namespace

DeviceSim::DeviceSim(QList<DeviceProfile> devices, SimOptions options)
    : DeviceSim(std::move(devices), {}, std::move(options))
{
}

DeviceSim::DeviceSim(QList<DeviceProfile> devices, QList<RangeProfile> ranges, SimOptions options)
    : m_devices(std::move(devices)), m_ranges(std::move(ranges)), m_options(std::move(options))
{
}

DeviceSim::~DeviceSim()
{
    stop();
}

bool DeviceSim::start(QString *error)
{
    if (isRunning())
        return true;
    m_stopFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (m_stopFd < 0) {
        if (error)
            *error = QStringLiteral("eventfd failed");
        return false;
    }
    Opening opening;
    m_thread = std::thread(serve, m_devices, m_ranges, m_options, std::ref(m_counts), m_stopFd, std::ref(opening));
    std::unique_lock lock(opening.mutex);
    opening.changed.wait(lock, [&] { return opening.done; });
    if (!opening.problem.isEmpty()) {
        lock.unlock();
        m_thread.join();
        close(m_stopFd);
        m_stopFd = -1;
        if (error)
            *error = opening.problem;
        return false;
    }
    m_infoPort = opening.infoPort;
    m_gatewayPort = opening.gatewayPort;
    m_httpPorts = opening.httpPorts;
    m_rangePorts = opening.rangePorts;
    return true;
}

void DeviceSim::stop()
{
    if (!isRunning())
        return;
    eventfd_write(m_stopFd, 1);
    m_thread.join();
    close(m_stopFd);
    m_stopFd = -1;
}
