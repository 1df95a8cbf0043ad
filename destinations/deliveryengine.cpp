#include "destinations/deliveryengine.h"

#include "platform/log.h"

#include <curl/curl.h>

#include <QDateTime>

#include <array>
#include <cstring>

#include <fcntl.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr std::array<std::chrono::seconds, 4> retrySchedule{std::chrono::seconds(5), std::chrono::seconds(30),
                                                             std::chrono::seconds(120), std::chrono::seconds(600)};
constexpr qsizetype maxAnswerBody = 500;
constexpr qsizetype maxAnswerLength = 300;

std::optional<std::chrono::milliseconds> testRetry()
{
    bool ok = false;
    const int ms = qEnvironmentVariableIntValue("DEVICEFINDER_TEST_RETRY_MS", &ok);
    return ok && ms >= 0 ? std::optional(std::chrono::milliseconds(ms)) : std::nullopt;
}

// The multi handle's own wake-up sockets are made without close-on-exec; no program the
// watch starts should hold them, so those that appear while it is made are marked.
CURLM *newMulti()
{
    constexpr int low = 1024;
    std::array<bool, low> before{};
    for (int fd = 0; fd < low; ++fd)
        before[std::size_t(fd)] = fcntl(fd, F_GETFD) != -1;
    CURLM *multi = curl_multi_init();
    for (int fd = 0; fd < low; ++fd) {
        const int flags = before[std::size_t(fd)] ? -1 : fcntl(fd, F_GETFD);
        if (flags != -1)
            fcntl(fd, F_SETFD, flags | FD_CLOEXEC);
    }
    return multi;
}

curl_socket_t openSocket(void *, curlsocktype, struct curl_sockaddr *address)
{
    return ::socket(address->family, address->socktype | SOCK_CLOEXEC, address->protocol);
}

// Whether a failure that left no usable answer is worth another try: the network's and the
// server's, not a refused certificate, login or a URL.
bool transient(CURLcode code)
{
    switch (code) {
    case CURLE_URL_MALFORMAT:
    case CURLE_UNSUPPORTED_PROTOCOL:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_LOGIN_DENIED:
    case CURLE_USE_SSL_FAILED:
    case CURLE_REMOTE_ACCESS_DENIED:
    case CURLE_OUT_OF_MEMORY:
        return false;
    default:
        return true;
    }
}

} // namespace

struct DeliveryEngine::Transfer {
    Pending pending;
    CURL *handle = nullptr;
    curl_slist *headers = nullptr;
    curl_slist *recipients = nullptr;
    qsizetype uploaded = 0;
    QByteArray body;       // the answer's first bytes
    QByteArray statusLine; // HTTP: the status line; SMTP: the server's last reply line
    std::optional<std::chrono::seconds> retryAfter;
    std::array<char, CURL_ERROR_SIZE> error{};

    ~Transfer()
    {
        curl_easy_cleanup(handle);
        curl_slist_free_all(headers);
        curl_slist_free_all(recipients);
    }

    static size_t onBody(char *data, size_t size, size_t count, void *self)
    {
        auto *transfer = static_cast<Transfer *>(self);
        const qsizetype room = maxAnswerBody - transfer->body.size();
        if (room > 0)
            transfer->body.append(data, std::min(qsizetype(size * count), room));
        return size * count;
    }
    static size_t onHeader(char *data, size_t size, size_t count, void *self)
    {
        auto *transfer = static_cast<Transfer *>(self);
        const QByteArray line = QByteArray(data, qsizetype(size * count)).trimmed();
        const bool smtp = transfer->pending.message.protocol == OutgoingMessage::Protocol::Smtp;
        if (line.isEmpty())
            return size * count;
        if (smtp || line.startsWith("HTTP/")) {
            transfer->statusLine = line.left(maxAnswerLength);
            transfer->retryAfter.reset();
        } else if (line.toLower().startsWith("retry-after:")) {
            bool ok = false;
            const qint64 seconds = line.mid(12).trimmed().toLongLong(&ok);
            if (ok && seconds >= 0) {
                transfer->retryAfter = std::chrono::seconds(seconds);
            } else {
                const QDateTime at = QDateTime::fromString(QString::fromLatin1(line.mid(12).trimmed()), Qt::RFC2822Date);
                if (at.isValid())
                    transfer->retryAfter = std::chrono::seconds(std::max<qint64>(0, QDateTime::currentDateTimeUtc().secsTo(at)));
            }
        }
        return size * count;
    }
    static size_t onRead(char *buffer, size_t size, size_t count, void *self)
    {
        auto *transfer = static_cast<Transfer *>(self);
        const QByteArray &mail = transfer->pending.message.body;
        const qsizetype length = std::min(qsizetype(size * count), mail.size() - transfer->uploaded);
        std::memcpy(buffer, mail.constData() + transfer->uploaded, std::size_t(length));
        transfer->uploaded += length;
        return std::size_t(length);
    }

    bool setUp()
    {
        handle = curl_easy_init();
        if (!handle)
            return false;
        const OutgoingMessage &message = pending.message;
        curl_easy_setopt(handle, CURLOPT_URL, message.url.constData());
        curl_easy_setopt(handle, CURLOPT_PRIVATE, this);
        curl_easy_setopt(handle, CURLOPT_ERRORBUFFER, error.data());
        curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(handle, CURLOPT_PROXY, "");
        curl_easy_setopt(handle, CURLOPT_TIMEOUT_MS, long(deliveryTimeout.count()));
        curl_easy_setopt(handle, CURLOPT_OPENSOCKETFUNCTION, openSocket);
        curl_easy_setopt(handle, CURLOPT_HEADERFUNCTION, onHeader);
        curl_easy_setopt(handle, CURLOPT_HEADERDATA, this);
        curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, onBody);
        curl_easy_setopt(handle, CURLOPT_WRITEDATA, this);
        curl_easy_setopt(handle, CURLOPT_SSL_VERIFYPEER, 1L);
        curl_easy_setopt(handle, CURLOPT_SSL_VERIFYHOST, 2L);
        if (!message.caFile.isEmpty())
            curl_easy_setopt(handle, CURLOPT_CAINFO, message.caFile.toLocal8Bit().constData());
        if (message.protocol == OutgoingMessage::Protocol::Http) {
            curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, "http,https");
            for (const QByteArray &header : message.headers)
                headers = curl_slist_append(headers, header.constData());
            headers = curl_slist_append(headers, "Expect:");
            curl_easy_setopt(handle, CURLOPT_HTTPHEADER, headers);
            curl_easy_setopt(handle, CURLOPT_POSTFIELDS, message.body.constData());
            curl_easy_setopt(handle, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(message.body.size()));
            curl_easy_setopt(handle, CURLOPT_CUSTOMREQUEST, message.method.constData());
            return true;
        }
        curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, "smtp,smtps");
        curl_easy_setopt(handle, CURLOPT_USE_SSL, long(message.requireTls ? CURLUSESSL_ALL : CURLUSESSL_NONE));
        curl_easy_setopt(handle, CURLOPT_MAIL_FROM, ("<" + message.from + ">").constData());
        for (const QByteArray &to : message.recipients)
            recipients = curl_slist_append(recipients, ("<" + to + ">").constData());
        curl_easy_setopt(handle, CURLOPT_MAIL_RCPT, recipients);
        if (!message.user.isEmpty()) {
            curl_easy_setopt(handle, CURLOPT_USERNAME, message.user.constData());
            curl_easy_setopt(handle, CURLOPT_PASSWORD, message.password.constData());
        }
        curl_easy_setopt(handle, CURLOPT_UPLOAD, 1L);
        curl_easy_setopt(handle, CURLOPT_READFUNCTION, onRead);
        curl_easy_setopt(handle, CURLOPT_READDATA, this);
        curl_easy_setopt(handle, CURLOPT_INFILESIZE_LARGE, curl_off_t(message.body.size()));
        return true;
    }
};

DeliveryEngine::DeliveryEngine(Told told) : m_told(std::move(told))
{
    curl_global_init(CURL_GLOBAL_DEFAULT);
    m_multi = newMulti();
    m_wakeUp = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    m_thread = std::thread([this] { run(); });
}

DeliveryEngine::~DeliveryEngine()
{
    finish(std::chrono::seconds(5));
    m_active.clear();
    curl_multi_cleanup(m_multi);
    ::close(m_wakeUp);
}

std::chrono::milliseconds DeliveryEngine::retryDelay(int tries)
{
    if (const auto test = testRetry())
        return *test;
    return retrySchedule.at(std::size_t(std::clamp(tries, 1, int(retrySchedule.size())) - 1));
}

void DeliveryEngine::send(const QString &destination, const QString &kind, qsizetype changes, OutgoingMessage message, int tries)
{
    {
        const std::lock_guard lock(m_mutex);
        if (m_finishBy)
            return;
        m_incoming.push_back({destination, kind, changes, std::move(message), std::clamp(tries, 1, maxTries), 0, Clock::now()});
    }
    const std::uint64_t one = 1;
    (void)!::write(m_wakeUp, &one, sizeof one);
}

void DeliveryEngine::finish(std::chrono::milliseconds wait)
{
    if (!m_thread.joinable())
        return;
    {
        const std::lock_guard lock(m_mutex);
        m_finishBy = Clock::now() + wait;
    }
    const std::uint64_t one = 1;
    (void)!::write(m_wakeUp, &one, sizeof one);
    m_thread.join();
}

void DeliveryEngine::run()
{
    for (;;) {
        takeIncoming();
        const Clock::time_point now = Clock::now();
        std::optional<Clock::time_point> finishBy;
        {
            const std::lock_guard lock(m_mutex);
            finishBy = m_finishBy;
        }
        startDue(now);
        const std::optional<Clock::time_point> due = nextDue();
        if (finishBy && (now >= *finishBy || (m_active.empty() && (!due || *due >= *finishBy)))) {
            dropAll();
            return;
        }
        Clock::time_point wakeAt = now + std::chrono::seconds(1);
        if (due)
            wakeAt = std::min(wakeAt, *due);
        if (finishBy)
            wakeAt = std::min(wakeAt, *finishBy);
        curl_waitfd wake{m_wakeUp, CURL_WAIT_POLLIN, 0};
        int running = 0;
        curl_multi_perform(m_multi, &running);
        const auto timeout = std::chrono::duration_cast<std::chrono::milliseconds>(wakeAt - now).count();
        curl_multi_poll(m_multi, &wake, 1, int(std::max<qint64>(0, timeout)), nullptr);
        std::uint64_t drained = 0;
        (void)!::read(m_wakeUp, &drained, sizeof drained);
        curl_multi_perform(m_multi, &running);
        readCompletions();
    }
}

void DeliveryEngine::takeIncoming()
{
    std::deque<Pending> incoming;
    {
        const std::lock_guard lock(m_mutex);
        incoming.swap(m_incoming);
    }
    for (Pending &pending : incoming) {
        std::deque<Pending> &queue = m_queues[pending.destination];
        if (qsizetype(queue.size()) + (m_active.count(pending.destination) ? 1 : 0) >= maxQueued) {
            logLine(lcApp, "Too many messages waiting for %@ (%@): the oldest is dropped", pending.destination, pending.kind);
            queue.pop_front();
        }
        queue.push_back(std::move(pending));
    }
}

std::optional<DeliveryEngine::Clock::time_point> DeliveryEngine::nextDue() const
{
    std::optional<Clock::time_point> next;
    for (const auto &[name, queue] : m_queues) {
        if (m_active.count(name))
            continue;
        for (const Pending &pending : queue)
            next = next ? std::min(*next, pending.due) : pending.due;
    }
    return next;
}

void DeliveryEngine::startDue(Clock::time_point now)
{
    for (auto &[name, queue] : m_queues) {
        if (m_active.count(name))
            continue;
        const auto due = std::find_if(queue.begin(), queue.end(), [&](const Pending &p) { return p.due <= now; });
        if (due == queue.end())
            continue;
        Pending pending = std::move(*due);
        queue.erase(due);
        start(std::move(pending));
    }
}

void DeliveryEngine::start(Pending pending)
{
    auto transfer = std::make_unique<Transfer>();
    transfer->pending = std::move(pending);
    if (!transfer->setUp()) {
        completed(std::move(transfer), CURLE_OUT_OF_MEMORY);
        return;
    }
    curl_multi_add_handle(m_multi, transfer->handle);
    const QString name = transfer->pending.destination;
    m_active[name] = std::move(transfer);
}

void DeliveryEngine::readCompletions()
{
    int left = 0;
    while (CURLMsg *message = curl_multi_info_read(m_multi, &left)) {
        if (message->msg != CURLMSG_DONE)
            continue;
        Transfer *done = nullptr;
        curl_easy_getinfo(message->easy_handle, CURLINFO_PRIVATE, reinterpret_cast<char **>(&done));
        const CURLcode code = message->data.result;
        curl_multi_remove_handle(m_multi, done->handle);
        auto found = m_active.find(done->pending.destination);
        std::unique_ptr<Transfer> transfer = std::move(found->second);
        m_active.erase(found);
        completed(std::move(transfer), code);
    }
}

void DeliveryEngine::completed(std::unique_ptr<Transfer> transfer, int code)
{
    Pending &pending = transfer->pending;
    const bool smtp = pending.message.protocol == OutgoingMessage::Protocol::Smtp;
    long status = 0;
    if (transfer->handle)
        curl_easy_getinfo(transfer->handle, CURLINFO_RESPONSE_CODE, &status);
    DeliveryOutcome outcome{pending.destination, pending.kind, pending.changes, false, true, int(status), {}, {},
                            QDateTime::currentDateTimeUtc()};
    bool again = false;
    if (smtp) {
        outcome.sent = code == CURLE_OK;
        again = !outcome.sent && (status >= 400 && status < 500 ? true : status >= 500 ? false : transient(CURLcode(code)));
    } else if (code == CURLE_OK) {
        outcome.sent = status >= 200 && status < 300;
        again = status == 408 || status == 429 || status >= 500;
    } else {
        again = transient(CURLcode(code));
    }
    QByteArray answer = transfer->statusLine;
    if (!smtp && answer.startsWith("HTTP/"))
        answer = answer.mid(answer.indexOf(' ') + 1);
    if (code != CURLE_OK && (!smtp || answer.isEmpty() || status == 0)) {
        answer = transfer->error[0] ? QByteArray(transfer->error.data()) : QByteArray(curl_easy_strerror(CURLcode(code)));
    }
    outcome.answer = hideSecrets(QString::fromUtf8(answer.left(maxAnswerLength)), pending.message.secrets);
    outcome.answerBody = hideSecrets(QString::fromUtf8(transfer->body), pending.message.secrets).toUtf8();
    ++pending.tried;
    const QString name = pending.destination;
    if (outcome.sent) {
        logLine(lcApp, pending.changes == 1 ? "Sent %d change to %@ (%@): %d" : "Sent %d changes to %@ (%@): %d",
                pending.changes, name, pending.kind, outcome.status);
    } else if (!again || pending.tried >= pending.allowedTries) {
        if (again && pending.allowedTries > 1)
            logLine(lcApp, "Could not send to %@ (%@): %@; given up after %d tries", name, pending.kind, outcome.answer, pending.tried);
        else
            logLine(lcApp, "Could not send to %@ (%@): %@; not tried again", name, pending.kind, outcome.answer);
    } else {
        std::chrono::milliseconds delay = retryDelay(pending.tried);
        if (status == 429 && transfer->retryAfter) {
            const auto cap = testRetry().value_or(std::chrono::milliseconds(maxRetryAfter));
            delay = std::min<std::chrono::milliseconds>(*transfer->retryAfter, cap);
        }
        outcome.final = false;
        logLine(lcApp, "Could not send to %@ (%@): %@; trying again in %d s", name, pending.kind, outcome.answer,
                int(std::chrono::ceil<std::chrono::seconds>(delay).count()));
        pending.due = Clock::now() + delay;
        m_queues[name].push_front(std::move(pending));
    }
    tell(outcome);
}

void DeliveryEngine::tell(const DeliveryOutcome &outcome)
{
    if (m_told)
        m_told(outcome);
}

void DeliveryEngine::dropAll()
{
    qsizetype dropped = 0;
    for (auto &[name, transfer] : m_active) {
        curl_multi_remove_handle(m_multi, transfer->handle);
        ++dropped;
    }
    m_active.clear();
    for (const auto &[name, queue] : m_queues)
        dropped += qsizetype(queue.size());
    m_queues.clear();
    {
        const std::lock_guard lock(m_mutex);
        dropped += qsizetype(m_incoming.size());
        m_incoming.clear();
    }
    if (dropped > 0)
        logLine(lcApp, dropped == 1 ? "%d message to destinations not sent: quitting" : "%d messages to destinations not sent: quitting", dropped);
}
