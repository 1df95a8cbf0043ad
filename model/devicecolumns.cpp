#include "model/devicecolumns.h"

#include "platform/addresstext.h"

QString columnText(const DeviceRecord &record, int column)
{
    const QStringView key = deviceColumns.at(std::size_t(column)).key;
    if (key == DeviceKey::tag && record.value(DeviceKey::tag) == QJsonValue(QStringLiteral("[none]")))
        return record.text(DeviceKey::sha).left(7);
    return record.text(key);
}

std::optional<QString> openAddress(const DeviceRecord &record)
{
    const QJsonValue redirect = record.value(DeviceKey::redirectAddress);
    if (redirect.isUndefined() || redirect.isNull())
        return std::nullopt;
    return deviceUrl(valueText(redirect));
}
