#include "ui/trayicon.h"

#include "controller/mainviewcontroller.h"
#include "platform/log.h"
#include "platform/preferences.h"
#include "ui/applicationicon.h"
#include "ui/desktopnotifier.h"

#include <QApplication>
#include <QCloseEvent>

namespace {

// Whether the user has been told once that a closed window keeps watching in the tray.
const QString keptWatchingToldKey = QStringLiteral("TrayKeepsWatchingTold");
const QString appName = QStringLiteral("Device Finder");

} // namespace

TrayIcon::TrayIcon(MainViewController &controller, QAction *watchAction, QWidget *view, DesktopNotifier *notifier)
    : m_controller(controller.weak_from_this()), m_watchAction(watchAction), m_view(view), m_notifier(notifier),
      m_icon(new QSystemTrayIcon(view))
{
    m_menu.addAction(tr("Show Device Finder"), this, &TrayIcon::showWindow);
    m_menu.addAction(tr("Discover Now"), this, [this] {
        if (const auto controller = m_controller.lock())
            controller->startDiscovery();
    });
    m_menu.addAction(watchAction);
    m_menu.addSeparator();
    m_menu.addAction(tr("Quit"), qApp, &QCoreApplication::quit);
    m_icon->setContextMenu(&m_menu);
    m_icon->setIcon(applicationIcon());
    m_icon->setToolTip(appName);
    connect(m_icon, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick)
            showWindow();
    });
    connect(watchAction, &QAction::toggled, this, &TrayIcon::update);
    // Once the view is the window's content.
    QMetaObject::invokeMethod(this, &TrayIcon::update, Qt::QueuedConnection);
}

void TrayIcon::setText(const QString &text, const QString & /*link*/)
{
    m_icon->setToolTip(text.isEmpty() ? appName : text);
}

void TrayIcon::showWindow()
{
    if (!m_view)
        return;
    QWidget *window = m_view->window();
    window->showNormal();
    window->raise();
    window->activateWindow();
}

void TrayIcon::update()
{
    if (!m_view || !m_watchAction)
        return;
    const bool available = QSystemTrayIcon::isSystemTrayAvailable();
    const bool shown = m_watchAction->isChecked() && available;
    const bool wasShown = m_icon->isVisible();
    if (shown != wasShown) {
        m_icon->setVisible(shown);
        logLine(lcApp, shown ? "Tray icon shown" : "Tray icon hidden");
    }
    QWidget *window = m_view->window();
    if (shown)
        window->installEventFilter(this);
    else if (window->isHidden() && (wasShown || !available))
        showWindow();
}

bool TrayIcon::eventFilter(QObject *watched, QEvent *event)
{
    // Only a close from the window's frame: a quit closes the window too, and must end the tool.
    if (event->type() != QEvent::Close || !event->spontaneous() || !m_icon->isVisible() || !m_view
        || watched != m_view->window())
        return false;
    event->ignore();
    m_view->window()->hide();
    keptWatching();
    return true;
}

void TrayIcon::keptWatching()
{
    logLine(lcApp, "The window is closed; watching goes on in the tray");
    Preferences &preferences = Preferences::standard();
    if (preferences.value(keptWatchingToldKey).toBool() || !m_notifier)
        return;
    preferences.setValue(keptWatchingToldKey, true);
    const QString body = tr("Device Finder keeps watching in the tray. To quit, choose Quit in the tray icon's menu, "
                            "or File > Quit in the window.");
    m_notifier->notify(tr("Device Finder is still watching"), body.toHtmlEscaped(), body);
}
