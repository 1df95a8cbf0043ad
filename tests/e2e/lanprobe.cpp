// A small client for the sandboxed LAN: sends both discovery broadcasts, prints every reply,
// then asks each responder for its document over HTTP. Output, one line each:
//   udp PORT ADDRESS ok|bad name=NAME|-
//   http ADDRESS PATH STATUS object|array|not-json|none BODY
#include "tools/devicesim/sandbox.h"

#include <QByteArray>
#include <QJsonDocument>
#include <QList>
#include <QString>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace {

using Clock = std::chrono::steady_clock;

struct Responder {
    quint16 port;
    in_addr address;
};

int remainingMs(Clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

int broadcastSocket(quint16 port, const QByteArray &request)
{
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    const int on = 1;
    if (fd < 0 || setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on) != 0)
        return -1;
    sockaddr_in to {};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(INADDR_BROADCAST);
    if (sendto(fd, request.constData(), request.size(), 0, reinterpret_cast<sockaddr *>(&to), sizeof to) < 0) {
        std::perror("lanprobe: sendto");
        return -1;
    }
    return fd;
}

bool validReply(quint16 port, const QByteArray &datagram)
{
    if (port == 30718)
        return datagram.size() >= 4 && static_cast<uchar>(datagram.at(3)) == 0xF7;
    return datagram.startsWith("Server");
}

QByteArray reverseName(const sockaddr_in &address)
{
    char host[NI_MAXHOST];
    if (getnameinfo(reinterpret_cast<const sockaddr *>(&address), sizeof address, host, sizeof host, nullptr, 0,
                    NI_NAMEREQD) != 0)
        return QByteArrayLiteral("-");
    return QByteArray(host);
}

QList<Responder> discover(int waitMs)
{
    const std::pair<quint16, QByteArray> requests[] = {
        {23109, QByteArrayLiteral("Zeph")},
        {30718, QByteArrayLiteral("\x00\x01\x00\xF6")},
    };
    QList<pollfd> fds;
    QList<quint16> ports;
    for (const auto &[port, request] : requests) {
        const int fd = broadcastSocket(port, request);
        if (fd >= 0) {
            fds.append({fd, POLLIN, 0});
            ports.append(port);
        }
    }
    QList<Responder> responders;
    const auto deadline = Clock::now() + std::chrono::milliseconds(waitMs);
    while (!fds.isEmpty() && poll(fds.data(), fds.size(), remainingMs(deadline)) > 0) {
        for (qsizetype i = 0; i < fds.size(); ++i) {
            if (!(fds[i].revents & POLLIN))
                continue;
            char buffer[512];
            sockaddr_in from {};
            socklen_t length = sizeof from;
            const ssize_t size = recvfrom(fds[i].fd, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr *>(&from), &length);
            if (size < 0)
                continue;
            const bool ok = validReply(ports[i], QByteArray(buffer, size));
            std::printf("udp %u %s %s name=%s\n", ports[i], inet_ntoa(from.sin_addr), ok ? "ok" : "bad",
                        reverseName(from).constData());
            if (ok)
                responders.append({ports[i], from.sin_addr});
        }
    }
    for (const pollfd &fd : fds)
        close(fd.fd);
    return responders;
}

// One GET with a 3-second deadline for the whole exchange; returns the status and body.
std::pair<int, QByteArray> get(in_addr address, const QByteArray &path)
{
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
    sockaddr_in to {};
    to.sin_family = AF_INET;
    to.sin_port = htons(80);
    to.sin_addr = address;
    const auto deadline = Clock::now() + std::chrono::seconds(3);
    connect(fd, reinterpret_cast<sockaddr *>(&to), sizeof to);
    pollfd writable {fd, POLLOUT, 0};
    int error = 0;
    socklen_t length = sizeof error;
    if (poll(&writable, 1, remainingMs(deadline)) != 1 || getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0
        || error != 0) {
        close(fd);
        return {0, {}};
    }
    const QByteArray request = "GET " + path + " HTTP/1.1\r\nHost: " + inet_ntoa(address)
        + "\r\nAccept: application/json\r\nConnection: close\r\n\r\n";
    send(fd, request.constData(), request.size(), MSG_NOSIGNAL);
    QByteArray response;
    pollfd readable {fd, POLLIN, 0};
    while (response.size() < 4 * 1024 * 1024 && poll(&readable, 1, remainingMs(deadline)) == 1) {
        char buffer[16384];
        const ssize_t size = read(fd, buffer, sizeof buffer);
        if (size <= 0)
            break;
        response.append(buffer, size);
    }
    close(fd);
    const qsizetype headEnd = response.indexOf("\r\n\r\n");
    if (!response.startsWith("HTTP/1.") || headEnd < 0)
        return {0, {}};
    return {response.mid(9, 3).toInt(), response.mid(headEnd + 4)};
}

int report(in_addr address, const QByteArray &path)
{
    const auto [status, body] = get(address, path);
    const QJsonDocument document = QJsonDocument::fromJson(body);
    const char *shape = status == 0 ? "none" : document.isObject() ? "object" : document.isArray() ? "array" : "not-json";
    std::printf("http %s %s %d %s %s\n", inet_ntoa(address), path.constData(), status, shape,
                body.left(300).replace('\n', ' ').constData());
    return status;
}

} // namespace

int main(int argc, char *argv[])
{
    int waitMs = 1500;
    if (argc == 3 && std::strcmp(argv[1], "--wait-ms") == 0)
        waitMs = std::atoi(argv[2]);
    else if (argc != 1) {
        std::fprintf(stderr, "Usage: lanprobe [--wait-ms N]\n");
        return 2;
    }
    // It broadcasts to 255.255.255.255: only ever inside a sandbox.
    if (!inNamedNetworkNamespace()) {
        std::fprintf(stderr, "lanprobe: refusing to broadcast outside a network namespace made with ip netns\n");
        return 1;
    }
    const QList<Responder> responders = discover(waitMs);
    QList<quint32> asked;
    for (const Responder &responder : responders) {
        if (asked.contains(responder.address.s_addr))
            continue;
        asked.append(responder.address.s_addr);
        if (responder.port == 30718 || report(responder.address, QByteArrayLiteral("/info")) == 404)
            report(responder.address, QByteArrayLiteral("/getdata.json"));
    }
    std::fflush(stdout);
    return 0;
}
