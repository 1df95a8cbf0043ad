#include "history/watchenvironment.h"

#include <QStringList>

namespace {

QString eventName(WatchEvent::Kind kind)
{
    switch (kind) {
    case WatchEvent::Kind::New:
        return QStringLiteral("new");
    case WatchEvent::Kind::Missing:
        return QStringLiteral("missing");
    case WatchEvent::Kind::Moved:
        return QStringLiteral("moved");
    case WatchEvent::Kind::Back:
        break;
    }
    return QStringLiteral("back");
}

void insert(QProcessEnvironment &environment, const QString &name, QString value)
{
    value.remove(QChar(0));
    if (!value.isEmpty())
        environment.insert(name, value);
}

} // namespace

QProcessEnvironment watchEventEnvironment(const WatchEvent &event, const QString &label, QProcessEnvironment base)
{
    // A DF_FROM left in the user's shell must not pass for this event's.
    for (const QString &name : base.keys()) {
        if (name.startsWith(u"DF_"))
            base.remove(name);
    }
    const DeviceRecord &record = *event.device;
    insert(base, QStringLiteral("DF_EVENT"), eventName(event.kind));
    insert(base, QStringLiteral("DF_MAC"), deviceIdentity(record).value_or(QString()));
    insert(base, QStringLiteral("DF_ADDRESS"), deviceAddress(record));
    if (event.kind == WatchEvent::Kind::Moved)
        insert(base, QStringLiteral("DF_FROM"), event.from);
    insert(base, QStringLiteral("DF_HOSTNAME"), record.text(DeviceKey::hostname));
    insert(base, QStringLiteral("DF_LABEL"), label);
    return base;
}
