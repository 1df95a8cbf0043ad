#include "history/watchenvironment.h"

#include "platform/safetext.h"

#include <QStringList>

namespace {

// As a terminal shows it, since that or a desktop is where a program's texts end up.
void setVariable(QProcessEnvironment &environment, const QString &name, const QString &value)
{
    if (!value.isEmpty())
        environment.insert(name, terminalText(value));
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
    setVariable(base, QStringLiteral("DF_EVENT"), QString::fromLatin1(watchEventName(event.kind)));
    setVariable(base, QStringLiteral("DF_MAC"), deviceMac(record).value_or(QString()));
    setVariable(base, QStringLiteral("DF_ADDRESS"), deviceAddress(record));
    if (event.kind == WatchEvent::Kind::Moved)
        setVariable(base, QStringLiteral("DF_FROM"), event.from);
    if (event.kind == WatchEvent::Kind::Steady)
        setVariable(base, QStringLiteral("DF_PRESENT"), event.present ? QStringLiteral("yes") : QStringLiteral("no"));
    setVariable(base, QStringLiteral("DF_HOSTNAME"), record.text(DeviceKey::hostname));
    setVariable(base, QStringLiteral("DF_LABEL"), label);
    return base;
}
