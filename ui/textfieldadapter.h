#pragma once

#include "platform/controls.h"

#include <QLineEdit>
#include <QPointer>

// The range text box as the controller drives it: its text, and the colour the text is
// drawn in. Nothing once the field has gone. Main thread.
class TextFieldAdapter final : public TextField {
public:
    explicit TextFieldAdapter(QLineEdit *field) : m_field(field) {}

    QString stringValue() const override { return m_field ? m_field->text() : QString(); }
    void setStringValue(const QString &text) override
    {
        if (m_field)
            m_field->setText(text);
    }
    Color textColor() const override { return m_field ? m_field->palette().color(QPalette::Text).rgba() : 0; }
    void setTextColor(Color color) override
    {
        if (!m_field)
            return;
        QPalette palette = m_field->palette();
        palette.setColor(QPalette::Text, QColor::fromRgba(color));
        m_field->setPalette(palette);
    }

private:
    QPointer<QLineEdit> m_field;
};
