#include "platform/addresstext.h"
#include "scan/rangeexpression.h"
#include "scan/rangelist.h"
#include "tests/fuzz/require.h"

#include <QLoggingCategory>
#include <QSet>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

void checkRange(const QString &expression)
{
    const IpRange range = get_ip_range(expression);
    require(range.size() >= 0 && range.size() <= IpRange::maxSize, "size within the cap");
    require(range.isEmpty() == (range.size() == 0), "isEmpty agrees with size");
    if (range.isEmpty()) {
        require(range.begin() == range.end(), "an empty range has nothing to walk");
        return;
    }
    // A walk of a large range costs the fuzzer its speed; its beginning is enough.
    constexpr qint64 walked = 4096;
    qint64 i = 0;
    for (auto it = range.begin(); it != range.end() && i < walked; ++it, ++i)
        require(*it == range.at(i), "the walk yields element i at step i");
    require(i == std::min(range.size(), walked), "the walk has as many steps as the size");
}

// A ranges file: within the cap, each address of the walk's beginning once and covered.
void checkRangeList(const QString &text)
{
    const RangeListResult built = rangeListFromLines(text);
    require(bool(built) == built.reason().isEmpty(), "a list, or the reason there is none");
    if (!built)
        return;
    const RangeList &list = *built;
    require(list.size() > 0 && list.size() <= RangeList::maxSize, "size within the cap");
    QSet<Address> seen;
    for (auto it = list.begin(); it != list.end() && seen.size() < 4096; ++it) {
        require(!seen.contains(*it) && list.contains(*it), "each address once, and the list covers it");
        seen.insert(*it);
    }
    require(seen.size() == std::min<qint64>(list.size(), 4096), "the walk has as many steps as the size");
    // A watch's part of the walk, where the walk stands by the text's length: the walk's own
    // addresses from there on, round past the end.
    const qint64 start = text.size() * 7919;
    const RangeList part = list.slice(start, std::min<qint64>(list.size(), 64));
    require(part.size() == std::min<qint64>(list.size(), 64), "a part as long as asked");
    auto whole = list.begin();
    for (qint64 i = 0; i < start % list.size() && i < 4096; ++i)
        ++whole;
    for (const Address &address : part) {
        require(part.contains(address) && list.contains(address), "a part covers its addresses");
        if (start % list.size() < 4096) {
            require(address == *whole, "a part walks as the list does");
            if (++whole == list.end())
                whole = list.begin();
        }
    }
}

// The integer value of a text is the C library's conversion, saturation included.
void checkIntegerValue(const std::uint8_t *data, std::size_t size)
{
    std::string text(reinterpret_cast<const char *>(data), size);
    for (const char c : text) {
        if (c == '\0' || static_cast<unsigned char>(c) >= 0x80)
            return;
    }
    const long long expected = std::strtoll(text.c_str(), nullptr, 10);
    require(integerValue(QString::fromLatin1(text)) == expected, "integerValue agrees with strtoll");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    static const bool quiet = [] {
        QLoggingCategory::setFilterRules(QStringLiteral("devicefinder.*=false"));
        return true;
    }();
    (void)quiet;

    const auto *bytes = reinterpret_cast<const char *>(data);
    checkRange(QString::fromUtf8(bytes, qsizetype(size)));
    // Raw UTF-16 reaches what UTF-8 decoding never yields, such as lone surrogates.
    checkRange(QString::fromUtf16(reinterpret_cast<const char16_t *>(bytes), qsizetype(size / 2)));
    checkIntegerValue(data, size);
    checkRangeList(QString::fromUtf8(bytes, qsizetype(size)));
    return 0;
}
