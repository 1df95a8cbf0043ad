#pragma once

#include <QObject>
#include <QString>

#include <functional>
#include <memory>

class MainView;
class MainViewController;
class QAction;
class QActionGroup;
class QWidget;

// The view's choices that the window's Run menu shows after Stop: Watch (remembered, with
// what it watches, its interval and after how many runs a device is missing), which repeats
// a round of the broadcast, the range box's range or both and shows a desktop notification
// of what changed (MainView::setWatching); Site Name..., the name of the place it watches
// (remembered as SiteName); and Start at Login, checked while the login autostart entry is
// there. The actions are the view's, in the view's actions. Main thread.
class RunMenu final : public QObject {
    Q_OBJECT

public:
    // `say` shows a problem to the user: a title and a line of plain text.
    using Say = std::function<void(const QString &title, const QString &text)>;
    RunMenu(MainViewController &controller, MainView *view, Say say);

    // Run > Watch, which the tray icon shows too.
    QAction *watchAction() const { return m_watchAction; }
    // Watching for this start only: the choice the user made stays as it was.
    void watchThisStart();

private:
    void addWatchActions();
    void watchChanged();
    void addSiteNameAction();
    void addStartAtLoginAction();

    std::weak_ptr<MainViewController> m_controller;
    MainView *m_view;
    Say m_say;
    QAction *m_watchAction = nullptr; // children of the view
    QAction *m_watchLocalNetwork = nullptr;
    QAction *m_watchRange = nullptr;
    QActionGroup *m_watchIntervals = nullptr;
    QActionGroup *m_watchMissingAfter = nullptr;
};
