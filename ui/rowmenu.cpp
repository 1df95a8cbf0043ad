#include "ui/rowmenu.h"

#include "controller/mainviewcontroller.h"
#include "settings/rowactions.h"
#include "model/devicecolumns.h"
#include "platform/log.h"
#include "platform/userprogram.h"
#include "ui/historydialog.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMenu>
#include <QTableView>

RowMenu::RowMenu(MainViewController &controller, QTableView *table, QWidget *parent, Say say)
    : m_controller(controller.weak_from_this()), m_table(table), m_parent(parent), m_say(std::move(say))
{
}

// The row under the pointer, or for the keyboard's menu the current one.
void RowMenu::exec(const QPoint &at)
{
    const auto controller = m_controller.lock();
    QTableView *table = m_table;
    QModelIndex index = table->indexAt(at);
    if (!index.isValid())
        index = table->currentIndex();
    if (!controller || !index.isValid() || index.row() >= controller->filteredDevices().size())
        return;
    const int row = index.row();
    const Device device = controller->filteredDevices().at(row);
    const LabelOf labelOf = controller->labelOf();
    const QString label = labelOf ? labelOf(*device) : QString();
    const QString address = device->value(DeviceKey::ipAddress).toString();
    const QString mac = device->value(DeviceKey::macAddress).toString();
    // The menu holds its device, not the row: a run may reorder or reload the table meanwhile.
    const QString held = controller->tableViewRowDevice(row);
    const auto copy = [](QStringView key) {
        return [key](MainViewController &controller, int row) {
            QGuiApplication::clipboard()->setText(controller.filteredDevices().at(row)->value(key).toString());
        };
    };

    QMenu menu(m_parent);
    menu.setObjectName(QStringLiteral("rowMenu"));
    menu.setAccessibleName(tr("Device %1").arg(device->value(DeviceKey::hostname).toString()).trimmed());
    for (const RowAction &action : builtInRowActions()) {
        QAction *item = menu.addAction(action.name);
        switch (action.kind) {
        case RowAction::Kind::OpenInBrowser:
            item->setEnabled(openAddress(*device).has_value());
            // What the table's Return does; shown, not bound here.
            item->setShortcut(QKeySequence(Qt::Key_Return));
            item->setShortcutContext(Qt::WidgetShortcut);
            QObject::connect(item, &QAction::triggered, &menu,
                    onHeldDevice(held, [](MainViewController &controller, int row) { controller.connectToDevice(row); }));
            break;
        case RowAction::Kind::CopyAddress:
            item->setEnabled(!address.isEmpty());
            QObject::connect(item, &QAction::triggered, &menu, onHeldDevice(held, copy(DeviceKey::ipAddress)));
            break;
        case RowAction::Kind::CopyMacAddress:
            item->setEnabled(!mac.isEmpty());
            QObject::connect(item, &QAction::triggered, &menu, onHeldDevice(held, copy(DeviceKey::macAddress)));
            break;
        case RowAction::Kind::SetLabel:
            item->setEnabled(table->model()->index(row, labelColumn).flags() & Qt::ItemIsEditable);
            QObject::connect(item, &QAction::triggered, &menu, onHeldDevice(held, [table](MainViewController &, int row) {
                        const QModelIndex cell = table->model()->index(row, labelColumn);
                        table->setCurrentIndex(cell);
                        table->edit(cell);
                    }));
            break;
        case RowAction::Kind::DontWatch:
            // Its events are told nowhere; it is still listed and recorded.
            item->setObjectName(QStringLiteral("dontWatchAction"));
            item->setCheckable(true);
            item->setChecked(!controller->isRowWatched(row));
            item->setEnabled(!mac.isEmpty() && controller->labelOf());
            QObject::connect(item, &QAction::toggled, &menu, [this, held, name = action.name](bool left) {
                onHeldDevice(held, [this, left, name](MainViewController &controller, int row) {
                    if (const QString problem = controller.setRowWatched(row, !left); !problem.isEmpty())
                        m_say(name, problem);
                })();
            });
            break;
        case RowAction::Kind::History:
            item->setObjectName(QStringLiteral("historyAction"));
            item->setEnabled(!mac.isEmpty() && !controller->presenceLogPath().isEmpty());
            QObject::connect(item, &QAction::triggered, &menu, [this, mac, device, label] {
                showHistory(mac, label.isEmpty() ? device->text(DeviceKey::hostname) : label);
            });
            break;
        case RowAction::Kind::Program:
            break;
        }
    }
    addUserActions(menu, *device, label, held);
    const QPoint where = table->indexAt(at).isValid() ? at : table->visualRect(index).center();
    menu.exec(table->viewport()->mapToGlobal(where));
}

void RowMenu::showHistory(const QString &mac, const QString &name)
{
    const auto controller = m_controller.lock();
    if (!controller)
        return;
    const DevicePast past = devicePast(controller->presenceLogPath(), mac);
    if (!past.problem.isEmpty()) {
        m_say(tr("History"), tr("The presence log cannot be read: %1").arg(past.problem));
        return;
    }
    auto *dialog = new HistoryDialog(name.isEmpty() ? mac : QStringLiteral("%1 (%2)").arg(name, mac), past.events,
                                     past.logStart, QDateTime::currentDateTimeUtc(), m_parent);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setObjectName(QStringLiteral("deviceHistory"));
    dialog->open();
}

std::function<void()> RowMenu::onHeldDevice(const QString &held, std::function<void(MainViewController &, int row)> act) const
{
    return [weak = m_controller, held, act = std::move(act)] {
        const auto controller = weak.lock();
        const int row = controller ? controller->tableViewRowOfDevice(held) : -1;
        if (row >= 0)
            act(*controller, row);
    };
}

// The user's own actions, read afresh each time; a bad file shows why in the menu.
void RowMenu::addUserActions(QMenu &menu, const DeviceRecord &record, const QString &label, const QString &held)
{
    const RowActionsFile file = readRowActions(rowActionsPath());
    if (!file.problem.isEmpty()) {
        if (file.problem != m_actionsProblemSaid)
            logLine(lcApp, "Actions file not used: %@", file.problem);
        m_actionsProblemSaid = file.problem;
        menu.addSeparator();
        menu.addAction(tr("Your actions are not shown: %1").arg(file.problem))->setEnabled(false);
        return;
    }
    m_actionsProblemSaid.clear();
    if (!file.actions.isEmpty())
        menu.addSeparator();
    for (const RowAction &action : file.actions) {
        // A "&" in the user's name is no shortcut.
        QAction *item = menu.addAction(QString(action.name).replace(u'&', QStringLiteral("&&")));
        const ExpandedCommand command = expandCommand(action.command, record, label);
        if (command.arguments.isEmpty()) {
            item->setEnabled(false);
            item->setToolTip(command.unavailable);
            continue;
        }
        // With the device's record as it is when chosen: it may have moved meanwhile.
        QObject::connect(item, &QAction::triggered, &menu,
                onHeldDevice(held, [this, action](MainViewController &controller, int row) {
                    const Device now = controller.filteredDevices().at(row);
                    const LabelOf labelOf = controller.labelOf();
                    const QStringList arguments = expandCommand(action.command, *now, labelOf ? labelOf(*now) : QString()).arguments;
                    if (arguments.isEmpty())
                        return;
                    const ProgramStart start = startDetachedProgram(arguments);
                    if (!start.started)
                        m_say(action.name, tr("%1 could not be started: %2").arg(action.name, start.error));
                }));
    }
}
