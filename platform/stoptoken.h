#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>

class StopToken;

// Keeps a waker registered with a StopToken; unregisters it when it ends. Once the
// destructor has returned, the waker is not running and will never run. End it only
// while holding none of the locks that the waker takes.
class StopRegistration final {
public:
    StopRegistration() = default;
    StopRegistration(std::shared_ptr<StopToken> token, std::uint64_t id) : m_token(std::move(token)), m_id(id) {}
    StopRegistration(StopRegistration &&other) noexcept;
    StopRegistration &operator=(StopRegistration &&other) noexcept;
    StopRegistration(const StopRegistration &) = delete;
    StopRegistration &operator=(const StopRegistration &) = delete;
    ~StopRegistration() { reset(); }

    void reset();

private:
    std::shared_ptr<StopToken> m_token;
    std::uint64_t m_id = 0;
};

// Whether the user has stopped a run. A run makes one and hands it to everything it
// starts; once stopped, it stays stopped. Work that blocks registers a waker, so that a
// stop reaches it at once instead of at its next look. Any thread.
class StopToken final : public std::enable_shared_from_this<StopToken> {
public:
    bool isStopped() const noexcept { return m_stopped.load(std::memory_order_acquire); }

    // Sets the flag, then calls every registered waker once, on this thread. Later calls
    // do nothing.
    void stop();

    // Calls `waker` when the token stops, for as long as the registration lives; at once,
    // on this thread, when it has stopped already. A waker only wakes: it must not block,
    // and must not register or unregister.
    [[nodiscard]] StopRegistration onStop(std::function<void()> waker);

private:
    friend class StopRegistration;
    void unregister(std::uint64_t id);

    std::atomic<bool> m_stopped{false};
    std::mutex m_mutex; // held while wakers run, so that an unregister waits for them
    std::map<std::uint64_t, std::function<void()>> m_wakers;
    std::uint64_t m_nextId = 1;
};
