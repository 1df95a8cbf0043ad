#include "model/devicerecord.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QVariant>

QString valueText(const QJsonValue &value)
{
    switch (value.type()) {
    case QJsonValue::String:
        return value.toString();
    case QJsonValue::Double:
        // Integers keep every digit; other numbers take their shortest exact form.
        return value.toVariant().toString();
    case QJsonValue::Bool:
        return value.toBool() ? QStringLiteral("true") : QStringLiteral("false");
    case QJsonValue::Object:
        return QString::fromUtf8(QJsonDocument(value.toObject()).toJson(QJsonDocument::Compact));
    case QJsonValue::Array:
        return QString::fromUtf8(QJsonDocument(value.toArray()).toJson(QJsonDocument::Compact));
    case QJsonValue::Null:
    case QJsonValue::Undefined:
        break;
    }
    return {};
}

QString DeviceRecord::text(QStringView key) const
{
    return valueText(value(key));
}

void DeviceRecord::setValue(QStringView key, const QJsonValue &value)
{
    if (value.isUndefined())
        m_object.remove(key);
    else
        m_object.insert(key, value);
}

QString DeviceRecord::description() const
{
    return valueText(m_object);
}

std::optional<QString> deviceIdentity(const DeviceRecord &record)
{
    const QJsonValue mac = record.value(DeviceKey::macAddress);
    if (!mac.isString())
        return std::nullopt;
    return mac.toString();
}

bool isSameDevice(const DeviceRecord &a, const DeviceRecord &b)
{
    const std::optional<QString> identity = deviceIdentity(a);
    return identity && identity == deviceIdentity(b);
}
