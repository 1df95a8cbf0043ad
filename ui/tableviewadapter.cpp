#include "ui/tableviewadapter.h"

#include "model/devicecolumns.h"
#include "ui/devicetablemodel.h"
#include "ui/openbuttondelegate.h"

#include <QHeaderView>
#include <QLineEdit>

#include <array>

namespace {

// Widths that fit what a column usually holds, measured in the table's own font; the
// user may drag them wider. Uniform row heights keep scrolling cheap however many rows.
void sizeColumns(QTableView &table)
{
    const QFontMetrics metrics = table.fontMetrics();
    static const std::array<QString, openColumn + 1> typical{
        QStringLiteral("corva-conference-room"), QStringLiteral("10391234567"), QStringLiteral("255.255.255.255"),
        QStringLiteral("00:00:00:00:00:00"),     QStringLiteral("2.10.1-beta"), QStringLiteral("RT-42C"),
        QStringLiteral("9999d 23:59:59"),        QStringLiteral("Roof gateway"), QStringLiteral("Open")};
    QHeaderView *header = table.horizontalHeader();
    for (int column = 0; column <= openColumn; ++column) {
        const QString title = table.model()->headerData(column, Qt::Horizontal, Qt::DisplayRole).toString();
        const int text = std::max(metrics.horizontalAdvance(typical.at(std::size_t(column))),
                                  metrics.horizontalAdvance(title) + 24); // room for the sort arrow
        header->resizeSection(column, text + 24);
    }
    header->setStretchLastSection(false);
    header->setSectionResizeMode(QHeaderView::Interactive);
    header->setSectionResizeMode(0, QHeaderView::Stretch);
    header->setSectionResizeMode(openColumn, QHeaderView::Fixed);
    header->setMinimumSectionSize(metrics.horizontalAdvance(QStringLiteral("MMMM")));
    table.verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    table.verticalHeader()->setDefaultSectionSize(metrics.height() + 12);
}

} // namespace

TableViewAdapter::TableViewAdapter(QTableView *table)
    : m_table(table), m_model(new DeviceTableModel(table)), m_cells(new OpenButtonDelegate(table))
{
    table->setModel(m_model);
    table->setItemDelegate(m_cells);
    table->setMouseTracking(true); // the buttons light up under the pointer
    table->setSelectionMode(QAbstractItemView::NoSelection);
    // The label is edited in place: a double click or F2, Return keeps, Escape cancels.
    table->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed);
    QHeaderView *header = table->horizontalHeader();
    header->setSectionsMovable(false); // cells follow their column's place
    header->setSectionsClickable(true);
    header->setSortIndicatorShown(true);
    header->setSortIndicator(-1, Qt::AscendingOrder);
    sizeColumns(*table);
    QObject::connect(header, &QHeaderView::sortIndicatorChanged, table,
                     [this](int column, Qt::SortOrder order) { sortIndicatorChanged(column, order); });
}

void TableViewAdapter::setDataSource(std::weak_ptr<TableViewDataSource> dataSource)
{
    m_dataSource = dataSource;
    if (m_model)
        m_model->setDataSource(std::move(dataSource));
}

void TableViewAdapter::setDelegate(std::weak_ptr<TableViewDelegate> delegate)
{
    if (m_model)
        m_model->setDelegate(std::move(delegate));
}

void TableViewAdapter::reloadData()
{
    if (!m_model)
        return;
    // The reset closes the editor; what it held is taken first.
    auto *line = m_cells ? qobject_cast<QLineEdit *>(m_cells->openEditor()) : nullptr;
    const int column = line ? m_cells->editedColumn() : -1;
    const QString device = line ? m_cells->editedDevice() : QString();
    const QString text = line ? line->text() : QString();
    const int cursor = line ? line->cursorPosition() : 0;
    const int selectionStart = line ? line->selectionStart() : -1;
    const int selectionLength = line ? line->selectionLength() : 0;
    m_model->reload();

    const auto delegate = m_model->delegate().lock();
    const int row = delegate && !device.isEmpty() ? delegate->tableViewRowOfDevice(device) : -1;
    if (row < 0 || !m_table)
        return;
    const QModelIndex cell = m_model->index(row, column);
    m_table->setCurrentIndex(cell);
    m_table->edit(cell);
    if (auto *reopened = qobject_cast<QLineEdit *>(m_cells->openEditor()); reopened && reopened != line) {
        reopened->setText(text);
        if (selectionStart >= 0)
            reopened->setSelection(selectionStart, selectionLength);
        else
            reopened->setCursorPosition(cursor);
    }
}

void TableViewAdapter::sortIndicatorChanged(int column, Qt::SortOrder order)
{
    if (!m_table)
        return;
    if (column < 0 || column == openColumn) {
        // The buttons do not sort: the header keeps showing the order in force.
        const QSignalBlocker blocker(m_table->horizontalHeader());
        m_table->horizontalHeader()->setSortIndicator(m_sortColumn, m_sortOrder);
        return;
    }
    m_sortColumn = column;
    m_sortOrder = order;
    const QString key = (column == labelColumn ? DeviceKey::label : deviceColumns.at(std::size_t(column)).key).toString();
    m_sortDescriptors.removeIf([&](const SortDescriptor &descriptor) { return descriptor.key == key; });
    m_sortDescriptors.prepend({key, order == Qt::AscendingOrder});
    if (const auto dataSource = m_dataSource.lock())
        dataSource->tableViewSortDescriptorsDidChange();
}
