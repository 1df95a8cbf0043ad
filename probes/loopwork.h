#pragma once

#include <sys/epoll.h>

#include <chrono>
#include <functional>
#include <optional>

// Work of its own descriptors that the network thread runs in its epoll loop beside the
// transfers, such as a scan's neighbour sweep. The loop calls these on its own thread: it
// registers its descriptors, acts on each pass, sleeps no longer than wakeAt(), and ends it
// once it is over. What the work does is its own; the loop knows it only through this.
class LoopWork {
public:
    using Clock = std::chrono::steady_clock;

    virtual ~LoopWork() = default;

    virtual void begin(int epoll) = 0;
    // Whether the descriptor is one of the work's, which the loop leaves to it.
    virtual bool owns(int descriptor) const = 0;
    virtual void act(int epoll, Clock::time_point now) = 0;
    // When the work wants its next pass at the latest; nothing for no time of its own.
    virtual std::optional<Clock::time_point> wakeAt() const = 0;
    virtual bool isOver() const = 0;
    // Unregisters and closes its descriptors.
    virtual void end(int epoll) = 0;

    // What wakes the loop for a pass now; the loop sets it as it is given the work, before
    // any pass, and the work calls it from any thread through wakeLoop().
    void setWaker(std::function<void()> wake) { m_wake = std::move(wake); }

protected:
    void wakeLoop() const
    {
        if (m_wake)
            m_wake();
    }

private:
    std::function<void()> m_wake;
};

// Registers, changes or drops a descriptor of a work's in the loop's epoll.
inline void watchDescriptor(int epoll, int operation, int descriptor, unsigned events)
{
    epoll_event event{};
    event.events = events;
    event.data.fd = descriptor;
    epoll_ctl(epoll, operation, descriptor, &event);
}
