#include "history/changenotice.h"

#include "platform/safetext.h"

#include <QStringList>

#include <algorithm>
#include <array>

namespace {

struct KindText {
    WatchEvent::Kind kind;
    const char *one;
    const char *many; // %1 is the count
};

constexpr std::array<KindText, 6> kindTexts{{
    {WatchEvent::Kind::New, "1 new device", "%1 new devices"},
    {WatchEvent::Kind::Missing, "1 device missing", "%1 devices missing"},
    {WatchEvent::Kind::Moved, "1 device moved", "%1 devices moved"},
    {WatchEvent::Kind::Back, "1 device back", "%1 devices back"},
    {WatchEvent::Kind::Flapping, "1 device flapping", "%1 devices flapping"},
    {WatchEvent::Kind::Steady, "1 device steady", "%1 devices steady"},
}};

// One line of plain text, cut after maxNameLength characters: what would break the line,
// turn it around or hide in it is escaped as a terminal shows it.
QString oneLine(const QString &text)
{
    const QList<uint> characters = text.toUcs4();
    if (characters.size() <= ChangeNotice::maxNameLength)
        return terminalText(text);
    return terminalText(QString::fromUcs4(reinterpret_cast<const char32_t *>(characters.constData()),
                                          ChangeNotice::maxNameLength))
           + QChar(0x2026); // an ellipsis
}

struct Name {
    int rank; // 0 a label, 1 a host name, 2 an address, 3 the MAC address
    QString text;
};

Name nameOf(const WatchEvent &event, const LabelOf &labelOf)
{
    const DeviceRecord &record = *event.device;
    if (const QString label = labelOf ? labelOf(record) : QString(); !label.trimmed().isEmpty())
        return {0, label};
    if (const QString host = record.text(DeviceKey::hostname); !host.trimmed().isEmpty())
        return {1, host};
    if (const QString address = deviceAddress(record); !address.isEmpty())
        return {2, address};
    return {3, deviceMac(record).value_or(QString())};
}

} // namespace

std::optional<ChangeNotice> changeNotice(const QList<WatchEvent> &events, const LabelOf &labelOf)
{
    QStringList heads;
    QStringList plainLines;
    QStringList markupLines;
    for (const KindText &kind : kindTexts) {
        QList<Name> names;
        for (const WatchEvent &event : events) {
            if (event.kind == kind.kind)
                names.append(nameOf(event, labelOf));
        }
        if (names.isEmpty())
            continue;
        std::stable_sort(names.begin(), names.end(), [](const Name &a, const Name &b) { return a.rank < b.rank; });
        const qsizetype count = names.size();
        const QString head = count == 1 ? QString::fromLatin1(kind.one) : QString::fromLatin1(kind.many).arg(count);
        QStringList plain;
        QStringList markup;
        for (qsizetype i = 0; i < std::min(count, ChangeNotice::maxNamed); ++i) {
            plain.append(oneLine(names.at(i).text));
            markup.append(plain.last().toHtmlEscaped());
        }
        const QString more =
            count > ChangeNotice::maxNamed ? QStringLiteral(" and %1 more").arg(count - ChangeNotice::maxNamed) : QString();
        heads.append(head);
        plainLines.append(head + QStringLiteral(": ") + plain.join(u", ") + more);
        markupLines.append(head + QStringLiteral(": ") + markup.join(u", ") + more);
    }
    if (heads.isEmpty())
        return std::nullopt;
    return ChangeNotice{heads.join(u", "), markupLines.join(u'\n'), plainLines.join(u'\n')};
}
