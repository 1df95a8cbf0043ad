#pragma once

#include <QString>

#include <memory>

// The delivery lock: of the watchers on this computer (the window, the command, the user
// service) only the one holding it sends to destinations, so that no change is sent twice. It
// is a lock on deliveries.lock in the data folder, held while the watcher lives and let go by
// the system when it dies. Any thread.
class DeliveryLock final {
public:
    // The lock, or nothing when another watcher holds it or it cannot be had (`problem` says
    // why then; empty when another holds it).
    static std::unique_ptr<DeliveryLock> take(const QString &dataFolder, QString &problem);
    ~DeliveryLock();
    DeliveryLock(const DeliveryLock &) = delete;
    DeliveryLock &operator=(const DeliveryLock &) = delete;

private:
    explicit DeliveryLock(int descriptor) : m_descriptor(descriptor) {}
    int m_descriptor;
};
