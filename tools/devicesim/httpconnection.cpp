#include "tools/devicesim/httpconnection.h"

#include "tools/devicesim/connectioncounts.h"

#include <QJsonDocument>
#include <QTcpSocket>

namespace {

constexpr qsizetype maxHeadBytes = 16 * 1024;
constexpr qint64 chunkBytes = 64 * 1024;
constexpr qint64 queuedBytesLimit = 256 * 1024;
constexpr int trickleIntervalMs = 2000;
constexpr qint64 mebibyte = 1024 * 1024;

} // namespace

HttpConnection::HttpConnection(QTcpSocket *socket, const DeviceProfile &device, const QElapsedTimer &clock,
                               ConnectionCounts &counts, QObject *parent)
    : QObject(parent), m_socket(socket), m_counts(counts), m_device(device), m_clock(clock)
{
    m_counts.opened();
    m_socket->setParent(this);
    connect(m_socket, &QTcpSocket::readyRead, this, &HttpConnection::readRequest);
    connect(m_socket, &QTcpSocket::disconnected, this, &QObject::deleteLater);
    connect(m_socket, &QTcpSocket::bytesWritten, this, &HttpConnection::writeLargeBody);
    readRequest();
}

HttpConnection::~HttpConnection()
{
    stopCounting();
}

void HttpConnection::stopCounting()
{
    if (m_counted)
        m_counts.closed();
    m_counted = false;
}

void HttpConnection::readRequest()
{
    if (m_requestRead) {
        m_socket->readAll();
        return;
    }
    m_head += m_socket->readAll();
    const qsizetype end = m_head.indexOf("\r\n\r\n");
    if (end < 0) {
        if (m_head.size() > maxHeadBytes) {
            m_requestRead = true;
            finish(responseHead(400, QByteArrayLiteral("text/plain"), 0));
        }
        return;
    }
    m_requestRead = true;
    const auto request = parseRequestLine(m_head.left(end + 2));
    if (!request) {
        finish(responseHead(400, QByteArrayLiteral("text/plain"), 0));
        return;
    }
    m_method = request->first;
    m_path = request->second;

    switch (m_device.http) {
    case DeviceProfile::Http::Silent:
        break;
    case DeviceProfile::Http::Slow:
        m_timer.setSingleShot(true);
        connect(&m_timer, &QTimer::timeout, this, &HttpConnection::answer);
        m_timer.start(m_device.httpSeconds * 1000);
        break;
    case DeviceProfile::Http::Trickle:
        startTrickle();
        break;
    default:
        answer();
        break;
    }
}

void HttpConnection::answer()
{
    const qint64 secondsUp = m_clock.elapsed() / 1000;
    const HttpAnswer reply = answerFor(m_device, m_method, m_path, secondsUp);
    if (m_device.http != DeviceProfile::Http::Large || reply.status != 200) {
        finish(responseHead(reply.status, reply.contentType, reply.body.size()) + reply.body);
        return;
    }
    const qint64 total = m_device.bodyMiB * mebibyte;
    m_large = largeBody(servedDocument(m_device, secondsUp), total);
    m_largeStarted = true;
    m_socket->write(responseHead(200, reply.contentType, total) + m_large.prefix);
}

void HttpConnection::writeLargeBody()
{
    if (!m_largeStarted)
        return;
    while (m_large.fill > 0 && m_socket->bytesToWrite() < queuedBytesLimit) {
        const qint64 size = qMin(chunkBytes, m_large.fill);
        m_socket->write(QByteArray(size, 'x'));
        m_large.fill -= size;
    }
    if (m_large.fill == 0) {
        m_largeStarted = false;
        finish(m_large.suffix);
    }
}

void HttpConnection::startTrickle()
{
    // No length: the body only ever ends when the client gives up.
    const HttpAnswer reply = answerFor(m_device, m_method, m_path, m_clock.elapsed() / 1000);
    m_socket->write(responseHead(reply.status, reply.contentType, -1));
    m_trickleBody = reply.body;
    connect(&m_timer, &QTimer::timeout, this, &HttpConnection::trickleOneByte);
    m_timer.start(trickleIntervalMs);
}

void HttpConnection::trickleOneByte()
{
    const char byte = m_trickled < m_trickleBody.size() ? m_trickleBody.at(m_trickled) : ' ';
    ++m_trickled;
    m_socket->write(&byte, 1);
}

void HttpConnection::finish(const QByteArray &response)
{
    m_socket->write(response);
    stopCounting();
    m_socket->disconnectFromHost();
}
