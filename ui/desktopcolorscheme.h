#pragma once

#include <QDBusMessage>
#include <QObject>

// Whether the desktop prefers a dark colour scheme, as its portal says
// (org.freedesktop.portal.Settings, org.freedesktop.appearance color-scheme: 1 is dark), asked
// once at start and followed as it changes. Without a session bus or a portal, or for any other
// answer, it is light. Connecting and asking never block the main thread. Main thread.
class DesktopColorScheme final : public QObject {
    Q_OBJECT

public:
    using QObject::QObject;

    // Asks the portal; darkChanged follows the first answer that differs from light.
    void start();
    bool isDark() const { return m_dark; }

signals:
    void darkChanged(bool dark);

private slots:
    void settingChanged(const QDBusMessage &message); // SettingChanged(namespace, key, value)

private:
    void busReady(bool connected);
    void setScheme(const QVariant &value);

    bool m_dark = false;
};
