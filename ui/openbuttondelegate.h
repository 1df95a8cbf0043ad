#pragma once

#include <QPersistentModelIndex>
#include <QPointer>
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
    void destroyEditor(QWidget *editor, const QModelIndex &index) const override;
    // The editor open now, and the device and column it edits, the device as the table
    // delegate's tableViewRowDevice gave it when the editor opened; none when none is open.
    QWidget *openEditor() const { return m_editor; }
    const QString &editedDevice() const { return m_editedDevice; }
    int editedColumn() const { return m_editedColumn; }

protected:
    bool editorEvent(QEvent *event, QAbstractItemModel *model, const QStyleOptionViewItem &option,
                     const QModelIndex &index) override;

private:
    static bool isButton(const QModelIndex &index);
    static QRect buttonRect(const QRect &cell);
    static void press(const QModelIndex &index);

    QPersistentModelIndex m_pressed;
    // Noted by the view's calls, which Qt declares const.
    mutable QPointer<QWidget> m_editor;
    mutable QString m_editedDevice;
    mutable int m_editedColumn = -1;
};
