#include "app/expandcommand.h"

#include "app/output.h"
#include "platform/log.h"
#include "scan/rangeexpression.h"

#include <QStringEncoder>

#include <vector>

int runExpandCommand(const QString &range, std::FILE *out)
{
    const IpRange addresses = get_ip_range(range);
    if (addresses.isEmpty()) {
        logLine(lcScan, "Unable to expand IP Range: '%@'", range);
        return 2;
    }
    // A /8 is sixteen million lines: gather them into large writes.
    constexpr std::size_t chunk = 1 << 16;
    QStringEncoder encoder(QStringConverter::Utf8);
    std::vector<char> buffer;
    buffer.reserve(chunk);
    for (const QString &address : addresses) {
        const auto needed = std::size_t(encoder.requiredSpace(address.size())) + 1;
        if (buffer.size() + needed > buffer.capacity()) {
            if (!writeOutput(out, QByteArrayView(buffer.data(), qsizetype(buffer.size()))))
                return 1;
            buffer.clear();
            buffer.reserve(needed);
        }
        const std::size_t used = buffer.size();
        buffer.resize(used + needed);
        char *end = encoder.appendToBuffer(buffer.data() + used, address);
        *end++ = '\n';
        buffer.resize(std::size_t(end - buffer.data()));
    }
    return writeOutput(out, QByteArrayView(buffer.data(), qsizetype(buffer.size()))) ? 0 : 1;
}
