#include "probes/networkloop.h"

#include <curl/curl.h>
#include <fcntl.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <utility>

namespace {

// How long the loop sleeps with nothing in flight; a new request wakes it.
constexpr long idleSleepMs = 60'000;

// Easy handles kept for reuse, about as many as a scan has transfers at once: a scan of a
// large range would otherwise make and free one, with its buffers, per address.
constexpr std::size_t maxSpareHandles = 64;

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
    m_epoll = epoll_create1(EPOLL_CLOEXEC);
    m_wakeUp = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    epoll_event wakeUp{};
    wakeUp.events = EPOLLIN;
    wakeUp.data.fd = m_wakeUp;
    epoll_ctl(m_epoll, EPOLL_CTL_ADD, m_wakeUp, &wakeUp);
    curl_multi_setopt(m_multi, CURLMOPT_SOCKETFUNCTION, onSocket);
    curl_multi_setopt(m_multi, CURLMOPT_SOCKETDATA, this);
    curl_multi_setopt(m_multi, CURLMOPT_TIMERFUNCTION, onTimer);
    curl_multi_setopt(m_multi, CURLMOPT_TIMERDATA, this);
    std::thread thread([this] { run(); });
    pthread_setname_np(thread.native_handle(), "network");
    thread.detach();
}

template <typename Add>
void NetworkLoop::enqueue(Add add)
{
    bool sleeping = false;
    {
        const std::lock_guard lock(m_mutex);
        add();
        // A loop that is awake looks at its queues before it sleeps again.
        sleeping = std::exchange(m_sleeping, false);
    }
    if (sleeping)
        wake();
}

void httpGet(HttpTarget target, HttpHandler handler, std::stop_token stop)
{
    NetworkLoop::instance().start(std::make_unique<HttpRequest>(std::move(target), std::move(handler), std::move(stop)));
}

void NetworkLoop::start(std::unique_ptr<HttpRequest> request)
{
    enqueue([&] { m_queued.push_back(std::move(request)); });
}

void NetworkLoop::startWork(std::shared_ptr<LoopWork> work)
{
    work->setWaker([this] { wake(); });
    enqueue([&] { m_queuedWorks.push_back(std::move(work)); });
}

void NetworkLoop::wake()
{
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = write(m_wakeUp, &one, sizeof one);
}

void NetworkLoop::run()
{
    for (;;) {
        startQueued();
        waitAndAct();
        readCompletions();
        endOverdue();
        finishEnded();
    }
}

void NetworkLoop::waitAndAct()
{
    // The loop sleeps only with nothing queued, and a request queued from now on wakes it.
    bool queued = false;
    {
        const std::lock_guard lock(m_mutex);
        queued = !m_queued.empty() || !m_queuedWorks.empty();
        m_sleeping = !queued;
    }
    // Until curl's own time-out or the first request's, whichever comes first.
    const Clock::time_point now = Clock::now();
    // Requests that ended as they started (a refused connection) are finished after it.
    const bool due = queued || !m_ended.empty();
    Clock::time_point until = due ? now : m_curlTimer.value_or(now + std::chrono::milliseconds(idleSleepMs));
    for (const auto &[handle, request] : m_active)
        until = std::min(until, request->deadline());
    for (const auto &[socket, request] : m_connecting)
        until = std::min(until, request->deadline());
    for (const std::shared_ptr<LoopWork> &work : m_works)
        until = std::min(until, work->wakeAt().value_or(until));
    const auto timeoutMs = std::max<long long>(0, std::chrono::ceil<std::chrono::milliseconds>(until - now).count());

    std::array<epoll_event, 64> events;
    const int ready = epoll_wait(m_epoll, events.data(), int(events.size()), int(timeoutMs));
    int running = 0;
    for (int i = 0; i < ready; ++i) {
        const epoll_event &event = events[std::size_t(i)];
        if (event.data.fd == m_wakeUp) {
            std::uint64_t count = 0;
            [[maybe_unused]] const ssize_t got = read(m_wakeUp, &count, sizeof count);
            continue;
        }
        if (m_connecting.contains(event.data.fd)) {
            connected(event.data.fd);
            continue;
        }
        // A work acts on what its descriptors have on every pass.
        if (std::any_of(m_works.cbegin(), m_works.cend(),
                        [&](const std::shared_ptr<LoopWork> &work) { return work->owns(event.data.fd); }))
            continue;
        const int what = ((event.events & EPOLLIN) ? CURL_CSELECT_IN : 0)
                         | ((event.events & EPOLLOUT) ? CURL_CSELECT_OUT : 0)
                         | ((event.events & (EPOLLERR | EPOLLHUP)) ? CURL_CSELECT_ERR : 0);
        curl_multi_socket_action(m_multi, event.data.fd, what, &running);
    }
    if (m_curlTimer && *m_curlTimer <= Clock::now()) {
        m_curlTimer.reset();
        curl_multi_socket_action(m_multi, CURL_SOCKET_TIMEOUT, 0, &running);
    }
    if (!m_works.empty())
        actOnWorks(Clock::now());
}

void NetworkLoop::actOnWorks(Clock::time_point now)
{
    for (const std::shared_ptr<LoopWork> &work : m_works) {
        work->act(m_epoll, now);
        if (work->isOver())
            work->end(m_epoll);
    }
    std::erase_if(m_works, [](const std::shared_ptr<LoopWork> &work) { return work->isOver(); });
}

int NetworkLoop::onSocket(CURL *, int socket, int what, void *opaque, void *watched)
{
    auto *loop = static_cast<NetworkLoop *>(opaque);
    if (what == CURL_POLL_REMOVE) {
        epoll_ctl(loop->m_epoll, EPOLL_CTL_DEL, socket, nullptr);
        return 0;
    }
    epoll_event event{};
    event.events = ((what & CURL_POLL_IN) ? EPOLLIN : 0u) | ((what & CURL_POLL_OUT) ? EPOLLOUT : 0u);
    event.data.fd = socket;
    // curl keeps a mark on each socket it has named, until it removes it.
    if (watched) {
        epoll_ctl(loop->m_epoll, EPOLL_CTL_MOD, socket, &event);
    } else {
        epoll_ctl(loop->m_epoll, EPOLL_CTL_ADD, socket, &event);
        curl_multi_assign(loop->m_multi, socket, loop);
    }
    return 0;
}

int NetworkLoop::onTimer(CURLM *, long timeoutMs, void *opaque)
{
    auto *loop = static_cast<NetworkLoop *>(opaque);
    if (timeoutMs < 0)
        loop->m_curlTimer.reset();
    else
        loop->m_curlTimer = Clock::now() + std::chrono::milliseconds(timeoutMs);
    return 0;
}

void NetworkLoop::startQueued()
{
    std::deque<std::unique_ptr<HttpRequest>> queued;
    std::vector<std::shared_ptr<LoopWork>> works;
    {
        const std::lock_guard lock(m_mutex);
        m_sleeping = false;
        queued.swap(m_queued);
        works.swap(m_queuedWorks);
    }
    for (std::shared_ptr<LoopWork> &work : works) {
        work->begin(m_epoll);
        m_works.push_back(std::move(work));
    }
    for (std::unique_ptr<HttpRequest> &request : queued)
        connectOrStart(std::move(request));
}

void NetworkLoop::connectOrStart(std::unique_ptr<HttpRequest> request)
{
    const std::optional<SocketAddress> to = request->endpoint();
    if (!to) {
        startTransfer(std::move(request));
        return;
    }
    const int socket = ::socket(to->family(), SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (socket < 0) {
        m_ended.push_back({std::move(request), true});
        return;
    }
    if (::connect(socket, to->get(), to->size) == 0) {
        request->handOver(socket);
        startTransfer(std::move(request));
        return;
    }
    if (errno != EINPROGRESS) {
        request->connectFailed(errno);
        ::close(socket);
        m_ended.push_back({std::move(request), false});
        return;
    }
    epoll_event event{};
    event.events = EPOLLOUT;
    event.data.fd = socket;
    epoll_ctl(m_epoll, EPOLL_CTL_ADD, socket, &event);
    m_connecting.emplace(socket, std::move(request));
}

void NetworkLoop::connected(int socket)
{
    const auto found = m_connecting.find(socket);
    std::unique_ptr<HttpRequest> request = std::move(found->second);
    m_connecting.erase(found);
    epoll_ctl(m_epoll, EPOLL_CTL_DEL, socket, nullptr);
    int error = 0;
    socklen_t size = sizeof error;
    if (getsockopt(socket, SOL_SOCKET, SO_ERROR, &error, &size) != 0)
        error = errno;
    if (error == 0) {
        request->handOver(socket);
        startTransfer(std::move(request));
        return;
    }
    request->connectFailed(error);
    ::close(socket);
    m_ended.push_back({std::move(request), false});
}

void NetworkLoop::startTransfer(std::unique_ptr<HttpRequest> request)
{
    // Adding a handle sets curl's timer, on which the next pass starts the transfer.
    if (!request->start(spareHandle()) || curl_multi_add_handle(m_multi, request->handle()) != CURLM_OK) {
        m_ended.push_back({std::move(request), true});
        return;
    }
    CURL *const handle = request->handle();
    m_active.emplace(handle, std::move(request));
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
    const Clock::time_point now = Clock::now();
    std::vector<CURL *> over;
    for (const auto &[handle, request] : m_active) {
        if (request->isOver(now))
            over.push_back(handle);
    }
    for (CURL *handle : over) {
        curl_multi_remove_handle(m_multi, handle); // closes its socket
        end(handle, true);
    }
    for (auto connecting = m_connecting.begin(); connecting != m_connecting.end();) {
        if (!connecting->second->isOver(now)) {
            ++connecting;
            continue;
        }
        epoll_ctl(m_epoll, EPOLL_CTL_DEL, connecting->first, nullptr);
        ::close(connecting->first);
        m_ended.push_back({std::move(connecting->second), true});
        connecting = m_connecting.erase(connecting);
    }
}

void NetworkLoop::end(CURL *handle, bool failed)
{
    const auto found = m_active.find(handle);
    m_ended.push_back({std::move(found->second), failed});
    m_active.erase(found);
}

void NetworkLoop::finishEnded()
{
    // Together, after the pass: a run waiting for the units these give back wakes once for
    // all of them.
    for (Ended &ended : m_ended) {
        ended.request->finish(ended.failed);
        keepHandle(ended.request->releaseHandle());
    }
    m_ended.clear();
}

CURL *NetworkLoop::spareHandle()
{
    if (m_spareHandles.empty())
        return HttpRequest::newHandle();
    CURL *const handle = m_spareHandles.back();
    m_spareHandles.pop_back();
    return handle;
}

void NetworkLoop::keepHandle(CURL *handle)
{
    if (!handle)
        return;
    if (m_spareHandles.size() >= maxSpareHandles) {
        curl_easy_cleanup(handle);
        return;
    }
    // Its options stay: every request sets the same ones, apart from its own URL and data.
    m_spareHandles.push_back(handle);
}
