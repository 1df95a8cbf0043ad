#pragma once

#include <QStringList>

#include <cstring>
#include <mutex>

// Collects the tool's log lines (its own categories only) while it lives, from every
// thread. One at a time.
class LogCapture final {
public:
    LogCapture()
    {
        const std::lock_guard lock(currentMutex);
        Q_ASSERT(!current);
        current = this;
        m_previous = qInstallMessageHandler(&LogCapture::handle);
    }
    ~LogCapture()
    {
        const std::lock_guard lock(currentMutex);
        qInstallMessageHandler(m_previous);
        current = nullptr;
    }
    LogCapture(const LogCapture &) = delete;
    LogCapture &operator=(const LogCapture &) = delete;

    QStringList lines() const
    {
        const std::lock_guard lock(m_mutex);
        return m_lines;
    }
    void clear()
    {
        const std::lock_guard lock(m_mutex);
        m_lines.clear();
    }

private:
    static void handle(QtMsgType type, const QMessageLogContext &context, const QString &message)
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

    // Guards `current`, so that a late background thread's line never reaches a capture
    // that is going away.
    static inline std::mutex currentMutex;
    static inline LogCapture *current = nullptr;
    mutable std::mutex m_mutex;
    QStringList m_lines;
    QtMessageHandler m_previous = nullptr;
};
