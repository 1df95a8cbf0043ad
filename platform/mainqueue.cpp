#include "platform/mainqueue.h"

#include <QCoreApplication>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

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

    // Called as each application object is made, on its thread, so that its quit is seen
    // even when no task was queued before it.
    void attach()
    {
        const std::lock_guard lock(m_mutex);
        attachLocked();
        m_mainThread = std::this_thread::get_id();
    }

    // Asks no application object, which another thread may be destroying.
    bool isMainThread() const { return m_mainThread.load() == std::this_thread::get_id(); }

    // Returns false, dropping the task, when there is no running application.
    bool async(std::function<void()> task) { return enqueue({std::move(task), nullptr}); }

    void sync(std::function<void()> task)
    {
        // The waiter's own outcome: set once, when the task has run or has been dropped,
        // and never cleared, whatever happens to the application afterwards.
        auto finished = std::make_shared<bool>(false);
        if (!enqueue({std::move(task), finished}))
            return;
        std::unique_lock lock(m_mutex);
        m_finished.wait(lock, [&] { return *finished; });
    }

private:
    struct Entry {
        std::function<void()> task;
        std::shared_ptr<bool> finished; // set for a waiting caller; guarded by m_mutex
    };

    bool enqueue(Entry entry)
    {
        const std::lock_guard lock(m_mutex);
        QCoreApplication *app = attachLocked();
        if (!app)
            return false;
        m_tasks.push_back(std::move(entry));
        if (!m_drainPosted) {
            m_drainPosted = true;
            // Captures nothing: the posted call must not carry data across threads.
            QMetaObject::invokeMethod(app, [] { instance().drain(); }, Qt::QueuedConnection);
        }
        return true;
    }

    // Follows the current application object; called with m_mutex held. Returns null when
    // there is none or it has quit: an application that has quit never takes a task again.
    QCoreApplication *attachLocked()
    {
        QCoreApplication *app = QCoreApplication::instance();
        if (!app)
            return nullptr;
        if (app != m_app) {
            m_app = app;
            m_quit = false;
            m_drainPosted = false;
            QObject::connect(app, &QCoreApplication::aboutToQuit, app, [this] { quit(); });
            QObject::connect(app, &QObject::destroyed, app, [this] {
                quit();
                // A later application object may be made at the same address.
                const std::lock_guard lock(m_mutex);
                m_app = nullptr;
                m_mainThread = std::thread::id();
            });
        }
        return m_quit ? nullptr : app;
    }

    // Main thread, so no task is running: every queued task is dropped and its waiter, if
    // any, is released.
    void quit()
    {
        std::deque<Entry> dropped;
        {
            const std::lock_guard lock(m_mutex);
            m_quit = true;
            dropped.swap(m_tasks);
            for (const Entry &entry : dropped) {
                if (entry.finished)
                    *entry.finished = true;
            }
            m_finished.notify_all();
        }
        // The tasks are destroyed here, outside the lock: what they hold may log or queue.
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
            Entry entry;
            {
                const std::lock_guard lock(m_mutex);
                if (m_tasks.empty())
                    return;
                entry = std::move(m_tasks.front());
                m_tasks.pop_front();
            }
            entry.task();
            entry.task = nullptr;
            if (entry.finished) {
                const std::lock_guard lock(m_mutex);
                *entry.finished = true;
                m_finished.notify_all();
            }
        }
    }

    std::mutex m_mutex;
    std::condition_variable m_finished;
    std::deque<Entry> m_tasks;
    // Only compared, never dereferenced; cleared when the object goes.
    QCoreApplication *m_app = nullptr;
    std::atomic<std::thread::id> m_mainThread;
    bool m_drainPosted = false;
    bool m_quit = false;
};

void attachToApplication()
{
    MainQueue::instance().attach();
}

} // namespace

Q_COREAPP_STARTUP_FUNCTION(attachToApplication)

bool isMainThread()
{
    return MainQueue::instance().isMainThread();
}

void requireMainThread(const char *operation)
{
    if (!isMainThread())
        qFatal("%s called off the main thread", operation);
}

void requireBackgroundThread(const char *operation)
{
    if (isMainThread())
        qFatal("%s called on the main thread, which it would wait for", operation);
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
