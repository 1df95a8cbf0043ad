#pragma once

#include <QJsonObject>
#include <QJsonValue>
#include <QList>
#include <QString>
#include <QStringView>

#include <array>
#include <functional>
#include <memory>
#include <optional>

// The record keys that the tool reads or writes.
namespace DeviceKey {
inline constexpr QStringView hostname = u"hostname";
inline constexpr QStringView serialNumber = u"serialNumber";
inline constexpr QStringView ipAddress = u"ipAddress";
inline constexpr QStringView macAddress = u"macAddress";
inline constexpr QStringView deviceType = u"deviceType";
inline constexpr QStringView uptime = u"uptime";
inline constexpr QStringView redirectAddress = u"redirectAddress";
inline constexpr QStringView tag = u"tag";
inline constexpr QStringView sha = u"sha";
// Each key above that a device's own answer holds.
inline constexpr std::array<QStringView, 9> deviceKeys = {hostname, serialNumber, ipAddress, macAddress, deviceType,
                                                          uptime, redirectAddress, tag, sha};
// The user's label, which the tool adds to a record it prints or exports.
inline constexpr QStringView label = u"label";
} // namespace DeviceKey

// One device: a map from text keys to JSON values. A record built from a device's answer
// keeps every member of it, nested objects and arrays included.
class DeviceRecord final {
public:
    DeviceRecord() = default;
    explicit DeviceRecord(QJsonObject object) : m_object(std::move(object)) {}

    // The value under a key; undefined when the key is absent.
    QJsonValue value(QStringView key) const { return m_object.value(key); }
    // The text form of the value (see valueText); empty when the key is absent.
    QString text(QStringView key) const;
    // Writing an undefined value removes the key, so a record never holds an absent entry.
    void setValue(QStringView key, const QJsonValue &value);

    const QJsonObject &object() const { return m_object; }
    // The record as one line of compact JSON, for log lines.
    QString description() const;

private:
    QJsonObject m_object;
};

// Records are shared between the lists and never change once listed.
using Device = std::shared_ptr<const DeviceRecord>;
using DeviceList = QList<Device>;

// The user's label of a device, by its record: an empty text for none. An empty function
// gives none for every device.
using LabelOf = std::function<QString(const DeviceRecord &record)>;

// The text form of a JSON value: a text as it is, a number in decimal ("93784", "1.5"),
// true or false, a null as the empty text, an object or array as compact JSON.
QString valueText(const QJsonValue &value);

// What identifies a device in the lists: its macAddress, when that is a text.
std::optional<QString> deviceIdentity(const DeviceRecord &record);

// The key a MAC address is kept under: six pairs of hex digits with one separator, ':' or '-',
// used throughout, or twelve hex digits together, given back in lower case with ':'
// ("00:80:a3:1b:2c:3d"). Nothing for any other text, spaces around it included.
std::optional<QString> macAddressKey(QStringView text);

// The record's macAddress as the record writes it, when it is a MAC address (macAddressKey
// reads it): what the labels, the history, the presence log, watching and the row menu know a
// device by. For them a record whose macAddress is any other text (a device may send 3,000
// characters there) is one without a MAC address; the lists still match it by the
// same-device rule.
std::optional<QString> deviceMac(const DeviceRecord &record);

// Two records denote the same device when both carry a macAddress text and the two texts
// are equal, character for character. A record without one is the same as no record.
bool isSameDevice(const DeviceRecord &a, const DeviceRecord &b);
