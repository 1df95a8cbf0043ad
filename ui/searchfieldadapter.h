#pragma once

#include "platform/controls.h"

#include <QLineEdit>
#include <QPointer>

// The search field: its action runs at every change of its text, so the rows filter as the
// user types. Nothing once the field has gone. Main thread.
class SearchFieldAdapter final : public SearchField {
public:
    explicit SearchFieldAdapter(QLineEdit *field) : m_field(field) {}

    QString stringValue() const override { return m_field ? m_field->text() : QString(); }
    void setAction(std::function<void(const QString &)> action) override
    {
        if (!m_field)
            return;
        QObject::disconnect(m_connection);
        m_connection = QObject::connect(m_field, &QLineEdit::textChanged, m_field, std::move(action));
    }

private:
    QPointer<QLineEdit> m_field;
    QMetaObject::Connection m_connection;
};
