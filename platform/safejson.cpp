#include "platform/safejson.h"

#include <QJsonArray>

namespace {

// The characters written as escapes beyond the C0 controls (which QJsonDocument escapes, and
// which stand raw outside strings only as the indentation's line breaks).
constexpr bool escapedInJson(char32_t c)
{
    return c == 0x7F || (c >= 0x80 && c <= 0x9F) || c == 0x061C || c == 0x200E || c == 0x200F
           || (c >= 0x2028 && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069);
}

// QJsonDocument writes valid UTF-8, and every escaped character is below U+0800 or starts
// with the byte 0xE2, so only these bytes can start one; a continuation byte never does.
constexpr qsizetype leadLength(uchar byte)
{
    return byte == 0x7F ? 1 : (byte == 0xC2 || byte == 0xD8) ? 2 : byte == 0xE2 ? 3 : 0;
}

char32_t decoded(const uchar *at, qsizetype length)
{
    if (length == 1)
        return at[0];
    if (length == 2)
        return char32_t(at[0] & 0x1F) << 6 | char32_t(at[1] & 0x3F);
    return char32_t(at[0] & 0x0F) << 12 | char32_t(at[1] & 0x3F) << 6 | char32_t(at[2] & 0x3F);
}

// These characters stand only inside strings, so one pass over the bytes finds them all. A
// text without any (nearly every one) is handed back as it is, without a copy.
QByteArray escaped(const QByteArray &json)
{
    static constexpr char hex[] = "0123456789abcdef";
    const auto *bytes = reinterpret_cast<const uchar *>(json.constData());
    const qsizetype size = json.size();
    QByteArray safe;
    qsizetype copied = 0;
    for (qsizetype i = 0; i < size; ++i) {
        const qsizetype length = leadLength(bytes[i]);
        const char32_t c = length == 0 || i + length > size ? 0 : decoded(bytes + i, length);
        if (!escapedInJson(c))
            continue;
        if (copied == 0)
            safe.reserve(size + 64);
        safe.append(json.constData() + copied, i - copied);
        const char escape[] = {'\\', 'u', hex[c >> 12], hex[(c >> 8) & 0xF], hex[(c >> 4) & 0xF], hex[c & 0xF]};
        safe.append(escape, sizeof escape);
        copied = i + length;
        i = copied - 1;
    }
    if (copied == 0)
        return json;
    safe.append(json.constData() + copied, size - copied);
    return safe;
}

} // namespace

QByteArray safeJson(const QJsonDocument &document, QJsonDocument::JsonFormat format)
{
    return escaped(document.toJson(format));
}

QByteArray safeJsonValue(const QJsonValue &value)
{
    return safeJson(QJsonDocument(QJsonArray{value}), QJsonDocument::Compact).chopped(1).sliced(1);
}
