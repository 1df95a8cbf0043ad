#include "ui/devicetablemodel.h"

#include "model/devicecolumns.h"

#include <QFont>

namespace {

// A tooltip renders a text that looks like markup as markup; device texts come from the
// network, so they go in escaped, inside markup that keeps their spaces and line breaks.
QString plainToolTip(const QString &text)
{
    return QStringLiteral("<p style='white-space:pre-wrap'>") + text.toHtmlEscaped() + QStringLiteral("</p>");
}

// A device may send thousands of characters as any of its texts: a cell shows at most this
// many, the last an ellipsis, and its tooltip and accessible text the whole.
constexpr qsizetype shownCharacters = 64;

QString shownText(const QString &text)
{
    // Counted by character, so that no cut falls between the halves of a surrogate pair.
    qsizetype kept = 0; // the code units of the characters kept before the ellipsis
    qsizetype at = 0;
    for (qsizetype characters = 0; at < text.size(); ++characters) {
        if (characters == shownCharacters)
            return text.first(kept) + QChar(0x2026);
        if (characters == shownCharacters - 1)
            kept = at;
        at += text.at(at).isHighSurrogate() && at + 1 < text.size() && text.at(at + 1).isLowSurrogate() ? 2 : 1;
    }
    return text;
}

} // namespace

DeviceTableModel::DeviceTableModel(QObject *parent) : QAbstractTableModel(parent) {}

void DeviceTableModel::setDataSource(std::weak_ptr<TableViewDataSource> dataSource)
{
    beginResetModel();
    m_dataSource = std::move(dataSource);
    endResetModel();
}

void DeviceTableModel::setDelegate(std::weak_ptr<TableViewDelegate> delegate)
{
    beginResetModel();
    m_delegate = std::move(delegate);
    endResetModel();
}

void DeviceTableModel::reload()
{
    beginResetModel();
    endResetModel();
}

int DeviceTableModel::rowCount(const QModelIndex &parent) const
{
    const auto dataSource = m_dataSource.lock();
    return parent.isValid() || !dataSource ? 0 : int(dataSource->numberOfRowsInTableView());
}

int DeviceTableModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : openColumn + 1;
}

QVariant DeviceTableModel::data(const QModelIndex &index, int role) const
{
    // A view asks for many roles per cell as it paints; only these few build the cell.
    if (role != Qt::DisplayRole && role != Qt::EditRole && role != Qt::ToolTipRole && role != Qt::FontRole
        && role != CellKindRole && role != TagRole && role != Qt::AccessibleTextRole
        && role != Qt::AccessibleDescriptionRole)
        return {};
    const auto delegate = m_delegate.lock();
    if (!delegate || !index.isValid())
        return {};
    const TableCell cell = delegate->tableViewCell(index.column(), index.row());
    switch (role) {
    case Qt::DisplayRole:
        return cell.kind == TableCell::Kind::Text ? shownText(cell.text) : cell.text;
    case Qt::EditRole: // the editor, and whoever needs the text, has it whole
        return cell.text;
    case Qt::ToolTipRole: // the whole text, where a narrow column cuts it short, and why it is marked
        if (cell.kind != TableCell::Kind::Text || (cell.text.isEmpty() && cell.note.isEmpty()))
            return {};
        return plainToolTip(cell.note.isEmpty() ? cell.text : cell.note + u'\n' + cell.text);
    case Qt::FontRole: {
        if (!cell.bold && !cell.italic)
            return {};
        QFont font;
        font.setBold(cell.bold);
        font.setItalic(cell.italic);
        return font;
    }
    case Qt::AccessibleTextRole: // a screen reader has the whole text, and which device a button opens
        if (cell.kind != TableCell::Kind::Button)
            return cell.text;
        return tr("Open %1").arg(index.siblingAtColumn(hostnameColumn).data(Qt::EditRole).toString()).trimmed();
    case Qt::AccessibleDescriptionRole:
        return cell.kind == TableCell::Kind::Button ? tr("Opens the device's web page in the browser") : QVariant();
    case CellKindRole:
        return int(cell.kind);
    default:
        return cell.tag;
    }
}

QVariant DeviceTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || section < 0 || section > openColumn)
        return {};
    if (role == Qt::DisplayRole && section < textColumnCount)
        return deviceColumns.at(std::size_t(section)).title.toString();
    if (role == Qt::DisplayRole)
        return section == labelColumn ? tr("Label") : QString();
    if (role == Qt::AccessibleTextRole && section == openColumn)
        return tr("Open");
    if (role == Qt::InitialSortOrderRole)
        return int(Qt::AscendingOrder);
    return {};
}

Qt::ItemFlags DeviceTableModel::flags(const QModelIndex &index) const
{
    // Enabled, never selectable: the delegate says no row may be selected.
    const auto delegate = m_delegate.lock();
    if (!index.isValid())
        return Qt::NoItemFlags;
    Qt::ItemFlags flags = Qt::ItemIsEnabled;
    if (delegate && delegate->selectionShouldChangeInTableView())
        flags |= Qt::ItemIsSelectable;
    if (delegate && index.column() == labelColumn && delegate->tableViewCell(index.column(), index.row()).editable)
        flags |= Qt::ItemIsEditable;
    return flags;
}

bool DeviceTableModel::setData(const QModelIndex &index, const QVariant &value, int role)
{
    const auto delegate = m_delegate.lock();
    if (role != Qt::EditRole || !delegate || !index.isValid())
        return false;
    const QString why = delegate->tableViewSetCellText(index.column(), index.row(), value.toString());
    if (!why.isEmpty())
        emit editRefused(why);
    return why.isEmpty();
}
