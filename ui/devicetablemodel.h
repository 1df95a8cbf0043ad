#pragma once

#include "platform/controls.h"

#include <QAbstractTableModel>

#include <memory>

// The table's model: asks the data source for the row count and the delegate for each
// cell, only as the view needs them, so a reload costs nothing per row. The columns and
// their titles are fixed: the text columns (deviceColumns), the label, then the "Open" buttons. An
// editable cell's new text goes to the delegate; one it refuses is said by editRefused.
// Main thread.
class DeviceTableModel final : public QAbstractTableModel {
    Q_OBJECT

public:
    // Whether a cell is a button, and the tag it carries.
    enum Role { CellKindRole = Qt::UserRole, TagRole };

    explicit DeviceTableModel(QObject *parent = nullptr);

    void setDataSource(std::weak_ptr<TableViewDataSource> dataSource);
    void setDelegate(std::weak_ptr<TableViewDelegate> delegate);
    const std::weak_ptr<TableViewDelegate> &delegate() const { return m_delegate; }
    // Everything is asked anew.
    void reload();

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    bool setData(const QModelIndex &index, const QVariant &value, int role) override;

signals:
    void editRefused(const QString &why);

private:
    std::weak_ptr<TableViewDataSource> m_dataSource;
    std::weak_ptr<TableViewDelegate> m_delegate;
};
