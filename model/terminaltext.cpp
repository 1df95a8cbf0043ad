#include "model/terminaltext.h"

#include <QList>

#include <algorithm>

bool isControlCharacter(char32_t c)
{
    return QChar::category(c) == QChar::Other_Control;
}

bool hasControlCharacter(QStringView text)
{
    // Every control character is a single UTF-16 unit.
    return std::any_of(text.begin(), text.end(), [](QChar c) { return isControlCharacter(c.unicode()); });
}

QString terminalText(const QString &text)
{
    QString shown;
    shown.reserve(text.size());
    // By code point, so that a character beyond 16 bits (the tag characters) is judged as
    // itself, not as the halves of its surrogate pair.
    for (const char32_t c : text.toUcs4()) {
        if (!isUnshownCharacter(c))
            shown += QString::fromUcs4(&c, 1);
        else
            shown += c < 0x100     ? QStringLiteral("\\x%1").arg(uint(c), 2, 16, QLatin1Char('0'))
                     : c < 0x10000 ? QStringLiteral("\\u%1").arg(uint(c), 4, 16, QLatin1Char('0'))
                                   : QStringLiteral("\\U%1").arg(uint(c), 8, 16, QLatin1Char('0'));
    }
    return shown;
}

bool isUnshownCharacter(char32_t c)
{
    if (isControlCharacter(c))
        return true;
    switch (QChar::category(c)) {
    case QChar::Other_Format:
    case QChar::Other_PrivateUse:
    case QChar::Separator_Line:
    case QChar::Separator_Paragraph:
        return true;
    default:
        return false;
    }
}
