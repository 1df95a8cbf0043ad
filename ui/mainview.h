#pragma once

#include "history/devicewatch.h"

#include <QTimer>
#include <QWidget>

#include <chrono>
#include <memory>

class BusyIndicatorAdapter;
class ChangeNotifier;
class InfoLineAdapter;
class MainViewController;
class PushButtonAdapter;
class NotifierAdapter;
class QAction;
class RowMenu;
class RunControlAdapter;
class RunMenu;
class SearchFieldAdapter;
class TableViewAdapter;
class TrayIcon;
class TextFieldAdapter;
class WatchSession;
namespace Ui {
class MainViewController;
}

// What each round of the window's watch asks: the broadcast, the ranges of the range text box
// (as it is when watching begins or the choices change; a box that cannot be expanded is
// orange, said under the table, and read again each round), or both.
struct WindowWatchChoices {
    bool localNetwork = true;
    bool range = false;
    bool operator==(const WindowWatchChoices &) const = default;
};

// The controller's view: the controls of the Designer form, each behind the adapter through
// which the controller drives it, and the buttons' actions. The view owns the adapters, so
// the controller's weak references to them empty themselves when the window goes. Beside
// the busy indicator, a range scan shows how far it has come, and a Stop button (also Escape
// and the view's Stop action) stops the run in progress. The arrow at the end of the range
// box (or Alt+Down in it) offers the computer's own networks as ranges (LocalRangesMenu). In
// the table, Return opens the current row's device; a row's menu (right click, the Menu key,
// Shift+F10) is RowMenu. The Run menu's Watch and Start at Login are RunMenu's; clicking a
// notification raises the window. While watching, a tray icon keeps watching after the
// window closes (see TrayIcon). Main thread.
class MainView final : public QWidget {
    Q_OBJECT

public:
    // Connects the controls to the controller's control references.
    explicit MainView(MainViewController &controller, QWidget *parent = nullptr);
    ~MainView() override;

    // For a start at login: watching, for this start only (the Watch choice stays as the user
    // left it), in the tray when there is one (the window shows only when there is none),
    // once the view is the window's content.
    void startInTray();

    // The window's watch (watch/watchsession.h), as the Run menu's choices say: a round every
    // `interval`, its changes notified, logged and said under the table and in the tray's
    // tooltip. The same choices again change nothing; the range box is read again when what
    // is watched changes.
    void setWatching(bool watching, std::chrono::milliseconds interval, WatchRule rule = {},
                     WindowWatchChoices choices = {});
    bool isWatching() const { return m_watch != nullptr; }
    // What shows the watch's notifications from its next start on: the desktop's by default.
    void setNotifier(std::shared_ptr<ChangeNotifier> notifier) { m_watchNotifier = std::move(notifier); }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void busyIndicatorAnimating(bool animating);
    void showScanProgress();
    void showMissingDevices();
    void showReport();
    void say(const QString &title, const QString &text);

    std::weak_ptr<MainViewController> m_controller;
    std::unique_ptr<Ui::MainViewController> m_form;
    std::shared_ptr<PushButtonAdapter> m_discoverButton;
    std::shared_ptr<PushButtonAdapter> m_ipRangeButton;
    std::shared_ptr<TextFieldAdapter> m_ipRangeTextBox;
    std::shared_ptr<SearchFieldAdapter> m_search;
    std::shared_ptr<TableViewAdapter> m_tableView;
    std::shared_ptr<BusyIndicatorAdapter> m_progressIndicator;
    QAction *m_stopAction = nullptr; // a child of this view
    std::shared_ptr<RunControlAdapter> m_stopButton;
    std::shared_ptr<InfoLineAdapter> m_historyLine;
    std::shared_ptr<InfoLineAdapter> m_reportLine;
    QTimer m_progressTimer;
    std::unique_ptr<RowMenu> m_rowMenu;
    RunMenu *m_runMenu = nullptr; // a child of this view
    std::shared_ptr<NotifierAdapter> m_notifier;
    std::shared_ptr<TrayIcon> m_tray;
    std::shared_ptr<ChangeNotifier> m_watchNotifier;
    std::unique_ptr<WatchSession> m_watch; // while watching
    WindowWatchChoices m_watchChoices;
};
