#include "model/integervalue.h"

#include <limits>

qint64 integerValue(QStringView text)
{
    qsizetype i = 0;
    while (i < text.size() && text.at(i).isSpace())
        ++i;
    bool negative = false;
    if (i < text.size() && (text.at(i) == u'+' || text.at(i) == u'-'))
        negative = text.at(i++) == u'-';
    // Accumulated as a negative number, whose range reaches one further.
    constexpr qint64 lowest = std::numeric_limits<qint64>::min();
    qint64 value = 0;
    bool saturated = false;
    for (; i < text.size() && text.at(i) >= u'0' && text.at(i) <= u'9'; ++i) {
        const int digit = text.at(i).unicode() - u'0';
        if (value < (lowest + digit) / 10)
            saturated = true;
        else
            value = value * 10 - digit;
    }
    if (saturated)
        return negative ? lowest : std::numeric_limits<qint64>::max();
    if (!negative)
        return value == lowest ? std::numeric_limits<qint64>::max() : -value;
    return value;
}
