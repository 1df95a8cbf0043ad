#include "platform/lookuppool.h"

#include <pthread.h>

#include <algorithm>
#include <thread>

LookupPool::LookupPool(int liveLimit, int maxThreads) : m_liveLimit(liveLimit), m_maxThreads(maxThreads) {}

LookupPool::~LookupPool()
{
    std::vector<std::thread> threads;
    {
        const std::lock_guard lock(m_mutex);
        m_stopping = true;
        for (const std::unique_ptr<Worker> &worker : m_workers)
            threads.push_back(std::move(worker->thread));
    }
    m_wake.notify_all();
    for (std::thread &thread : threads)
        thread.join();
}

LookupPool &LookupPool::instance()
{
    static LookupPool *const pool = new LookupPool(32, 64); // never destroyed
    return *pool;
}

void LookupPool::async(std::stop_token owner, std::function<void()> lookUp)
{
    std::deque<Task> dropped;
    const std::lock_guard lock(m_mutex);
    m_queue.push_back({std::move(owner), std::move(lookUp)});
    dispatchLocked(dropped);
}

int LookupPool::threadCount() const
{
    const std::lock_guard lock(m_mutex);
    return int(m_workers.size());
}

int LookupPool::liveCountLocked() const
{
    return int(std::count_if(m_workers.cbegin(), m_workers.cend(), [](const std::unique_ptr<Worker> &worker) {
        return worker->running.stop_possible() && !worker->running.stop_requested();
    }));
}

bool LookupPool::mayStartLocked(std::deque<Task> &dropped)
{
    // What nobody wants any more is let go here, before it can take a thread.
    for (auto task = m_queue.begin(); task != m_queue.end();) {
        if (task->owner.stop_requested()) {
            dropped.push_back(std::move(*task));
            task = m_queue.erase(task);
        } else {
            ++task;
        }
    }
    return !m_queue.empty() && liveCountLocked() < m_liveLimit;
}

void LookupPool::dispatchLocked(std::deque<Task> &dropped)
{
    if (!mayStartLocked(dropped))
        return;
    const int startable = std::min(int(m_queue.size()), m_liveLimit - liveCountLocked());
    if (m_idle > 0)
        m_wake.notify_all();
    // A thread started a moment ago is about to take one of these too.
    for (int more = startable - m_idle - m_starting; more > 0 && int(m_workers.size()) < m_maxThreads; --more) {
        ++m_starting;
        auto worker = std::make_unique<Worker>();
        Worker *const self = worker.get();
        worker->thread = std::thread([this, self] { work(self); });
        m_workers.push_back(std::move(worker));
    }
}

void LookupPool::work(Worker *worker)
{
    pthread_setname_np(pthread_self(), "lookup");
    std::unique_lock lock(m_mutex);
    --m_starting;
    for (;;) {
        std::deque<Task> dropped;
        ++m_idle;
        m_wake.wait(lock, [&] { return mayStartLocked(dropped) || (m_stopping && m_queue.empty()); });
        --m_idle;
        if (m_queue.empty())
            return; // the pool is going
        Task task = std::move(m_queue.front());
        m_queue.pop_front();
        worker->running = task.owner;
        dispatchLocked(dropped); // more may start beside this one
        lock.unlock();
        dropped.clear();
        {
            // Once its owner gives it up, this look-up frees its place for another.
            const std::stop_callback givenUp(task.owner, [this] {
                std::deque<Task> none;
                const std::lock_guard relock(m_mutex);
                dispatchLocked(none);
            });
            task.lookUp();
        }
        task = {};
        lock.lock();
        worker->running = {};
    }
}
