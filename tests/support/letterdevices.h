#pragma once

#include "history/devicehistory.h"

#include <QJsonObject>
#include <QStringList>

// Devices written as letters, for tables of runs: "a@1 b@2/2.0 -@3 z@192.168.7.9".

inline const QDateTime letterStart(QDate(2026, 12, 8), QTime(9, 14), Qt::UTC);

// The MAC address a one-letter name stands for ("a": 02:00:5e:00:00:61, its last pair the
// letter's code), and back; "*" stands for a text that is no MAC address.
inline QString macOf(const QString &name)
{
    using namespace Qt::StringLiterals;
    return name == u"*" ? u"not-a-mac"_s : u"02:00:5e:00:00:%1"_s.arg(name.at(0).unicode(), 2, 16, QChar(u'0'));
}
inline QString nameOf(const QString &mac)
{
    using namespace Qt::StringLiterals;
    return mac.startsWith(u"02:00:5e:00:00:"_s) ? QString(QChar(mac.right(2).toInt(nullptr, 16))) : mac;
}

// Devices by MAC address (macOf), each named as its letter, at 10.0.0.N (or the whole address
// given), maybe with a firmware tag; "-" has no MAC address.
inline DeviceList devices(const QString &text)
{
    using namespace Qt::StringLiterals;
    DeviceList list;
    for (const QString &device : text.split(u' ', Qt::SkipEmptyParts)) {
        const QString mac = device.section(u'@', 0, 0);
        const QString at = device.section(u'@', 1).section(u'/', 0, 0);
        QJsonObject object{{u"hostname"_s, mac}, {u"ipAddress"_s, at.contains(u'.') ? at : u"10.0.0."_s + at}};
        if (device.contains(u'/'))
            object.insert(u"tag"_s, device.section(u'/', 1));
        if (mac != u"-")
            object.insert(u"macAddress"_s, macOf(mac));
        list.append(std::make_shared<const DeviceRecord>(object));
    }
    return list;
}

// A scan of 10.0.0.FIRST to 10.0.0.LAST, "FIRST-LAST"; a discovery for an empty text.
inline RunScope scopeOf(const QString &range)
{
    using namespace Qt::StringLiterals;
    if (range.isEmpty())
        return {};
    const int first = range.section(u'-', 0, 0).toInt();
    const int last = range.section(u'-', 1).toInt();
    return {[first, last](const QString &address) {
        const int host = address.section(u'.', 3).toInt();
        return address.startsWith(u"10.0.0."_s) && host >= first && host <= last;
    }};
}

// Runs an hour apart from letterStart: "C:a@1 b@2" a completed discovery, "S:c@3" a stopped
// one, "R:a@1" a completed scan of 10.0.0.0/24.
inline DeviceHistory historyOf(const QStringList &runs)
{
    using namespace Qt::StringLiterals;
    DeviceHistory history;
    for (qsizetype i = 0; i < runs.size(); ++i)
        history.record(devices(runs[i].mid(2)), !runs[i].startsWith(u"S:"_s), letterStart.addSecs(3600 * i),
                       scopeOf(runs[i].startsWith(u"R:"_s) ? u"0-255"_s : QString()));
    return history;
}
