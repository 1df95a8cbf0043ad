// A datagram that reached a discovery socket, as any sender on the network chooses it, into
// the text a rejected one is logged as.
#include "discovery/datagram.h"
#include "platform/log.h"
#include "tests/fuzz/require.h"

#include <QByteArray>

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArrayView datagram(reinterpret_cast<const char *>(data), qsizetype(size));
    const QString text = formatLogLine("%s", {badPacketBytes(datagram)});
    for (const QChar c : text)
        require(c.unicode() >= 0x20 && c.unicode() <= 0x7E, "the logged text is printable ASCII");
    const qsizetype nul = datagram.indexOf('\0');
    const QByteArrayView shown = nul < 0 ? datagram : datagram.first(nul);
    require(text.size() >= shown.size() && text.size() <= 4 * shown.size(), "one to four characters a byte");
    return 0;
}
