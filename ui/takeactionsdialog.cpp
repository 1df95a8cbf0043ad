#include "ui/takeactionsdialog.h"

#include "platform/safetext.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

TakeActionsDialog::TakeActionsDialog(const QList<RowAction> &actions, QWidget *parent) : QDialog(parent)
{
    setWindowTitle(tr("Import Settings"));
    auto *question = new QLabel(actions.size() == 1 ? tr("The settings hold an action: a program that a device's menu would "
                                                         "run. Take it in only from someone you trust.")
                                                    : tr("The settings hold %1 actions: programs that a device's menu would "
                                                         "run. Take them in only from someone you trust.")
                                                          .arg(actions.size()),
                                this);
    question->setWordWrap(true);
    QString listed;
    for (const RowAction &action : actions)
        listed += terminalText(action.name) + QStringLiteral("\n    ") + terminalText(commandText(action.command)) + u'\n';
    auto *list = new QPlainTextEdit(listed, this);
    list->setObjectName(QStringLiteral("actionsText"));
    list->setReadOnly(true);
    list->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    list->setMinimumSize(520, 200);

    auto *buttons = new QDialogButtonBox(this);
    QPushButton *take = buttons->addButton(tr("Take Actions"), QDialogButtonBox::AcceptRole);
    QPushButton *leave = buttons->addButton(tr("Don't Take Actions"), QDialogButtonBox::RejectRole);
    take->setAutoDefault(false);
    leave->setDefault(true);
    leave->setFocus();
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(question);
    layout->addWidget(list);
    layout->addWidget(buttons);
}
