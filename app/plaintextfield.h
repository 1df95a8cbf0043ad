#pragma once

#include "platform/controls.h"

// A text field without a window: what the command line hands the controller as its range
// text box. Main thread.
class PlainTextField final : public TextField {
public:
    explicit PlainTextField(QString text) : m_text(std::move(text)) {}

    QString stringValue() const override { return m_text; }
    void setStringValue(const QString &text) override { m_text = text; }
    Color textColor() const override { return m_color; }
    void setTextColor(Color color) override { m_color = color; }

private:
    QString m_text;
    Color m_color = 0xFF000000;
};
