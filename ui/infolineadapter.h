#pragma once

#include "platform/controls.h"

#include <QLabel>
#include <QPointer>

// A line under the table as the controller drives it: a label of plain text whose link part
// the view wires to what it opens (the label's linkActivated). Nothing once the label has
// gone. Main thread.
class InfoLineAdapter final : public InfoLine {
public:
    explicit InfoLineAdapter(QLabel *label) : m_label(label) {}

    void setText(const QString &text, const QString &link) override
    {
        if (!m_label)
            return;
        // The label shows markup only for the link; every text is escaped first.
        QString shown = text.toHtmlEscaped();
        const QString escapedLink = link.toHtmlEscaped();
        if (!link.isEmpty() && shown.contains(escapedLink))
            shown.replace(escapedLink, QStringLiteral("<a href=\"#\">%1</a>").arg(escapedLink));
        m_label->setText(shown);
        m_label->setVisible(!text.isEmpty());
    }

private:
    QPointer<QLabel> m_label;
};
