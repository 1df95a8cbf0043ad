#include "app/appdelegate.h"

#include "platform/preferences.h"
#include "platform/sitename.h"

AppDelegate::AppDelegate(MainViewController::ViewLoader viewLoader, Address broadcastAddress,
                         std::shared_ptr<Resolver> resolver)
    : m_viewLoader(std::move(viewLoader)), m_broadcastAddress(std::move(broadcastAddress)),
      m_resolver(std::move(resolver))
{
}

void AppDelegate::applicationDidFinishLaunching()
{
    Preferences::standard().registerDefaults({{LastScanAddressKey, QStringLiteral("192.168.1.1/24")}, {ArpRateKey, 0},
                                              {WatchLocalNetworkKey, true}, {WatchRangeKey, false}});

    auto controller = std::make_shared<MainViewController>(m_broadcastAddress, m_resolver);
    controller->setViewLoader(m_viewLoader);
    controller->setReplyPort(m_replyPort);
    controller->setArpRate(Preferences::standard().value(ArpRateKey).toUInt());
    controller->setSiteName(storedSiteName());
    controller->setHistoryFile(m_historyFile);
    controller->setLabelsFile(m_labelsFile);
    setRootViewController(controller);

    QObject *view = controller->view();
    if (m_window) {
        m_window->setContentView(view);
        QRectF frame = m_window->frame();
        frame.setWidth(windowWidth);
        m_window->setFrame(frame, true, true);
    }
    controller->startDiscovery();
}
