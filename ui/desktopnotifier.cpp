#include "ui/desktopnotifier.h"

#include "platform/backgroundpool.h"
#include "platform/log.h"
#include "platform/mainqueue.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QGuiApplication>
#include <QPointer>
#include <QVariantMap>

namespace {

const QString service = QStringLiteral("org.freedesktop.Notifications");
const QString path = QStringLiteral("/org/freedesktop/Notifications");
const QString interface = QStringLiteral("org.freedesktop.Notifications");
constexpr int callTimeout = 10'000; // milliseconds
constexpr qsizetype remembered = 32;

QDBusMessage methodCall(const QString &method)
{
    return QDBusMessage::createMethodCall(service, path, interface, method);
}

} // namespace

void DesktopNotifier::notify(const QString &summary, const QString &markupBody, const QString &plainBody)
{
    if (m_bus == Bus::Missing)
        return;
    m_waiting = Notice{summary, markupBody, plainBody};
    switch (m_bus) {
    case Bus::Unknown:
        m_bus = Bus::Connecting;
        // Connecting waits for the bus's answer, which a hung bus may never give.
        BackgroundPool::global().async([notifier = QPointer(this)] {
            const bool connected = QDBusConnection::sessionBus().isConnected();
            mainAsync([notifier, connected] {
                if (notifier)
                    notifier->busReady(connected);
            });
        });
        return;
    case Bus::Connecting:
    case Bus::Missing:
        return;
    case Bus::Connected:
        break;
    }
    if (!m_markup) {
        askCapabilities();
        return;
    }
    send(*std::exchange(m_waiting, std::nullopt));
}

void DesktopNotifier::busReady(bool connected)
{
    if (!connected) {
        m_bus = Bus::Missing;
        m_waiting.reset();
        unavailable(QStringLiteral("there is no session bus"));
        return;
    }
    m_bus = Bus::Connected;
    // From any sender: naming the service would make Qt ask the bus for its owner and wait.
    // A stranger's signal can only raise the window, and only for an id shown here.
    QDBusConnection bus = QDBusConnection::sessionBus();
    bus.connect(QString(), path, interface, QStringLiteral("ActionInvoked"), this, SLOT(actionInvoked(uint,QString)));
    bus.connect(QString(), path, interface, QStringLiteral("NotificationClosed"), this,
                SLOT(notificationClosed(uint,uint)));
    if (m_waiting)
        askCapabilities();
}

void DesktopNotifier::askCapabilities()
{
    if (m_asking)
        return;
    m_asking = true;
    watch(QDBusConnection::sessionBus().asyncCall(methodCall(QStringLiteral("GetCapabilities")), callTimeout),
          &DesktopNotifier::capabilitiesAnswered);
}

void DesktopNotifier::capabilitiesAnswered(const QDBusPendingCall &call)
{
    m_asking = false;
    const QDBusPendingReply<QStringList> reply = call;
    if (reply.isError()) {
        m_waiting.reset();
        unavailable(reply.error().message());
        return;
    }
    m_markup = reply.value().contains(QStringLiteral("body-markup"));
    if (m_waiting)
        send(*std::exchange(m_waiting, std::nullopt));
}

void DesktopNotifier::send(const Notice &notice)
{
    const QString desktopEntry = QGuiApplication::desktopFileName();
    QVariantMap hints{{QStringLiteral("urgency"), QVariant::fromValue(uchar(1))}};
    if (!desktopEntry.isEmpty())
        hints.insert(QStringLiteral("desktop-entry"), desktopEntry);
    QDBusMessage call = methodCall(QStringLiteral("Notify"));
    call << QGuiApplication::applicationDisplayName() << uint(0) << desktopEntry << notice.summary
         << (*m_markup ? notice.markupBody : notice.plainBody)
         << QStringList{QStringLiteral("default"), QStringLiteral("Show Device Finder")} << hints << int(-1);
    watch(QDBusConnection::sessionBus().asyncCall(call, callTimeout), &DesktopNotifier::notifyAnswered);
}

void DesktopNotifier::notifyAnswered(const QDBusPendingCall &call)
{
    const QDBusPendingReply<uint> reply = call;
    if (reply.isError()) {
        unavailable(reply.error().message());
        return;
    }
    m_shown.append(reply.value());
    if (m_shown.size() > remembered)
        m_shown.removeFirst();
}

void DesktopNotifier::watch(const QDBusPendingCall &call, void (DesktopNotifier::*answered)(const QDBusPendingCall &))
{
    auto *watcher = new QDBusPendingCallWatcher(call, this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, answered](QDBusPendingCallWatcher *done) {
        done->deleteLater();
        (this->*answered)(*done);
    });
}

void DesktopNotifier::actionInvoked(uint id, const QString &action)
{
    if (action == u"default" && m_shown.contains(id))
        emit activated();
}

void DesktopNotifier::notificationClosed(uint id, uint)
{
    m_shown.removeAll(id);
}

void DesktopNotifier::unavailable(const QString &reason)
{
    if (std::exchange(m_logged, true))
        return;
    logLine(lcApp, "No desktop notifications: %@", reason);
}
