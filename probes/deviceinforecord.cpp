#include "probes/deviceinforecord.h"

#include "model/integervalue.h"
#include "model/modelnames.h"
#include "platform/boundedjson.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

qint32 clampToInt32(double value)
{
    constexpr double low = std::numeric_limits<qint32>::min();
    constexpr double high = std::numeric_limits<qint32>::max();
    return qint32(std::clamp(std::trunc(value), low, high));
}

qint32 uptimeSeconds(const QJsonValue &uptime)
{
    switch (uptime.type()) {
    case QJsonValue::Double:
        return clampToInt32(uptime.toDouble());
    case QJsonValue::String:
        return clampToInt32(double(integerValue(uptime.toString())));
    case QJsonValue::Bool:
        return uptime.toBool() ? 1 : 0;
    default:
        return 0;
    }
}

} // namespace

QString uptimeText(const QJsonValue &uptime)
{
    const qint32 u = uptimeSeconds(uptime);
    return QString::asprintf("%dd %02d:%02d:%02d", u / 86400, (u % 86400) / 3600, (u % 3600) / 60, u % 60);
}

std::optional<DeviceRecord> deviceInfoRecord(const QByteArray &body, const QString &ipAddress,
                                             const std::optional<QString> &redirectAddress)
{
    const QJsonDocument document = parseBoundedJson(body).document;
    if (!document.isObject())
        return std::nullopt;
    DeviceRecord record(document.object());
    record.setValue(DeviceKey::ipAddress, ipAddress);
    record.setValue(DeviceKey::redirectAddress,
                    redirectAddress ? QJsonValue(*redirectAddress) : QJsonValue(QJsonValue::Undefined));
    record.setValue(DeviceKey::uptime, uptimeText(record.value(DeviceKey::uptime)));

    // A serial number is a text or a number (counted as its decimal text); the model code
    // is its first four characters, read only from one of five or more.
    const QJsonValue serial = record.value(DeviceKey::serialNumber);
    if (serial.isString() || serial.isDouble()) {
        const QString serialText = valueText(serial);
        if (serialText.size() >= 5) {
            const std::optional<QString> model = modelName(serialText.left(4));
            record.setValue(DeviceKey::deviceType, model ? QJsonValue(*model) : QJsonValue(QJsonValue::Undefined));
        }
    }
    return record;
}
