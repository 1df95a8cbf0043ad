#pragma once

#include "platform/controls.h"

#include <QAction>
#include <QPointer>
#include <QPushButton>

// A control that is there only during a run, as a button and the menu entry (with its key)
// that does the same: the button shows and the entry is enabled while available. Nothing
// for either once it has gone. Main thread.
class RunControlAdapter final : public RunControl {
public:
    RunControlAdapter(QPushButton *button, QAction *action) : m_button(button), m_action(action) {}

    void setAvailable(bool available) override
    {
        if (m_button) {
            m_button->setVisible(available);
            m_button->setEnabled(available);
        }
        if (m_action)
            m_action->setEnabled(available);
    }

private:
    QPointer<QPushButton> m_button;
    QPointer<QAction> m_action;
};
