#pragma once

#include <semaphore>

// A counting semaphore. No wait has a time limit. A unit given back while nobody waits
// costs no system call and wakes no thread, so a run that hands units back by the hundred
// is not woken for each one.
class Semaphore final {
public:
    explicit Semaphore(int count) : m_units(count) {}
    Semaphore(const Semaphore &) = delete;
    Semaphore &operator=(const Semaphore &) = delete;

    // Takes a unit, blocking the calling thread until one is free. Never on the main thread.
    void wait() { m_units.acquire(); }
    // Takes a unit when one is free; never blocks. Any thread.
    bool tryWait() { return m_units.try_acquire(); }
    // Gives a unit back, waking a waiter if there is one. Any thread.
    void signal() { m_units.release(); }

private:
    std::counting_semaphore<> m_units;
};
