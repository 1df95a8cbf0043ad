#include "destinations/deliverylock.h"

#include <QDir>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

std::unique_ptr<DeliveryLock> DeliveryLock::take(const QString &dataFolder, QString &problem)
{
    problem.clear();
    if (!QDir().mkpath(dataFolder)) {
        problem = QStringLiteral("the folder %1 cannot be made").arg(dataFolder);
        return nullptr;
    }
    const QByteArray path = QFile::encodeName(QDir(dataFolder).filePath(QStringLiteral("deliveries.lock")));
    const int descriptor = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (descriptor < 0) {
        problem = QString::fromLocal8Bit(std::strerror(errno));
        return nullptr;
    }
    if (::flock(descriptor, LOCK_EX | LOCK_NB) != 0) {
        if (errno != EWOULDBLOCK)
            problem = QString::fromLocal8Bit(std::strerror(errno));
        ::close(descriptor);
        return nullptr;
    }
    return std::unique_ptr<DeliveryLock>(new DeliveryLock(descriptor));
}

DeliveryLock::~DeliveryLock()
{
    ::close(m_descriptor);
}
