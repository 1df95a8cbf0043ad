#pragma once

#include <QPersistentModelIndex>
#include <QStyledItemDelegate>

// Draws the cells that hold a button as push buttons, and presses them: a click, or Space
// or Enter on the current cell, calls the table delegate's button action with the cell's
// tag. One delegate draws every row, so a table of thousands of rows holds no widget per
// row. An editable cell (the label) is edited in a line that takes only what a label may
// hold. Main thread.
class OpenButtonDelegate final : public QStyledItemDelegate {
    Q_OBJECT

public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    QWidget *createEditor(QWidget *parent, const QStyleOptionViewItem &option, const QModelIndex &index) const override;

protected:
    bool editorEvent(QEvent *event, QAbstractItemModel *model, const QStyleOptionViewItem &option,
                     const QModelIndex &index) override;

private:
    static bool isButton(const QModelIndex &index);
    static QRect buttonRect(const QRect &cell);
    static void press(const QModelIndex &index);

    QPersistentModelIndex m_pressed;
};
