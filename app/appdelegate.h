#pragma once

#include "controller/mainviewcontroller.h"
#include "platform/window.h"

#include <memory>

// Brings the tool up once the application has launched: registers the preference
// defaults, creates the one controller, puts its view into the main window, widens the
// window and starts the first discovery run, whose broadcasts go to broadcastAddress. Main
// thread only.
class AppDelegate final {
public:
    AppDelegate(MainViewController::ViewLoader viewLoader, Address broadcastAddress, std::shared_ptr<Resolver> resolver);

    // The local port of the discovery sockets (0: one the system picks).
    void setReplyPort(quint16 port) { m_replyPort = port; }
    // Where the controller keeps the device history and the user's labels (empty: nowhere).
    void setHistoryFile(const QString &path) { m_historyFile = path; }
    void setLabelsFile(const QString &path) { m_labelsFile = path; }
    void applicationDidFinishLaunching();
    // Closing the main window quits the tool.
    static constexpr bool applicationShouldTerminateAfterLastWindowClosed() { return true; }

    const std::shared_ptr<MainViewController> &rootViewController() const { return m_rootViewController; }
    void setRootViewController(std::shared_ptr<MainViewController> controller)
    {
        m_rootViewController = std::move(controller);
    }
    // The main window; not owned. Null when there is none.
    Window *window() const { return m_window; }
    void setWindow(Window *window) { m_window = window; }

    static constexpr double windowWidth = 1000.0;

private:
    MainViewController::ViewLoader m_viewLoader;
    Address m_broadcastAddress;
    quint16 m_replyPort = 0;
    QString m_historyFile;
    QString m_labelsFile;
    std::shared_ptr<Resolver> m_resolver;
    std::shared_ptr<MainViewController> m_rootViewController;
    Window *m_window = nullptr;
};
