#include "ui/openbuttondelegate.h"

#include "labels/labelsformat.h"
#include "ui/devicetablemodel.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QStyleOptionButton>
#include <QValidator>

bool OpenButtonDelegate::isButton(const QModelIndex &index)
{
    return index.data(DeviceTableModel::CellKindRole).toInt() == int(TableCell::Kind::Button);
}

QRect OpenButtonDelegate::buttonRect(const QRect &cell)
{
    return cell.adjusted(4, 2, -4, -2);
}

void OpenButtonDelegate::press(const QModelIndex &index)
{
    const auto *model = qobject_cast<const DeviceTableModel *>(index.model());
    if (!model)
        return;
    if (const auto delegate = model->delegate().lock())
        delegate->tableViewButtonPressed(index.data(DeviceTableModel::TagRole).toInt());
}

void OpenButtonDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    if (!isButton(index)) {
        QStyledItemDelegate::paint(painter, option, index);
        return;
    }
    QStyleOptionButton button;
    button.rect = buttonRect(option.rect);
    button.text = index.data(Qt::DisplayRole).toString();
    button.state = QStyle::State_Enabled | QStyle::State_Raised;
    if (option.state & QStyle::State_MouseOver)
        button.state |= QStyle::State_MouseOver;
    if (m_pressed == index)
        button.state |= QStyle::State_Sunken;
    if (option.state & QStyle::State_HasFocus)
        button.state |= QStyle::State_HasFocus;
    const QWidget *widget = option.widget;
    QStyle *style = widget ? widget->style() : QApplication::style();
    style->drawControl(QStyle::CE_PushButton, &button, painter, widget);
}

QSize OpenButtonDelegate::sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    if (!isButton(index))
        return QStyledItemDelegate::sizeHint(option, index);
    QStyleOptionButton button;
    button.text = index.data(Qt::DisplayRole).toString();
    const QSize text = option.fontMetrics.size(Qt::TextShowMnemonic, button.text);
    const QWidget *widget = option.widget;
    QStyle *style = widget ? widget->style() : QApplication::style();
    return style->sizeFromContents(QStyle::CT_PushButton, &button, text, widget) + QSize(8, 4);
}

namespace {

// What a label may hold, as the labels file takes it; a keystroke that would make it
// something else does not go in.
class LabelValidator final : public QValidator {
public:
    using QValidator::QValidator;

    State validate(QString &input, int &) const override
    {
        return input.isEmpty() || !labelProblem(input) ? Acceptable : Invalid;
    }
};

} // namespace

QWidget *OpenButtonDelegate::createEditor(QWidget *parent, const QStyleOptionViewItem &option,
                                          const QModelIndex &index) const
{
    QWidget *editor = QStyledItemDelegate::createEditor(parent, option, index);
    if (auto *line = qobject_cast<QLineEdit *>(editor))
        line->setValidator(new LabelValidator(line));
    // Taken now, while the row still shows the device: a reload comes after the change.
    const auto *model = qobject_cast<const DeviceTableModel *>(index.model());
    const auto delegate = model ? model->delegate().lock() : nullptr;
    m_editor = editor;
    m_editedDevice = delegate ? delegate->tableViewRowDevice(index.row()) : QString();
    m_editedColumn = index.column();
    return editor;
}

void OpenButtonDelegate::destroyEditor(QWidget *editor, const QModelIndex &index) const
{
    if (editor == m_editor) {
        m_editor = nullptr;
        m_editedDevice.clear();
    }
    QStyledItemDelegate::destroyEditor(editor, index);
}

bool OpenButtonDelegate::editorEvent(QEvent *event, QAbstractItemModel *model, const QStyleOptionViewItem &option,
                                     const QModelIndex &index)
{
    if (!isButton(index))
        return QStyledItemDelegate::editorEvent(event, model, option, index);
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick: {
        const auto *mouse = static_cast<QMouseEvent *>(event);
        if (mouse->button() != Qt::LeftButton || !buttonRect(option.rect).contains(mouse->position().toPoint()))
            return false;
        m_pressed = index;
        return true;
    }
    case QEvent::MouseButtonRelease: {
        const auto *mouse = static_cast<QMouseEvent *>(event);
        const bool wasPressed = m_pressed == index;
        m_pressed = QPersistentModelIndex();
        if (mouse->button() == Qt::LeftButton && wasPressed && buttonRect(option.rect).contains(mouse->position().toPoint()))
            press(index);
        return wasPressed;
    }
    case QEvent::KeyPress: {
        const int key = static_cast<QKeyEvent *>(event)->key();
        if (key != Qt::Key_Space && key != Qt::Key_Return && key != Qt::Key_Enter)
            return false;
        press(index);
        return true;
    }
    default:
        return false;
    }
}
