#pragma once

#include <condition_variable>
#include <mutex>

// A counter of unfinished work: wait() returns once every enter() has been matched by a
// leave(). A leave() without its enter() stops the program. Any thread; wait() never on
// the main thread.
class DispatchGroup final {
public:
    DispatchGroup() = default;
    DispatchGroup(const DispatchGroup &) = delete;
    DispatchGroup &operator=(const DispatchGroup &) = delete;

    void enter();
    void leave();
    void wait();
    // How many leave() calls there have been so far.
    long left() const;

private:
    mutable std::mutex m_mutex;
    std::condition_variable m_done;
    long m_unfinished = 0;
    long m_left = 0;
};
