#include "platform/safetext.h"

#include <QList>

#include <algorithm>

namespace {

QString codePoint(char32_t c)
{
    return c < 0x100     ? QStringLiteral("\\x%1").arg(uint(c), 2, 16, QLatin1Char('0'))
           : c < 0x10000 ? QStringLiteral("\\u%1").arg(uint(c), 4, 16, QLatin1Char('0'))
                         : QStringLiteral("\\U%1").arg(uint(c), 8, 16, QLatin1Char('0'));
}

} // namespace

bool isUnsafeCharacter(char32_t c)
{
    switch (QChar::category(c)) {
    case QChar::Other_Control:
    case QChar::Other_Format:
    case QChar::Other_PrivateUse:
    case QChar::Separator_Line:
    case QChar::Separator_Paragraph:
        return true;
    default:
        return false;
    }
}

bool holdsUnsafeCharacter(QStringView text)
{
    const QList<uint> characters = text.toUcs4();
    return std::any_of(characters.begin(), characters.end(), isUnsafeCharacter);
}

QString safeText(QStringView text, TextPlace place)
{
    QString safe;
    safe.reserve(text.size());
    // By code point, so that a character beyond 16 bits (the tag characters) is judged as
    // itself, not as the halves of its surrogate pair.
    for (const char32_t c : text.toUcs4()) {
        if (c == u'\\')
            safe += QStringLiteral("\\\\");
        else if (place == TextPlace::MetricsLabel && c == u'"')
            safe += QStringLiteral("\\\"");
        else if (place == TextPlace::MetricsLabel && c == u'\n')
            safe += QStringLiteral("\\n");
        else if (!isUnsafeCharacter(c))
            safe += QString::fromUcs4(&c, 1);
        else
            safe += place == TextPlace::MetricsLabel ? QString(QChar::ReplacementCharacter) : codePoint(c);
    }
    return safe;
}

QString terminalText(const QString &text)
{
    return safeText(text, TextPlace::Escaped);
}

QString safeBytes(QByteArrayView bytes)
{
    QString safe;
    safe.reserve(bytes.size());
    for (const char byte : bytes) {
        const auto c = static_cast<unsigned char>(byte);
        if (c == '\\')
            safe += QLatin1StringView("\\\\");
        else if (c >= 0x20 && c < 0x7F)
            safe += QLatin1Char(char(c));
        else
            safe += codePoint(c);
    }
    return safe;
}
