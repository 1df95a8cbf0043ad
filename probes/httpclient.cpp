#include "probes/httpclient.h"

#include "probes/httprequest.h"

#include <QHostAddress>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QThread>

#include <deque>
#include <mutex>

namespace {

// The thread that owns the one QNetworkAccessManager. Requests handed over from other
// threads travel through a queue under our own mutex, so that the thread sanitizer sees
// the hand-over; Qt only carries the wake-up.
class NetworkThread final {
public:
    // Started on first use; never destroyed, so nothing at exit waits for a blocked request.
    static NetworkThread &instance()
    {
        static NetworkThread *const thread = new NetworkThread;
        return *thread;
    }

    void get(const QUrl &url, std::unique_ptr<HttpHandler> handler)
    {
        if (QThread::currentThread() == &m_thread) {
            start(url, std::move(handler));
            return;
        }
        const std::lock_guard lock(m_mutex);
        m_pending.push_back({url, std::move(handler)});
        if (!m_wakePosted) {
            m_wakePosted = true;
            // Captures nothing: the posted call must not carry data across threads.
            QMetaObject::invokeMethod(&m_context, [] { instance().startPending(); }, Qt::QueuedConnection);
        }
    }

private:
    struct Pending {
        QUrl url;
        std::unique_ptr<HttpHandler> handler;
    };

    NetworkThread()
    {
        m_thread.setObjectName(QStringLiteral("network"));
        m_context.moveToThread(&m_thread);
        m_thread.start();
    }

    // Network thread.
    void startPending()
    {
        std::deque<Pending> pending;
        {
            const std::lock_guard lock(m_mutex);
            m_wakePosted = false;
            pending.swap(m_pending);
        }
        for (Pending &request : pending)
            start(request.url, std::move(request.handler));
    }

    // Network thread.
    void start(const QUrl &url, std::unique_ptr<HttpHandler> handler)
    {
        if (!url.isValid()) {
            handler->finished({});
            return;
        }
        new HttpRequest(manager(), url, std::move(handler));
    }

    // Network thread: the manager is made there, so that it and its replies live there.
    QNetworkAccessManager &manager()
    {
        if (!m_manager) {
            m_manager = new QNetworkAccessManager(&m_context);
            m_manager->setProxy(QNetworkProxy::NoProxy);
            m_manager->setTransferTimeout(int(HttpLimits::idleTimeout.count()));
        }
        return *m_manager;
    }

    QThread m_thread;
    QObject m_context; // lives on m_thread
    QNetworkAccessManager *m_manager = nullptr;
    std::mutex m_mutex;
    std::deque<Pending> m_pending;
    bool m_wakePosted = false;
};

bool isDigitsAndDots(const QString &host)
{
    return std::all_of(host.cbegin(), host.cend(), [](QChar c) { return c == u'.' || c.isDigit(); });
}

} // namespace

void httpGet(const QString &urlText, std::unique_ptr<HttpHandler> handler)
{
    NetworkThread::instance().get(exactHttpUrl(urlText).value_or(QUrl()), std::move(handler));
}

std::optional<QUrl> exactHttpUrl(const QString &text)
{
    const QUrl url(text, QUrl::StrictMode);
    if (!url.isValid() || url.scheme() != u"http" || url.host().isEmpty())
        return std::nullopt;
    if (url.toString(QUrl::FullyEncoded).compare(text, Qt::CaseInsensitive) != 0)
        return std::nullopt;
    // A host of digits and dots is an IPv4 address or nothing: "192.168.1.260" is no name
    // to look up.
    if (isDigitsAndDots(url.host()) && QHostAddress(url.host()).protocol() != QAbstractSocket::IPv4Protocol)
        return std::nullopt;
    return url;
}
