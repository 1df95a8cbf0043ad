#pragma once

#include "platform/controls.h"

#include <QLineEdit>
#include <QPointer>

// The range text box as the controller drives it: its text, and the colour the text is
// drawn in. The toolkit's orange is drawn as the orange readable on the window's palette
// (readableOrange); any other colour is taken as the default one, the palette's text colour,
// so that the box follows a switch between light and dark. Nothing once the field has gone.
// Main thread.
class TextFieldAdapter final : public TextField {
public:
    explicit TextFieldAdapter(QLineEdit *field) : m_field(field) {}

    QString stringValue() const override { return m_field ? m_field->text() : QString(); }
    void setStringValue(const QString &text) override
    {
        if (m_field)
            m_field->setText(text);
    }
    Color textColor() const override;
    void setTextColor(Color color) override;
    // Draws the text anew in the palette's colours (after the palette changed).
    void followPalette();

private:
    QPointer<QLineEdit> m_field;
    bool m_orange = false;
};
