#include "ui/desktopcolorscheme.h"

#include "platform/backgroundpool.h"
#include "platform/mainqueue.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>
#include <QPointer>

namespace {

const QString service = QStringLiteral("org.freedesktop.portal.Desktop");
const QString path = QStringLiteral("/org/freedesktop/portal/desktop");
const QString interface = QStringLiteral("org.freedesktop.portal.Settings");
const QString appearance = QStringLiteral("org.freedesktop.appearance");
const QString colorScheme = QStringLiteral("color-scheme");
constexpr int callTimeout = 5'000; // milliseconds
constexpr uint preferDark = 1;

// The portal wraps its value in a variant, and older ones wrap that once more.
QVariant unwrapped(QVariant value)
{
    for (int depth = 0; depth < 3 && value.canConvert<QDBusVariant>(); ++depth)
        value = value.value<QDBusVariant>().variant();
    return value;
}

} // namespace

void DesktopColorScheme::start()
{
    // Connecting waits for the bus's answer, which a hung bus may never give.
    BackgroundPool::global().async([scheme = QPointer(this)] {
        const bool connected = QDBusConnection::sessionBus().isConnected();
        mainAsync([scheme, connected] {
            if (scheme)
                scheme->busReady(connected);
        });
    });
}

void DesktopColorScheme::busReady(bool connected)
{
    if (!connected)
        return;
    QDBusConnection bus = QDBusConnection::sessionBus();
    // From any sender: naming the service would make Qt ask the bus for its owner and wait. A
    // stranger's signal can only switch the palette.
    bus.connect(QString(), path, interface, QStringLiteral("SettingChanged"), this,
                SLOT(settingChanged(QDBusMessage)));
    QDBusMessage read = QDBusMessage::createMethodCall(service, path, interface, QStringLiteral("Read"));
    read << appearance << colorScheme;
    auto *watcher = new QDBusPendingCallWatcher(bus.asyncCall(read, callTimeout), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher *call) {
        call->deleteLater();
        const QDBusPendingReply<QDBusVariant> reply = *call;
        if (!reply.isError())
            setScheme(reply.value().variant());
    });
}

void DesktopColorScheme::settingChanged(const QDBusMessage &message)
{
    const QVariantList arguments = message.arguments();
    if (arguments.size() == 3 && arguments.at(0).toString() == appearance && arguments.at(1).toString() == colorScheme)
        setScheme(arguments.at(2));
}

void DesktopColorScheme::setScheme(const QVariant &value)
{
    const QVariant scheme = unwrapped(value);
    const bool dark = scheme.typeId() == QMetaType::UInt && scheme.toUInt() == preferDark;
    if (dark == m_dark)
        return;
    m_dark = dark;
    emit darkChanged(dark);
}
