#pragma once

#include "platform/controls.h"

#include <QPointer>
#include <QTableView>

class DeviceTableModel;
class OpenButtonDelegate;

// The device table as the controller drives it: reloading resets the model, and the sort
// order follows the clicks on the column headers, the column clicked last first and the
// ones clicked before it breaking ties; a second click on a column turns its direction.
// A label being edited stays open across a reload, on its device's row wherever that is
// now, with what was typed; it closes when the device is no longer shown. Holds its widget
// through a QPointer, so a call after the window has gone does nothing. Main thread.
class TableViewAdapter final : public TableView {
public:
    explicit TableViewAdapter(QTableView *table);

    void setDataSource(std::weak_ptr<TableViewDataSource> dataSource) override;
    void setDelegate(std::weak_ptr<TableViewDelegate> delegate) override;
    void reloadData() override;
    QList<SortDescriptor> sortDescriptors() const override { return m_sortDescriptors; }

private:
    void sortIndicatorChanged(int column, Qt::SortOrder order);

    QPointer<QTableView> m_table;
    QPointer<DeviceTableModel> m_model;
    QPointer<OpenButtonDelegate> m_cells;
    std::weak_ptr<TableViewDataSource> m_dataSource;
    QList<SortDescriptor> m_sortDescriptors;
    int m_sortColumn = -1;
    Qt::SortOrder m_sortOrder = Qt::AscendingOrder;
};
