#pragma once

#include <QHash>
#include <QHostAddress>
#include <QJsonObject>
#include <QString>

// One simulated device as the configuration file describes it.
struct DeviceProfile final {
    enum class Kind {
        Info,         // answers "Zeph" on the info port and GET /info
        Gateway,      // answers 00 01 00 F6 on the gateway port and GET /getdata.json
        InfoNotFound, // answers "Zeph", but /info with 404 and /getdata.json like a gateway
    };

    // What the device sends back to a discovery request.
    enum class Udp {
        Reply,     // one well-formed reply
        None,      // no reply at all
        Twice,     // the well-formed reply, two times
        WrongCode, // wrong reply code or marker
        Short,     // a reply one byte too short to be checked
        OtherCase, // the marker in other letter case (info devices only)
        Echo,      // the request sent back
        Nul,       // a bad reply with a NUL byte inside
        Oversize,  // the well-formed reply padded past 512 bytes
    };

    enum class Http {
        Normal,
        Silent,    // accepts, never answers
        Slow,      // answers after `httpSeconds`
        Trickle,   // headers, then one body byte every 2 s, forever
        NotJson,   // 200 with a body that is not JSON
        NotObject, // 200 with a JSON array
        Status500, // 500 with the usual JSON object
        Large,     // 200 with a JSON object of `bodyMiB` MiB
    };

    QString name;
    QHostAddress address;
    Kind kind = Kind::Info;
    quint16 httpPort = 80; // 0: any free port
    // The /info members of an info device, the /getdata.json object otherwise.
    QJsonObject document;
    Udp udp = Udp::Reply;
    int udpRepeat = 1;  // the replies are sent this many times per request
    int udpSources = 1; // and from this many addresses, the device's own and those after it
    // The replies come from this address (and those after it) instead of the device's own:
    // a device whose address is on another network. Null: from the device's own.
    QHostAddress udpFrom;
    Http http = Http::Normal;
    int httpSeconds = 0;
    int bodyMiB = 0;
    // Paths answered with this status and the device's document as a JSON object, before
    // anything else (a 404 with an object on "/info", a 418 with the usual object).
    QHash<QByteArray, int> statuses;

    bool answersInfoRequest() const { return kind != Kind::Gateway; }
};

// A block of addresses that all behave alike, without a device entry each. Every address
// from `first` to `last` (both included) is a host on the LAN; a device of the file on
// one of them is served as that device instead.
struct RangeProfile final {
    enum class Behaviour {
        Silent, // accepts connections to its HTTP port, never answers
        Refuse, // nothing listens: a connection is refused at once
    };

    QString text; // as the file wrote it
    quint32 first = 0;
    quint32 last = 0;
    Behaviour behaviour = Behaviour::Refuse;
    quint16 httpPort = 80; // silent only; 0: one free port for the whole range

    qint64 size() const { return qint64(last) - qint64(first) + 1; }
    bool contains(quint32 address) const { return address >= first && address <= last; }
};
