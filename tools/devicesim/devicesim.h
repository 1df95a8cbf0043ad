#pragma once

#include "tools/devicesim/connectioncounts.h"
#include "tools/devicesim/deviceprofile.h"
#include "tools/devicesim/simoptions.h"

#include <QList>

#include <thread>

// A set of simulated devices served from a thread of their own, so that a test whose
// thread blocks on a socket still gets its answers.
//
//     DeviceSim sim(devices);
//     if (!sim.start(&error)) ...;
//     ... talk to the devices ...
//     sim.stop();   // or let the destructor do it
//
// Threading: start(), stop() and the getters are for the one thread that owns the object.
// Every Qt object of the simulator is made, used and deleted on the simulator's thread, and
// the two threads meet only through standard primitives that the thread sanitizer sees.
class DeviceSim final {
public:
    explicit DeviceSim(QList<DeviceProfile> devices, SimOptions options = {});
    DeviceSim(QList<DeviceProfile> devices, QList<RangeProfile> ranges, SimOptions options = {});
    ~DeviceSim();
    DeviceSim(const DeviceSim &) = delete;
    DeviceSim &operator=(const DeviceSim &) = delete;

    // Binds every socket; when one cannot be bound, nothing runs and `error` says why.
    bool start(QString *error = nullptr);
    void stop();
    bool isRunning() const { return m_thread.joinable(); }

    // Ports actually bound (useful where the options or the file asked for port 0).
    quint16 infoPort() const { return m_infoPort; }
    quint16 gatewayPort() const { return m_gatewayPort; }
    quint16 httpPort(qsizetype device) const { return m_httpPorts.value(device); }
    // The HTTP port every address of a silent range listens on; 0 for a refusing range.
    quint16 rangePort(qsizetype range) const { return m_rangePorts.value(range); }

    // HTTP connections over every device, readable from any thread while it runs.
    int openConnections() const { return m_counts.open(); }
    int peakOpenConnections() const { return m_counts.peak(); }
    qint64 acceptedConnections() const { return m_counts.accepted(); }

private:
    QList<DeviceProfile> m_devices;
    QList<RangeProfile> m_ranges;
    SimOptions m_options;
    std::thread m_thread;
    int m_stopFd = -1;
    ConnectionCounts m_counts;
    quint16 m_infoPort = 0;
    quint16 m_gatewayPort = 0;
    QList<quint16> m_httpPorts;
    QList<quint16> m_rangePorts;
};
