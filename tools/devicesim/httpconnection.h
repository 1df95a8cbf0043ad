#pragma once

#include "tools/devicesim/deviceprofile.h"
#include "tools/devicesim/httpanswer.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

class ConnectionCounts;
class QTcpSocket;

// One accepted HTTP connection of a simulated device: reads one request and answers it the
// way the device's HTTP fault says. Lives on the simulator's thread; deletes itself when
// the peer goes away.
class HttpConnection final : public QObject {
    Q_OBJECT

public:
    HttpConnection(QTcpSocket *socket, const DeviceProfile &device, const QElapsedTimer &clock,
                   ConnectionCounts &counts, QObject *parent);
    ~HttpConnection() override;

private:
    void readRequest();
    void answer();
    void startTrickle();
    void trickleOneByte();
    void writeLargeBody();
    void finish(const QByteArray &response);
    void stopCounting();

    QTcpSocket *m_socket;
    ConnectionCounts &m_counts;
    bool m_counted = true;
    DeviceProfile m_device;
    QElapsedTimer m_clock;
    QByteArray m_head;
    QByteArray m_method;
    QByteArray m_path;
    bool m_requestRead = false;
    QTimer m_timer;
    QByteArray m_trickleBody;
    qsizetype m_trickled = 0;
    LargeBody m_large;
    bool m_largeStarted = false;
};
