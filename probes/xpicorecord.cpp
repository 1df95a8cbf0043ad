#include "probes/xpicorecord.h"

#include "platform/boundedjson.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace {

// A text as it is, a number as its decimal text; anything else has no text form here.
QJsonValue asText(const QJsonValue &value)
{
    if (value.isString() || value.isDouble())
        return valueText(value);
    return QJsonValue::Undefined;
}

} // namespace

std::optional<DeviceRecord> xpicoRecord(const QByteArray &body, const QString &ipAddress,
                                        const std::optional<QString> &redirectAddress)
{
    const QJsonDocument document = parseBoundedJson(body).document;
    if (!document.isObject())
        return std::nullopt;
    const QJsonObject reply = document.object();
    // A mgt that is not an object has none of the members read from it.
    const QJsonObject mgt = reply.value(u"mgt").toObject();

    DeviceRecord record;
    record.setValue(DeviceKey::ipAddress, ipAddress);
    if (redirectAddress)
        record.setValue(DeviceKey::redirectAddress, *redirectAddress);

    const QJsonValue devtype = reply.value(u"devtype");
    if (devtype.isDouble() && devtype.toDouble() == 57) {
        record.setValue(DeviceKey::hostname, mgt.value(u"name"));
        record.setValue(DeviceKey::serialNumber, mgt.value(u"serialNo"));
        record.setValue(DeviceKey::uptime, mgt.value(u"uptime"));
        record.setValue(DeviceKey::macAddress, reply.value(u"macAddress"));
        record.setValue(DeviceKey::deviceType, QStringLiteral("HB-5"));
    } else {
        record.setValue(DeviceKey::hostname, reply.value(u"name"));
        record.setValue(DeviceKey::serialNumber, asText(mgt.value(u"serialNo")));
        record.setValue(DeviceKey::uptime, reply.value(u"uptime"));
        record.setValue(DeviceKey::macAddress, reply.value(u"macaddr"));
        record.setValue(DeviceKey::deviceType, QStringLiteral("HB-1"));
    }
    record.setValue(DeviceKey::tag, mgt.value(u"gatewayVer"));
    return record;
}
