#include "support/logcapture.h"

#include <QtGlobal>

#include <cstring>

namespace {
LogCapture *current = nullptr;
} // namespace

LogCapture::LogCapture()
{
    Q_ASSERT(!current);
    current = this;
    m_previous = qInstallMessageHandler(&LogCapture::handle);
}

LogCapture::~LogCapture()
{
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
    if (context.category && std::strncmp(context.category, "devicefinder.", 13) == 0) {
        const std::lock_guard lock(current->m_mutex);
        current->m_lines.append(message);
        return;
    }
    if (current->m_previous)
        current->m_previous(type, context, message);
}
