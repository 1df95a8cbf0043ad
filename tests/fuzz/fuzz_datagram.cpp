// A datagram that reached a discovery socket, as any sender on the network chooses it, into
// the text a rejected one is logged as.
#include "discovery/datagram.h"
#include "tests/fuzz/require.h"

#include <QByteArray>

#include <optional>

#include <cstdint>

namespace {

int hexDigit(QChar c)
{
    const char latin = c.toLatin1();
    if (latin >= '0' && latin <= '9')
        return latin - '0';
    if (latin >= 'a' && latin <= 'f')
        return latin - 'a' + 10;
    return -1;
}

// Undoes the escapes of badPacketText; nothing when the text holds one it never writes.
std::optional<QByteArray> unescape(const QString &text)
{
    QByteArray bytes;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c != u'\\') {
            bytes += char(c.unicode());
            continue;
        }
        if (++i >= text.size())
            return std::nullopt;
        switch (text.at(i).unicode()) {
        case '\\': bytes += '\\'; break;
        case 'n': bytes += '\n'; break;
        case 'r': bytes += '\r'; break;
        case 't': bytes += '\t'; break;
        case 'x': {
            if (i + 2 >= text.size())
                return std::nullopt;
            const int high = hexDigit(text.at(i + 1));
            const int low = hexDigit(text.at(i + 2));
            if (high < 0 || low < 0)
                return std::nullopt;
            bytes += char(high * 16 + low);
            i += 2;
            break;
        }
        default:
            return std::nullopt;
        }
    }
    return bytes;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArrayView datagram(reinterpret_cast<const char *>(data), qsizetype(size));
    const QString text = badPacketText(datagram);
    for (const QChar c : text)
        require(c.unicode() >= 0x20 && c.unicode() <= 0x7E, "the logged text is printable ASCII");
    const qsizetype nul = datagram.indexOf('\0');
    const QByteArrayView shown = nul < 0 ? datagram : datagram.first(nul);
    require(text.size() <= 4 * shown.size(), "at most four characters a byte");
    const std::optional<QByteArray> back = unescape(text);
    require(back && QByteArrayView(*back) == shown, "the text gives back the bytes up to the first NUL");
    return 0;
}
