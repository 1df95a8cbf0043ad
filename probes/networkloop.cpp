#include "probes/networkloop.h"

#include <curl/curl.h>
#include <fcntl.h>

#include <algorithm>
#include <array>
#include <utility>

namespace {

// How long the loop sleeps with nothing in flight; a new request wakes it.
constexpr long idleSleepMs = 60'000;

// Which of the low descriptors are open, asked of each one itself: no /proc needed. A new
// descriptor takes the lowest free number, so a few open ones never push it past these.
constexpr int lowDescriptors = 1024;
std::array<bool, lowDescriptors> openLowDescriptors()
{
    std::array<bool, lowDescriptors> open{};
    for (int descriptor = 0; descriptor < lowDescriptors; ++descriptor)
        open[std::size_t(descriptor)] = fcntl(descriptor, F_GETFD) != -1;
    return open;
}

} // namespace

NetworkLoop &NetworkLoop::instance()
{
    static NetworkLoop *const loop = new NetworkLoop; // never destroyed
    return *loop;
}

NetworkLoop::NetworkLoop()
{
    curl_global_init(CURL_GLOBAL_DEFAULT);
    // The multi handle opens a socket pair for its wake-up without close-on-exec. With no
    // other thread yet, the descriptors that appear meanwhile are curl's; they are marked,
    // so that no child inherits them.
    const std::array<bool, lowDescriptors> before = openLowDescriptors();
    m_multi = curl_multi_init();
    const std::array<bool, lowDescriptors> after = openLowDescriptors();
    for (int descriptor = 0; descriptor < lowDescriptors; ++descriptor) {
        if (after[std::size_t(descriptor)] && !before[std::size_t(descriptor)])
            fcntl(descriptor, F_SETFD, fcntl(descriptor, F_GETFD) | FD_CLOEXEC);
    }
    std::thread thread([this] { run(); });
    pthread_setname_np(thread.native_handle(), "network");
    thread.detach();
}

void NetworkLoop::start(std::unique_ptr<HttpRequest> request)
{
    std::vector<std::unique_ptr<HttpRequest>> one;
    one.push_back(std::move(request));
    start(std::move(one));
}

void NetworkLoop::start(std::vector<std::unique_ptr<HttpRequest>> requests)
{
    bool sleeping = false;
    {
        const std::lock_guard lock(m_mutex);
        for (std::unique_ptr<HttpRequest> &request : requests)
            m_queued.push_back(std::move(request));
        // A loop that is awake looks at the queue before it sleeps again.
        sleeping = std::exchange(m_sleeping, false);
    }
    if (sleeping)
        wake();
}

void NetworkLoop::wake()
{
    curl_multi_wakeup(m_multi);
}

void NetworkLoop::run()
{
    for (;;) {
        startQueued();
        int running = 0;
        curl_multi_perform(m_multi, &running);
        readCompletions();
        endOverdue();
        // What was queued meanwhile starts before the loop sleeps.
        {
            const std::lock_guard lock(m_mutex);
            if (!m_queued.empty())
                continue;
            m_sleeping = true;
        }
        long timeoutMs = -1;
        curl_multi_timeout(m_multi, &timeoutMs);
        if (timeoutMs < 0)
            timeoutMs = idleSleepMs;
        // Wake for the first request's time-out too.
        const HttpRequest::Clock::time_point now = HttpRequest::Clock::now();
        for (const auto &[handle, request] : m_active) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(request->deadline() - now).count();
            timeoutMs = std::clamp<long>(left, 0, timeoutMs);
        }
        curl_multi_poll(m_multi, nullptr, 0, int(timeoutMs), nullptr);
    }
}

void NetworkLoop::startQueued()
{
    std::deque<std::unique_ptr<HttpRequest>> queued;
    {
        const std::lock_guard lock(m_mutex);
        m_sleeping = false;
        queued.swap(m_queued);
    }
    for (std::unique_ptr<HttpRequest> &request : queued) {
        if (!request->prepare() || curl_multi_add_handle(m_multi, request->handle()) != CURLM_OK) {
            request->finish(true);
            continue;
        }
        CURL *const handle = request->handle();
        m_active.emplace(handle, std::move(request));
    }
}

void NetworkLoop::readCompletions()
{
    int left = 0;
    while (CURLMsg *message = curl_multi_info_read(m_multi, &left)) {
        if (message->msg != CURLMSG_DONE)
            continue;
        CURL *const handle = message->easy_handle;
        const CURLcode code = message->data.result;
        HttpRequest &request = *m_active.at(handle);
        curl_multi_remove_handle(m_multi, handle);
        if (request.completed(code) && curl_multi_add_handle(m_multi, handle) == CURLM_OK)
            continue; // following a redirect
        end(handle, false);
    }
}

void NetworkLoop::endOverdue()
{
    const HttpRequest::Clock::time_point now = HttpRequest::Clock::now();
    std::vector<CURL *> over;
    for (const auto &[handle, request] : m_active) {
        if (request->isOver(now))
            over.push_back(handle);
    }
    for (CURL *handle : over) {
        curl_multi_remove_handle(m_multi, handle); // closes its socket
        end(handle, true);
    }
}

void NetworkLoop::end(CURL *handle, bool failed)
{
    const auto found = m_active.find(handle);
    std::unique_ptr<HttpRequest> request = std::move(found->second);
    m_active.erase(found);
    request->finish(failed);
}
