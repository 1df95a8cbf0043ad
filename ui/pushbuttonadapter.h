#pragma once

#include "platform/controls.h"

#include <QPointer>
#include <QPushButton>

// A push button as the controller drives it; nothing once the button has gone. Main thread.
class PushButtonAdapter final : public PushButton {
public:
    explicit PushButtonAdapter(QPushButton *button) : m_button(button) {}

    void setTitle(const QString &title) override
    {
        if (m_button)
            m_button->setText(title);
    }
    void setEnabled(bool enabled) override
    {
        if (m_button)
            m_button->setEnabled(enabled);
    }

private:
    QPointer<QPushButton> m_button;
};
