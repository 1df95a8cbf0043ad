#include "support/logcapture.h"

#include <QtGlobal>

#include <cstring>

namespace {
// Guards `current`, so a line logged by a late background thread never reaches a capture
// that is going away.
std::mutex currentMutex;
LogCapture *current = nullptr;
} // namespace

LogCapture::LogCapture()
{
    const std::lock_guard lock(currentMutex);
    Q_ASSERT(!current);
    current = this;
    m_previous = qInstallMessageHandler(&LogCapture::handle);
}

LogCapture::~LogCapture()
{
    const std::lock_guard lock(currentMutex);
    qInstallMessageHandler(m_previous);
    current = nullptr;
}

QStringList LogCapture::lines() const
{
    const std::lock_guard lock(m_mutex);
    return m_lines;
}

void LogCapture::clear()
{
    const std::lock_guard lock(m_mutex);
    m_lines.clear();
}

void LogCapture::handle(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    const std::lock_guard lock(currentMutex);
    if (!current)
        return;
    if (context.category && std::strncmp(context.category, "devicefinder.", 13) == 0) {
        const std::lock_guard linesLock(current->m_mutex);
        current->m_lines.append(message);
    } else if (current->m_previous) {
        current->m_previous(type, context, message);
    }
}
