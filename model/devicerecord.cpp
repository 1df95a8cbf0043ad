#include "model/devicerecord.h"

#include "platform/safejson.h"

#include <QJsonArray>
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
        return QString::fromUtf8(safeJson(QJsonDocument(value.toObject()), QJsonDocument::Compact));
    case QJsonValue::Array:
        return QString::fromUtf8(safeJson(QJsonDocument(value.toArray()), QJsonDocument::Compact));
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

std::optional<QString> macAddressKey(QStringView text)
{
    const bool together = text.size() == 12;
    if (!together && (text.size() != 17 || (text.at(2) != u':' && text.at(2) != u'-')))
        return std::nullopt;
    QString key;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (!together && i % 3 == 2) {
            if (c != text.at(2))
                return std::nullopt;
            continue;
        }
        const bool hex = (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
        if (!hex)
            return std::nullopt;
        if (!key.isEmpty() && key.size() % 3 == 2)
            key += u':';
        key += c.toLower();
    }
    return key;
}

std::optional<QString> deviceMac(const DeviceRecord &record)
{
    std::optional<QString> mac = deviceIdentity(record);
    if (mac && !macAddressKey(*mac))
        return std::nullopt;
    return mac;
}

bool isSameDevice(const DeviceRecord &a, const DeviceRecord &b)
{
    const std::optional<QString> identity = deviceIdentity(a);
    return identity && identity == deviceIdentity(b);
}
