#include "platform/mainqueue.h"

#include <QCoreApplication>
#include <QThread>

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>

namespace {

// The tasks travel through this queue under its own mutex, not inside Qt's posted events,
// so every hand-over between threads is visible to the thread sanitizer. Qt only carries
// the wake-up.
class MainQueue final {
public:
    static MainQueue &instance()
    {
        static MainQueue *const queue = new MainQueue; // outlives every thread
        return *queue;
    }

    // Returns false, dropping the task, when there is no running application.
    bool async(std::function<void()> task)
    {
        const std::lock_guard lock(m_mutex);
        QCoreApplication *app = attachLocked();
        if (!app)
            return false;
        m_tasks.push_back(std::move(task));
        if (!m_drainPosted) {
            m_drainPosted = true;
            QMetaObject::invokeMethod(app, [this] { drain(); }, Qt::QueuedConnection);
        }
        return true;
    }

    void sync(std::function<void()> task)
    {
        auto ran = std::make_shared<bool>(false);
        const bool queued = async([this, task = std::move(task), ran] {
            task();
            const std::lock_guard lock(m_mutex);
            *ran = true;
            m_ran.notify_all();
        });
        if (!queued)
            return;
        std::unique_lock lock(m_mutex);
        m_ran.wait(lock, [&] { return *ran || m_quitting; });
    }

private:
    // Follows the current application object; called with m_mutex held. Returns null
    // when there is none or it is quitting.
    QCoreApplication *attachLocked()
    {
        QCoreApplication *app = QCoreApplication::instance();
        if (app != m_app) {
            m_app = app;
            m_quitting = false;
            m_drainPosted = false;
            if (app) {
                QObject::connect(app, &QCoreApplication::aboutToQuit, app, [this] { quit(); });
                QObject::connect(app, &QObject::destroyed, app, [this] { quit(); });
            }
        }
        return app && !m_quitting ? app : nullptr;
    }

    void quit()
    {
        std::deque<std::function<void()>> dropped;
        {
            const std::lock_guard lock(m_mutex);
            m_quitting = true;
            dropped.swap(m_tasks);
            m_ran.notify_all();
        }
    }

    void drain()
    {
        // Runs only what was queued before this pass, so a busy queue cannot starve the
        // event loop.
        size_t count;
        {
            const std::lock_guard lock(m_mutex);
            m_drainPosted = false;
            count = m_tasks.size();
        }
        while (count-- > 0) {
            std::function<void()> task;
            {
                const std::lock_guard lock(m_mutex);
                if (m_tasks.empty())
                    return;
                task = std::move(m_tasks.front());
                m_tasks.pop_front();
            }
            task();
        }
    }

    std::mutex m_mutex;
    std::condition_variable m_ran;
    std::deque<std::function<void()>> m_tasks;
    QCoreApplication *m_app = nullptr;
    bool m_drainPosted = false;
    bool m_quitting = false;
};

} // namespace

bool isMainThread()
{
    const QCoreApplication *app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

void mainAsync(std::function<void()> task)
{
    MainQueue::instance().async(std::move(task));
}

void mainSync(std::function<void()> task)
{
    if (isMainThread()) {
        task();
        return;
    }
    MainQueue::instance().sync(std::move(task));
}
