#include "destinations/jsonlocation.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonValue>

#include <optional>

namespace {

// A reader of a text already known to be valid JSON: it only skips, never checks.
class Skipper final {
public:
    explicit Skipper(QByteArrayView text) : m_text(text) {}

    qsizetype at() const { return m_at; }
    char peek()
    {
        skipSpace();
        return m_at < m_text.size() ? m_text.at(m_at) : '\0';
    }
    void take() { ++m_at; }
    void skipString()
    {
        ++m_at; // the opening quote
        while (m_at < m_text.size() && m_text.at(m_at) != '"')
            m_at += m_text.at(m_at) == '\\' ? 2 : 1;
        ++m_at;
    }
    QString readString()
    {
        const qsizetype start = m_at;
        skipString();
        const QByteArray quoted = QByteArray("[") + m_text.sliced(start, std::min(m_at, m_text.size()) - start).toByteArray() + ']';
        return QJsonDocument::fromJson(quoted).array().at(0).toString();
    }
    void skipValue()
    {
        const char c = peek();
        if (c == '"') {
            skipString();
        } else if (c == '{' || c == '[') {
            int depth = 0;
            do {
                const char d = peek();
                if (d == '"') {
                    skipString();
                    continue;
                }
                if (d == '{' || d == '[')
                    ++depth;
                else if (d == '}' || d == ']')
                    --depth;
                take();
            } while (depth > 0 && m_at < m_text.size());
        } else {
            while (m_at < m_text.size() && !QByteArrayView(",}] \t\r\n").contains(m_text.at(m_at)))
                ++m_at;
        }
    }

private:
    void skipSpace()
    {
        while (m_at < m_text.size() && QByteArrayView(" \t\r\n").contains(m_text.at(m_at)))
            ++m_at;
    }

    QByteArrayView m_text;
    qsizetype m_at = 0;
};

// Moves the skipper onto the member's value (or its key's start, returned) or the element.
std::optional<qsizetype> step(Skipper &skipper, const JsonStep &wanted)
{
    if (const auto *key = std::get_if<QString>(&wanted)) {
        if (skipper.peek() != '{')
            return std::nullopt;
        skipper.take();
        while (skipper.peek() == '"') {
            const qsizetype keyAt = skipper.at();
            const QString name = skipper.readString();
            skipper.peek();
            skipper.take(); // the colon
            if (name == *key) {
                skipper.peek();
                return keyAt;
            }
            skipper.skipValue();
            if (skipper.peek() == ',')
                skipper.take();
        }
        return std::nullopt;
    }
    if (skipper.peek() != '[')
        return std::nullopt;
    skipper.take();
    for (qsizetype index = 0; skipper.peek() != ']' && skipper.peek() != '\0'; ++index) {
        if (index == std::get<qsizetype>(wanted))
            return skipper.at();
        skipper.skipValue();
        if (skipper.peek() == ',')
            skipper.take();
    }
    return std::nullopt;
}

} // namespace

TextPosition textPosition(QByteArrayView text, qsizetype offset)
{
    TextPosition position;
    for (qsizetype i = 0; i < offset && i < text.size(); ++i) {
        if (text.at(i) == '\n') {
            ++position.line;
            position.column = 1;
        } else {
            ++position.column;
        }
    }
    return position;
}

qsizetype jsonOffset(QByteArrayView text, const QList<JsonStep> &path)
{
    Skipper skipper(text);
    skipper.peek();
    qsizetype found = skipper.at();
    for (const JsonStep &wanted : path) {
        const std::optional<qsizetype> at = step(skipper, wanted);
        if (!at)
            break;
        found = *at;
    }
    return found;
}
