#pragma once

#include <QDialog>

class QPlainTextEdit;

// The discovery report in plain words, read-only, with a "Copy" button that puts the whole
// text on the clipboard for a support request. The text holds what devices and the system
// chose (addresses, interface names), so it is shown as plain text, never as markup. Main
// thread.
class DiscoveryReportDialog final : public QDialog {
    Q_OBJECT

public:
    explicit DiscoveryReportDialog(const QString &text, QWidget *parent = nullptr);

private:
    QPlainTextEdit *m_text = nullptr;
};
