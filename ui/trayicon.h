#pragma once

#include "platform/controls.h"

#include <QMenu>
#include <QObject>
#include <QPointer>
#include <QSystemTrayIcon>

#include <memory>

class DesktopNotifier;
class MainViewController;
class QAction;

// The tray icon, a view of the controller beside the window: shown while the Watch action is
// checked and the desktop has a tray. Its tooltip is the history line's text, which the
// controller tells it as its status tip; its menu shows the window, starts a discovery run,
// turns watching off (the window's own Watch action) and quits; activating it shows the
// window. While it is shown, closing the window from its frame hides the window and the
// tool keeps watching; the first time ever, a notification says so and how to quit. A quit
// (Ctrl+Q, File > Quit, a signal) closes the window as always. Whenever the icon goes while
// the window is hidden (watching turned off from its menu, or no tray for a window started
// hidden), the window shows. Main thread.
class TrayIcon final : public QObject, public InfoLine {
    Q_OBJECT

public:
    // The view is the window's content: the window is the view's at the time of use. The
    // icon is the view's child.
    TrayIcon(MainViewController &controller, QAction *watchAction, QWidget *view, DesktopNotifier *notifier);

    void setText(const QString &text, const QString &link) override;
    void showWindow();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // Shows or hides the icon as watching and the desktop's tray now say.
    void update();
    void keptWatching();

    std::weak_ptr<MainViewController> m_controller;
    QPointer<QAction> m_watchAction;
    QPointer<QWidget> m_view;
    QPointer<DesktopNotifier> m_notifier;
    QMenu m_menu;
    QSystemTrayIcon *m_icon;
};
