// An HTTP reply body, as a device on the network chooses it, into both record builders: the
// device info probe's and the gateway data probe's.
#include "model/devicelist.h"
#include "model/modelnames.h"
#include "platform/boundedjson.h"
#include "tests/fuzz/require.h"
#include "probes/deviceinforecord.h"
#include "probes/xpicorecord.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include <cstdint>
#include <optional>

namespace {

const QString address = QStringLiteral("198.18.0.7");

bool isUptimeText(const QJsonValue &value)
{
    static const QRegularExpression form(QStringLiteral("^-?\\d+d -?\\d{1,2}:-?\\d{1,2}:-?\\d{1,2}$"));
    return value.isString() && form.match(value.toString()).hasMatch();
}

// What both builders promise: a record exactly for a JSON object, with the probe's address
// and redirect, every value of it showable.
void checkRecord(const std::optional<DeviceRecord> &record, const QJsonDocument &document,
                 const std::optional<QString> &redirect)
{
    require(record.has_value() == document.isObject(), "a record exactly for a JSON object");
    if (!record)
        return;
    const QJsonObject &object = record->object();
    require(object.value(u"ipAddress") == address, "ipAddress is the probe's");
    require(redirect ? object.value(u"redirectAddress") == *redirect : !object.contains(u"redirectAddress"),
            "redirectAddress is the probe's, or absent");
    for (auto it = object.begin(); it != object.end(); ++it)
        (void)valueText(it.value());
    (void)record->description();
    (void)deviceIdentity(*record);
}

// Every value of the document, nested ones too, up to a few: the values a column may hold.
void gatherValues(const QJsonValue &value, QList<QJsonValue> &values)
{
    constexpr qsizetype enough = 12;
    if (values.size() >= enough)
        return;
    values.append(value);
    if (value.isObject()) {
        const QJsonObject object = value.toObject();
        for (auto it = object.begin(); it != object.end(); ++it)
            gatherValues(it.value(), values);
    } else if (value.isArray()) {
        for (const QJsonValue &element : value.toArray())
            gatherValues(element, values);
    }
}

// The sort's comparison is a strict weak order on whatever values devices send, or the
// table's sort would be undefined behaviour.
void checkOrder(const QJsonDocument &document)
{
    QList<QJsonValue> values{QJsonValue(QJsonValue::Undefined)};
    gatherValues(document.isObject() ? QJsonValue(document.object()) : QJsonValue(document.array()), values);
    const auto less = [](const QJsonValue &a, const QJsonValue &b) { return compareValues(a, b) < 0; };
    const auto same = [&](const QJsonValue &a, const QJsonValue &b) { return !less(a, b) && !less(b, a); };
    for (const QJsonValue &a : values) {
        require(!less(a, a), "the order is irreflexive");
        for (const QJsonValue &b : values) {
            require((compareValues(a, b) < 0) == (compareValues(b, a) > 0), "the order is antisymmetric");
            for (const QJsonValue &c : values) {
                if (less(a, b) && less(b, c))
                    require(less(a, c), "the order is transitive");
                if (same(a, b) && same(b, c))
                    require(same(a, c), "equivalence is transitive");
            }
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    static const bool ready = (buildModelNames(), true);
    (void)ready;

    const QByteArray body(reinterpret_cast<const char *>(data), qsizetype(size));
    // A record exactly for a JSON object within the bounds of every untrusted JSON.
    const QJsonDocument document = parseBoundedJson(body).document;
    const QJsonObject reply = document.object();
    for (const std::optional<QString> &redirect : {std::optional<QString>(), std::optional<QString>(QStringLiteral("corva.lan"))}) {
        const std::optional<DeviceRecord> info = deviceInfoRecord(body, address, redirect);
        checkRecord(info, document, redirect);
        const std::optional<DeviceRecord> gateway = xpicoRecord(body, address, redirect);
        checkRecord(gateway, document, redirect);
        if (!info || !gateway)
            continue;
        require(isUptimeText(info->object().value(u"uptime")), "uptime is a duration text");
        for (auto it = reply.begin(); it != reply.end(); ++it) {
            if (it.key() != u"ipAddress" && it.key() != u"redirectAddress" && it.key() != u"uptime"
                && it.key() != u"deviceType")
                require(info->object().value(it.key()) == it.value(), "the reply's members are kept");
        }
        const QString type = gateway->object().value(u"deviceType").toString();
        require(type == u"HB-5" || type == u"HB-1", "a gateway is one of the two models");
    }
    checkOrder(document);
    for (auto it = reply.begin(); it != reply.end(); ++it)
        require(isUptimeText(uptimeText(it.value())), "uptimeText of any value is a duration text");
    return 0;
}
