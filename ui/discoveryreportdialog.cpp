#include "ui/discoveryreportdialog.h"

#include <QClipboard>
#include <QDialogButtonBox>
#include <QGuiApplication>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

DiscoveryReportDialog::DiscoveryReportDialog(const QString &text, QWidget *parent) : QDialog(parent)
{
    setWindowTitle(tr("Discovery Report"));
    m_text = new QPlainTextEdit(text, this);
    m_text->setObjectName(QStringLiteral("reportText"));
    m_text->setReadOnly(true);
    m_text->setMinimumSize(560, 360);

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    QPushButton *copy = buttons->addButton(tr("Copy"), QDialogButtonBox::ActionRole);
    copy->setObjectName(QStringLiteral("copyButton"));
    connect(copy, &QPushButton::clicked, this, [this] { QGuiApplication::clipboard()->setText(m_text->toPlainText()); });
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_text);
    layout->addWidget(buttons);
}
