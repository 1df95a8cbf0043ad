#include "tools/devicesim/devicefile.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QSet>

#include <utility>

namespace {

constexpr int maxBodyMiB = 1024;
constexpr int maxUdpCount = 4096;

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
    QStringLiteral("udp"), QStringLiteral("udpRepeat"), QStringLiteral("udpSources"), QStringLiteral("udpFrom"),
    QStringLiteral("http"), QStringLiteral("httpSeconds"),
    QStringLiteral("bodyMiB"), QStringLiteral("statuses"), QStringLiteral("comment"),
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

    for (const auto &[key, field] : {std::pair{QStringLiteral("udpRepeat"), &device.udpRepeat},
                                     std::pair{QStringLiteral("udpSources"), &device.udpSources}}) {
        if (!entry.contains(key))
            continue;
        const auto count = wholeNumber(entry.value(key), 1, maxUdpCount);
        if (!count)
            return QStringLiteral("\"%1\" must be a whole number from 1 to %2").arg(key).arg(maxUdpCount);
        *field = *count;
    }

    if (entry.contains(u"udpFrom")) {
        const QString from = entry.value(u"udpFrom").toString();
        if (!device.udpFrom.setAddress(from) || !isDeviceAddress(device.udpFrom) || device.udpFrom.toString() != from)
            return QStringLiteral("\"udpFrom\" must be a dotted-quad IPv4 address of a host, not \"%1\"").arg(from);
    }

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
    const QJsonValue statuses = entry.value(u"statuses");
    if (!statuses.isUndefined() && !statuses.isObject())
        return QStringLiteral("\"statuses\" must be an object of paths and statuses");
    const QJsonObject statusOf = statuses.toObject();
    for (auto it = statusOf.constBegin(); it != statusOf.constEnd(); ++it) {
        const auto status = wholeNumber(it.value(), 100, 599);
        if (!it.key().startsWith(u'/') || !status)
            return QStringLiteral("\"statuses\" maps paths (\"/info\") to statuses from 100 to 599");
        device.statuses.insert(it.key().toUtf8(), int(*status));
    }
    return {};
}

const QList<std::pair<QString, RangeProfile::Behaviour>> behaviourNames = {
    {QStringLiteral("silent"), RangeProfile::Behaviour::Silent},
    {QStringLiteral("refuse"), RangeProfile::Behaviour::Refuse},
};

const QStringList rangeMembers = {
    QStringLiteral("range"), QStringLiteral("behaviour"), QStringLiteral("httpPort"), QStringLiteral("comment"),
};

// A /16 at most: enough for load runs, and a silent range takes a descriptor per address.
constexpr qint64 maxRangeSize = 65536;

std::optional<quint32> dottedQuad(const QString &text)
{
    QHostAddress address;
    if (!address.setAddress(text) || address.protocol() != QAbstractSocket::IPv4Protocol || address.toString() != text)
        return std::nullopt;
    return address.toIPv4Address();
}

// Fills `range` from one entry; returns an error text, empty when the entry is good.
QString readRange(const QJsonObject &entry, RangeProfile &range)
{
    for (auto it = entry.begin(); it != entry.end(); ++it) {
        if (!rangeMembers.contains(it.key()))
            return QStringLiteral("unknown member \"%1\"").arg(it.key());
    }
    range.text = entry.value(u"range").toString();
    const auto bounds = parseAddressRange(range.text);
    if (!bounds)
        return QStringLiteral("\"range\" must be A.B.C.D/N (N from 16 to 32) or A.B.C.D-E");
    range.first = bounds->first;
    range.last = bounds->second;
    if (range.size() > maxRangeSize)
        return QStringLiteral("\"range\" covers more than %1 addresses").arg(maxRangeSize);
    for (const quint32 end : {range.first, range.last}) {
        if (!isDeviceAddress(QHostAddress(end)))
            return QStringLiteral("\"range\" must not take in 0.0.0.0, 255.255.255.255 or multicast addresses");
    }

    const auto behaviour = lookUp(behaviourNames, entry.value(u"behaviour").toString());
    if (!behaviour)
        return QStringLiteral("\"behaviour\" must be one of: %1").arg(choices(behaviourNames));
    range.behaviour = *behaviour;

    if (entry.contains(u"httpPort")) {
        if (range.behaviour != RangeProfile::Behaviour::Silent)
            return QStringLiteral("\"httpPort\" goes with \"behaviour\": \"silent\" only");
        const auto port = wholeNumber(entry.value(u"httpPort"), 0, 65535);
        if (!port)
            return QStringLiteral("\"httpPort\" must be a whole number from 0 to 65535");
        range.httpPort = static_cast<quint16>(*port);
    }
    return {};
}

} // namespace

std::optional<std::pair<quint32, quint32>> parseAddressRange(const QString &text)
{
    static const QRegularExpression form(QStringLiteral("^([0-9.]+)(?:/([0-9]{1,2})|-([0-9]{1,3}))?$"));
    const QRegularExpressionMatch match = form.match(text);
    if (!match.hasMatch())
        return std::nullopt;
    const auto base = dottedQuad(match.captured(1));
    if (!base)
        return std::nullopt;
    if (match.hasCaptured(2)) {
        const int prefix = match.captured(2).toInt();
        if (prefix < 16 || prefix > 32)
            return std::nullopt;
        const quint32 mask = prefix == 32 ? 0xFFFFFFFFu : ~(0xFFFFFFFFu >> prefix);
        return std::pair{*base & mask, *base | ~mask};
    }
    if (match.hasCaptured(3)) {
        const uint lastOctet = match.captured(3).toUInt();
        if (lastOctet > 255 || lastOctet < (*base & 0xFF))
            return std::nullopt;
        return std::pair{*base, (*base & 0xFFFFFF00u) | lastOctet};
    }
    return std::pair{*base, *base};
}

std::optional<DeviceFile> parseDeviceFile(const QByteArray &json, QString *error)
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
    const bool hasRanges = top.contains(u"ranges");
    if (!document.isObject() || !(top.value(u"devices").isArray() || (hasRanges && !top.contains(u"devices"))))
        return fail(QStringLiteral("the file must be a JSON object with a \"devices\" array"));
    for (auto it = top.begin(); it != top.end(); ++it) {
        if (it.key() != u"devices" && it.key() != u"ranges" && it.key() != u"comment")
            return fail(QStringLiteral("unknown member \"%1\" at the top").arg(it.key()));
    }
    if (hasRanges && (!top.value(u"ranges").isArray() || top.value(u"ranges").toArray().isEmpty()))
        return fail(QStringLiteral("\"ranges\" must be a non-empty array"));

    DeviceFile file;
    const QJsonArray rangeEntries = top.value(u"ranges").toArray();
    for (qsizetype i = 0; i < rangeEntries.size(); ++i) {
        const QJsonObject entry = rangeEntries.at(i).toObject();
        const QString where = QStringLiteral("range %1 (%2)").arg(i + 1).arg(entry.value(u"range").toString());
        if (!rangeEntries.at(i).isObject())
            return fail(QStringLiteral("range %1: must be a JSON object").arg(i + 1));
        RangeProfile range;
        const QString problem = readRange(entry, range);
        if (!problem.isEmpty())
            return fail(where + QStringLiteral(": ") + problem);
        for (const RangeProfile &other : std::as_const(file.ranges)) {
            if (range.first <= other.last && other.first <= range.last)
                return fail(where + QStringLiteral(": overlaps range %1").arg(other.text));
        }
        file.ranges.append(range);
    }

    const QJsonArray entries = top.value(u"devices").toArray();
    if (entries.isEmpty() && file.ranges.isEmpty())
        return fail(QStringLiteral("\"devices\" is empty"));
    QList<DeviceProfile> &devices = file.devices;
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
    return file;
}

std::optional<DeviceFile> loadDeviceFile(const QString &path, QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (error)
            *error = QStringLiteral("%1: %2").arg(path, file.errorString());
        return std::nullopt;
    }
    QString problem;
    auto parsed = parseDeviceFile(file.readAll(), &problem);
    if (!parsed && error)
        *error = QStringLiteral("%1: %2").arg(path, problem);
    return parsed;
}
