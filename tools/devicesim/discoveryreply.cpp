#include "tools/devicesim/discoveryreply.h"

namespace {

constexpr qsizetype oversizeLength = 600;
constexpr qsizetype gatewayReplyLength = 30;

QByteArray gatewayReply(char code)
{
    QByteArray reply(gatewayReplyLength, '\0');
    reply[3] = code;
    return reply;
}

QByteArray infoReply(const DeviceProfile &device, DeviceProfile::Udp udp)
{
    const QByteArray tail = ' ' + device.name.toUtf8();
    switch (udp) {
    case DeviceProfile::Udp::WrongCode:
        return "Servex" + tail;
    case DeviceProfile::Udp::Short:
        return QByteArrayLiteral("Serve");
    case DeviceProfile::Udp::OtherCase:
        return "SERVER" + tail;
    case DeviceProfile::Udp::Echo:
        return infoRequest();
    case DeviceProfile::Udp::Nul:
        return QByteArray("Ser\0ver", 7) + tail;
    default:
        return "Server" + tail;
    }
}

QByteArray gatewayReplyFor(DeviceProfile::Udp udp)
{
    switch (udp) {
    case DeviceProfile::Udp::WrongCode:
        return gatewayReply(static_cast<char>(0xF8));
    case DeviceProfile::Udp::Short:
        return QByteArray(3, '\0');
    case DeviceProfile::Udp::Echo:
        return gatewayRequest();
    case DeviceProfile::Udp::Nul:
        return QByteArray("bad\0x", 5);
    default:
        return gatewayReply(static_cast<char>(0xF7));
    }
}

} // namespace

QByteArray infoRequest()
{
    return QByteArrayLiteral("Zeph");
}

QByteArray gatewayRequest()
{
    return QByteArrayLiteral("\x00\x01\x00\xF6");
}

bool isRequestFor(const DeviceProfile &device, const QByteArray &datagram)
{
    return datagram == (device.answersInfoRequest() ? infoRequest() : gatewayRequest());
}

QList<QByteArray> discoveryReplies(const DeviceProfile &device)
{
    if (device.udp == DeviceProfile::Udp::None)
        return {};
    QByteArray reply = device.answersInfoRequest() ? infoReply(device, device.udp) : gatewayReplyFor(device.udp);
    if (device.udp == DeviceProfile::Udp::Oversize)
        reply.append(QByteArray(qMax<qsizetype>(0, oversizeLength - reply.size()), '.'));
    if (device.udp == DeviceProfile::Udp::Twice)
        return {reply, reply};
    return {reply};
}
