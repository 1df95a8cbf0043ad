#include "ui/takesettingsdialog.h"

#include "platform/safetext.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

QString listedActions(const QList<RowAction> &actions)
{
    QString listed;
    for (const RowAction &action : actions)
        listed += terminalText(action.name) + QStringLiteral("\n    ") + terminalText(commandText(action.command)) + u'\n';
    return listed;
}

QString listedLines(const QStringList &lines)
{
    QString listed;
    for (const QString &line : lines)
        listed += terminalText(line) + u'\n';
    return listed;
}

} // namespace

TakeSettingsDialog::TakeSettingsDialog(const QList<RowAction> &actions, QWidget *parent)
    : TakeSettingsDialog(actions.size() == 1 ? tr("The settings hold an action: a program that a device's menu would run. "
                                                  "Take it in only from someone you trust.")
                                             : tr("The settings hold %1 actions: programs that a device's menu would run. "
                                                  "Take them in only from someone you trust.")
                                                   .arg(actions.size()),
                         listedActions(actions), tr("Take Actions"), tr("Don't Take Actions"), parent)
{
}

TakeSettingsDialog::TakeSettingsDialog(const QStringList &watchChoices, QWidget *parent)
    : TakeSettingsDialog(tr("The settings would change which devices this computer watches: devices it knows keep their "
                            "choices here unless you take the file's. A device left out of watching gives no alarm."),
                         listedLines(watchChoices), tr("Take Watch Choices"), tr("Keep Watch Choices"), parent)
{
}

TakeSettingsDialog::TakeSettingsDialog(const QString &question, const QString &listed, const QString &take,
                                       const QString &leave, QWidget *parent)
    : QDialog(parent)
{
    setWindowTitle(tr("Import Settings"));
    auto *label = new QLabel(question, this);
    label->setWordWrap(true);
    auto *list = new QPlainTextEdit(listed, this);
    list->setObjectName(QStringLiteral("listedText"));
    list->setReadOnly(true);
    list->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    list->setMinimumSize(520, 200);

    auto *buttons = new QDialogButtonBox(this);
    QPushButton *takeButton = buttons->addButton(take, QDialogButtonBox::AcceptRole);
    QPushButton *leaveButton = buttons->addButton(leave, QDialogButtonBox::RejectRole);
    takeButton->setAutoDefault(false);
    leaveButton->setDefault(true);
    leaveButton->setFocus();
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(label);
    layout->addWidget(list);
    layout->addWidget(buttons);
}
