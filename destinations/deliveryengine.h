#pragma once

#include "destinations/outgoingmessage.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <chrono>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

typedef void CURLM;

// How one delivery ended, or one try of it.
struct DeliveryOutcome final {
    QString destination;
    QString kind;
    qsizetype changes = 0;
    bool sent = false;
    bool final = true;   // false: it is tried again later
    int status = 0;      // the server's status or reply code; 0 for none
    QString answer;      // the status line or the failure, as the server said it, secrets as "***"
    QByteArray answerBody; // the first 500 bytes of the answer's body (HTTP)
    QDateTime time;
};

// The delivery of messages to destinations: a thread of its own (not the probes' network
// thread) running one libcurl multi handle for every destination. Each destination has one
// queue of at most maxQueued messages (past that the oldest is dropped, with a line) and one
// delivery at a time, of at most 15 s in all. A failure of the network, a time-out, HTTP 408,
// 429 (after its Retry-After, at most 600 s) or 5xx, or an SMTP 4xx reply is tried again after
// 5, 30, 120 and 600 s and then given up; other answers are final. A message waiting for its
// retry does not hold the ones after it. Each outcome is one log line and one call of `told`,
// on the delivery thread. TLS certificates are checked; no proxy is used.
//
// For tests alone: DEVICEFINDER_TEST_RETRY_MS, when set, makes every retry delay and the
// cap of Retry-After that many milliseconds.
class DeliveryEngine final {
public:
    static constexpr qsizetype maxQueued = 100;
    static constexpr std::chrono::milliseconds deliveryTimeout{15'000};
    static constexpr std::chrono::seconds maxRetryAfter{600};
    static constexpr int maxTries = 5;

    using Told = std::function<void(const DeliveryOutcome &outcome)>;
    explicit DeliveryEngine(Told told = {});
    // Finishes, waiting at most 5 s, unless finish() was called.
    ~DeliveryEngine();
    DeliveryEngine(const DeliveryEngine &) = delete;
    DeliveryEngine &operator=(const DeliveryEngine &) = delete;

    // Queues a message for the destination; `tries` 1 sends it once whatever comes. Any thread.
    void send(const QString &destination, const QString &kind, qsizetype changes, OutgoingMessage message, int tries = maxTries);
    // Delivers what it can within `wait`, then drops the rest with one line counting them,
    // and ends the thread. A message waiting for a retry past `wait` is not waited for.
    void finish(std::chrono::milliseconds wait);

    // The delay before try `tries` + 1, after `tries` failed ones.
    static std::chrono::milliseconds retryDelay(int tries);

private:
    using Clock = std::chrono::steady_clock;
    struct Pending {
        QString destination;
        QString kind;
        qsizetype changes = 0;
        OutgoingMessage message;
        int allowedTries = maxTries;
        int tried = 0;
        Clock::time_point due;
    };
    struct Transfer;

    void run();
    void takeIncoming();
    void startDue(Clock::time_point now);
    void start(Pending pending);
    void readCompletions();
    void completed(std::unique_ptr<Transfer> transfer, int code);
    void tell(const DeliveryOutcome &outcome);
    // Drops every message not sent, with one line; the transfers in flight too.
    void dropAll();
    std::optional<Clock::time_point> nextDue() const;

    Told m_told;
    CURLM *m_multi = nullptr;
    int m_wakeUp = -1; // an eventfd the loop polls besides curl's sockets
    std::mutex m_mutex;
    std::deque<Pending> m_incoming;                  // under m_mutex
    std::optional<Clock::time_point> m_finishBy;     // under m_mutex
    std::map<QString, std::deque<Pending>> m_queues; // delivery thread: by destination
    std::map<QString, std::unique_ptr<Transfer>> m_active; // delivery thread
    std::thread m_thread;
};
