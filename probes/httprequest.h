#pragma once

#include "probes/httpclient.h"

#include <QObject>
#include <QTimer>

class QNetworkAccessManager;
class QNetworkReply;

// One GET in flight: reads the body up to its limit, follows a redirect only to the same
// address and port, gives up at the total time-out, and hands the result to its handler.
// Lives on the network thread and deletes itself when it has finished.
class HttpRequest final : public QObject {
public:
    HttpRequest(QNetworkAccessManager &manager, const QUrl &url, std::unique_ptr<HttpHandler> handler);

private:
    void readBody();
    void redirected(const QUrl &target);
    void giveUp();
    void finish();

    QUrl m_url;
    std::unique_ptr<HttpHandler> m_handler;
    QNetworkReply *m_reply = nullptr;
    QTimer m_deadline;
    QByteArray m_body;
    int m_status = 0;
    bool m_tooLarge = false;
    bool m_givenUp = false;
};
