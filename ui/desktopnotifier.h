#pragma once

#include <QList>
#include <QObject>
#include <QString>

#include <optional>

class QDBusPendingCall;

// Desktop notifications through the freedesktop notification service on the session bus,
// each with a "default" action, which the user invokes by clicking it. The bus connection
// is made once, off the main thread, and every call is asynchronous, so a bus or a server
// that never answers cannot hang the window. Without a session bus or a notification
// service there is one log line, once, and nothing else; a service that appears later is
// used from then on. Main thread.
class DesktopNotifier final : public QObject {
    Q_OBJECT

public:
    explicit DesktopNotifier(QObject *parent = nullptr) : QObject(parent) {}

    // Shows one notification: `markupBody` for a server that takes body markup,
    // `plainBody` for one that does not. Asked for while the bus or the server's
    // capabilities are not known yet, it waits; only the latest one does.
    void notify(const QString &summary, const QString &markupBody, const QString &plainBody);

signals:
    // The user clicked one of the notifications shown here.
    void activated();

private slots:
    void actionInvoked(uint id, const QString &action);
    void notificationClosed(uint id, uint reason);

private:
    struct Notice {
        QString summary;
        QString markupBody;
        QString plainBody;
    };
    enum class Bus { Unknown, Connecting, Connected, Missing };

    void busReady(bool connected);
    void askCapabilities();
    void send(const Notice &notice);
    void watch(const QDBusPendingCall &call, void (DesktopNotifier::*answered)(const QDBusPendingCall &));
    void capabilitiesAnswered(const QDBusPendingCall &call);
    void notifyAnswered(const QDBusPendingCall &call);
    void unavailable(const QString &reason);

    Bus m_bus = Bus::Unknown;
    std::optional<bool> m_markup; // whether the server takes body markup, once it said
    bool m_asking = false;
    std::optional<Notice> m_waiting;
    QList<uint> m_shown; // the newest notifications shown here, by the server's id
    bool m_logged = false;
};
