#pragma once

#include <QCoreApplication>
#include <QString>

#include <functional>
#include <memory>

class DeviceRecord;
class MainViewController;
class QMenu;
class QPoint;
class QTableView;
class QWidget;

// A row's menu (right click, the Menu key, Shift+F10): opens, copies and labels its device,
// leaves it out of watching, shows its history (the presence log's), and runs the user's own actions on it (read afresh each time; a
// bad actions file shows why in the menu, and is logged once). The menu holds its device, not
// the row: a run may reorder or reload the table meanwhile. Main thread.
class RowMenu final {
    Q_DECLARE_TR_FUNCTIONS(RowMenu)

public:
    // `say` shows a problem to the user: a title and a line of plain text.
    using Say = std::function<void(const QString &title, const QString &text)>;
    RowMenu(MainViewController &controller, QTableView *table, QWidget *parent, Say say);

    // The menu of the row at `at` in the table's viewport, or for the keyboard's menu the
    // current row's, until it closes.
    void exec(const QPoint &at);
    // The History dialog of the device with this MAC address, named `name`, from the presence log.
    void showHistory(const QString &mac, const QString &name);

private:
    void addUserActions(QMenu &menu, const DeviceRecord &record, const QString &label, const QString &held);
    // A menu item's action on the device the menu holds (see tableViewRowDevice), at the row
    // that shows it when the item is chosen; nothing once it is no longer shown.
    std::function<void()> onHeldDevice(const QString &held, std::function<void(MainViewController &, int row)> act) const;

    std::weak_ptr<MainViewController> m_controller;
    QTableView *m_table;
    QWidget *m_parent;
    Say m_say;
    QString m_actionsProblemSaid; // the bad actions file's problem last logged
};
