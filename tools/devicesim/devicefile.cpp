#include "tools/devicesim/devicefile.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QSet>

#include <utility>

namespace {

constexpr int maxBodyMiB = 1024;

const QList<std::pair<QString, DeviceProfile::Kind>> kindNames = {
    {QStringLiteral("info"), DeviceProfile::Kind::Info},
    {QStringLiteral("gateway"), DeviceProfile::Kind::Gateway},
    {QStringLiteral("info-404"), DeviceProfile::Kind::InfoNotFound},
};

const QList<std::pair<QString, DeviceProfile::Udp>> udpNames = {
    {QStringLiteral("reply"), DeviceProfile::Udp::Reply},
    {QStringLiteral("none"), DeviceProfile::Udp::None},
    {QStringLiteral("twice"), DeviceProfile::Udp::Twice},
    {QStringLiteral("wrong-code"), DeviceProfile::Udp::WrongCode},
    {QStringLiteral("short"), DeviceProfile::Udp::Short},
    {QStringLiteral("other-case"), DeviceProfile::Udp::OtherCase},
    {QStringLiteral("echo"), DeviceProfile::Udp::Echo},
    {QStringLiteral("nul"), DeviceProfile::Udp::Nul},
    {QStringLiteral("oversize"), DeviceProfile::Udp::Oversize},
};

const QList<std::pair<QString, DeviceProfile::Http>> httpNames = {
    {QStringLiteral("normal"), DeviceProfile::Http::Normal},
    {QStringLiteral("silent"), DeviceProfile::Http::Silent},
    {QStringLiteral("slow"), DeviceProfile::Http::Slow},
    {QStringLiteral("trickle"), DeviceProfile::Http::Trickle},
    {QStringLiteral("not-json"), DeviceProfile::Http::NotJson},
    {QStringLiteral("not-object"), DeviceProfile::Http::NotObject},
    {QStringLiteral("status-500"), DeviceProfile::Http::Status500},
    {QStringLiteral("large"), DeviceProfile::Http::Large},
};

const QStringList deviceMembers = {
    QStringLiteral("name"), QStringLiteral("address"), QStringLiteral("kind"),
    QStringLiteral("httpPort"), QStringLiteral("info"), QStringLiteral("data"),
    QStringLiteral("udp"), QStringLiteral("http"), QStringLiteral("httpSeconds"),
    QStringLiteral("bodyMiB"), QStringLiteral("comment"),
};

template<typename Enum>
std::optional<Enum> lookUp(const QList<std::pair<QString, Enum>> &names, const QString &text)
{
    for (const auto &[name, value] : names) {
        if (name == text)
            return value;
    }
    return std::nullopt;
}

template<typename Enum>
QString choices(const QList<std::pair<QString, Enum>> &names)
{
    QStringList list;
    for (const auto &entry : names)
        list.append(entry.first);
    return list.join(u", ");
}

std::optional<int> wholeNumber(const QJsonValue &value, int low, int high)
{
    if (!value.isDouble())
        return std::nullopt;
    const double number = value.toDouble();
    if (number != static_cast<double>(static_cast<qint64>(number)) || number < low || number > high)
        return std::nullopt;
    return static_cast<int>(number);
}

// An address a device can own: IPv4, not 0.0.0.0, broadcast or multicast.
bool isDeviceAddress(const QHostAddress &address)
{
    if (address.protocol() != QAbstractSocket::IPv4Protocol)
        return false;
    const quint32 value = address.toIPv4Address();
    return value != 0 && value != 0xFFFFFFFFu && (value >> 28) != 0xE;
}

// Fills `device` from one entry; returns an error text, empty when the entry is good.
QString readDevice(const QJsonObject &entry, DeviceProfile &device)
{
    for (auto it = entry.begin(); it != entry.end(); ++it) {
        if (!deviceMembers.contains(it.key()))
            return QStringLiteral("unknown member \"%1\"").arg(it.key());
    }

    static const QRegularExpression hostName(QStringLiteral("^[A-Za-z0-9]([A-Za-z0-9.-]*[A-Za-z0-9])?$"));
    device.name = entry.value(u"name").toString();
    if (!hostName.match(device.name).hasMatch())
        return QStringLiteral("\"name\" must be a host name (letters, digits, '-' and '.')");

    const QString address = entry.value(u"address").toString();
    if (!device.address.setAddress(address) || !isDeviceAddress(device.address)
        || device.address.toString() != address)
        return QStringLiteral("\"address\" must be a dotted-quad IPv4 address of a host, not \"%1\"").arg(address);

    const auto kind = lookUp(kindNames, entry.value(u"kind").toString());
    if (!kind)
        return QStringLiteral("\"kind\" must be one of: %1").arg(choices(kindNames));
    device.kind = *kind;

    if (entry.contains(u"httpPort")) {
        const auto port = wholeNumber(entry.value(u"httpPort"), 0, 65535);
        if (!port)
            return QStringLiteral("\"httpPort\" must be a whole number from 0 to 65535");
        device.httpPort = static_cast<quint16>(*port);
    }

    const bool isInfo = device.kind == DeviceProfile::Kind::Info;
    const QString documentKey = isInfo ? QStringLiteral("info") : QStringLiteral("data");
    const QString otherKey = isInfo ? QStringLiteral("data") : QStringLiteral("info");
    if (entry.contains(otherKey))
        return QStringLiteral("\"%1\" does not belong to a device of kind \"%2\" (it takes \"%3\")")
            .arg(otherKey, entry.value(u"kind").toString(), documentKey);
    const QJsonValue document = entry.value(documentKey);
    if (!(document.isObject() || (isInfo && document.isUndefined())))
        return QStringLiteral("\"%1\" must be a JSON object").arg(documentKey);
    device.document = document.toObject();
    if (isInfo && !device.document.contains(u"hostname"))
        device.document.insert(QStringLiteral("hostname"), device.name);

    const auto udp = lookUp(udpNames, entry.value(u"udp").toString(QStringLiteral("reply")));
    if (!udp)
        return QStringLiteral("\"udp\" must be one of: %1").arg(choices(udpNames));
    device.udp = *udp;
    if (device.udp == DeviceProfile::Udp::OtherCase && !device.answersInfoRequest())
        return QStringLiteral("\"udp\": \"other-case\" needs a text marker: info devices only");

    const auto http = lookUp(httpNames, entry.value(u"http").toString(QStringLiteral("normal")));
    if (!http)
        return QStringLiteral("\"http\" must be one of: %1").arg(choices(httpNames));
    device.http = *http;

    const bool slow = device.http == DeviceProfile::Http::Slow;
    if (slow != entry.contains(u"httpSeconds"))
        return QStringLiteral("\"httpSeconds\" goes with \"http\": \"slow\", and only with it");
    if (slow) {
        const auto seconds = wholeNumber(entry.value(u"httpSeconds"), 1, 3600);
        if (!seconds)
            return QStringLiteral("\"httpSeconds\" must be a whole number from 1 to 3600");
        device.httpSeconds = *seconds;
    }
    const bool large = device.http == DeviceProfile::Http::Large;
    if (large != entry.contains(u"bodyMiB"))
        return QStringLiteral("\"bodyMiB\" goes with \"http\": \"large\", and only with it");
    if (large) {
        const auto size = wholeNumber(entry.value(u"bodyMiB"), 1, maxBodyMiB);
        if (!size)
            return QStringLiteral("\"bodyMiB\" must be a whole number from 1 to %1").arg(maxBodyMiB);
        device.bodyMiB = *size;
    }
    return {};
}

} // namespace

std::optional<QList<DeviceProfile>> parseDeviceFile(const QByteArray &json, QString *error)
{
    const auto fail = [error](const QString &message) {
        if (error)
            *error = message;
        return std::nullopt;
    };

    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(json, &parseError);
    if (parseError.error != QJsonParseError::NoError)
        return fail(QStringLiteral("not JSON at offset %1: %2").arg(parseError.offset).arg(parseError.errorString()));
    const QJsonObject top = document.object();
    if (!document.isObject() || !top.value(u"devices").isArray())
        return fail(QStringLiteral("the file must be a JSON object with a \"devices\" array"));
    for (auto it = top.begin(); it != top.end(); ++it) {
        if (it.key() != u"devices" && it.key() != u"comment")
            return fail(QStringLiteral("unknown member \"%1\" at the top").arg(it.key()));
    }

    const QJsonArray entries = top.value(u"devices").toArray();
    if (entries.isEmpty())
        return fail(QStringLiteral("\"devices\" is empty"));
    QList<DeviceProfile> devices;
    QSet<QString> endpoints;
    for (qsizetype i = 0; i < entries.size(); ++i) {
        const QJsonObject entry = entries.at(i).toObject();
        const QString where = QStringLiteral("device %1 (%2)").arg(i + 1).arg(entry.value(u"name").toString());
        if (!entries.at(i).isObject())
            return fail(QStringLiteral("device %1: must be a JSON object").arg(i + 1));
        DeviceProfile device;
        const QString problem = readDevice(entry, device);
        if (!problem.isEmpty())
            return fail(where + QStringLiteral(": ") + problem);
        const QString endpoint = device.address.toString() + u':' + QString::number(device.httpPort);
        if (device.httpPort != 0 && endpoints.contains(endpoint))
            return fail(where + QStringLiteral(": another device serves HTTP on %1 already").arg(endpoint));
        endpoints.insert(endpoint);
        devices.append(device);
    }
    return devices;
}

std::optional<QList<DeviceProfile>> loadDeviceFile(const QString &path, QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (error)
            *error = QStringLiteral("%1: %2").arg(path, file.errorString());
        return std::nullopt;
    }
    QString problem;
    auto devices = parseDeviceFile(file.readAll(), &problem);
    if (!devices && error)
        *error = QStringLiteral("%1: %2").arg(path, problem);
    return devices;
}
