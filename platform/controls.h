#pragma once

#include <QList>
#include <QString>
#include <QUrl>
#include <QtGlobal>

#include <functional>
#include <memory>

// What the controller drives of the window's controls. The window implements these with
// real widgets; the controller holds them by weak reference, so a control that has gone
// (or a run without a window) makes each use do nothing. Main thread only.

// An ARGB colour, 0xAARRGGBB.
using Color = quint32;
inline constexpr Color systemOrangeColor = 0xFFFF9500;

class PushButton {
public:
    virtual ~PushButton() = default;
    virtual void setTitle(const QString &title) = 0;
    virtual void setEnabled(bool enabled) = 0;
};

class ProgressIndicator {
public:
    virtual ~ProgressIndicator() = default;
    virtual void setHidden(bool hidden) = 0;
    virtual void startAnimation() = 0;
    virtual void stopAnimation() = 0;
};

// A control that is there only while a run is in progress, such as the window's Stop
// button: shown and usable while available, hidden otherwise.
class RunControl {
public:
    virtual ~RunControl() = default;
    virtual void setAvailable(bool available) = 0;
};

class TextField {
public:
    virtual ~TextField() = default;
    virtual QString stringValue() const = 0;
    virtual void setStringValue(const QString &text) = 0;
    virtual Color textColor() const = 0;
    virtual void setTextColor(Color color) = 0;
};

class SearchField {
public:
    virtual ~SearchField() = default;
    virtual QString stringValue() const = 0;
    // What the field does as its text changes: it hands the action its text.
    virtual void setAction(std::function<void(const QString &text)> action) = 0;
};

// One key of the order the user chose for the table's rows.
struct SortDescriptor {
    QString key;
    bool ascending = true;
};

// A line of plain text under the table, one part of which may be a link; what the link
// does is the window's to say. An empty text hides the line.
class InfoLine {
public:
    virtual ~InfoLine() = default;
    virtual void setText(const QString &text, const QString &link) = 0;
};

// What a cell of the table holds: a text, or a push button that carries a tag (its row)
// and calls its action with it when pressed. A text may be set in bold or in italics, with a
// note that says why.
struct TableCell {
    enum class Kind { Text, Button } kind = Kind::Text;
    QString text; // the text, or the button's title
    int tag = 0;
    bool bold = false;
    bool italic = false;
    QString note;
    bool editable = false; // a text the user may edit in place
};

// What the table asks of its data source: how many rows, and word that the user changed
// the sort order.
class TableViewDataSource {
public:
    virtual ~TableViewDataSource() = default;
    virtual qsizetype numberOfRowsInTableView() const = 0;
    virtual void tableViewSortDescriptorsDidChange() = 0;
};

// What the table asks of its delegate: what each cell shows, whether a row may be selected,
// and what a cell's button does.
class TableViewDelegate {
public:
    virtual ~TableViewDelegate() = default;
    // The cell at a column's position in the table's present order and a row.
    virtual TableCell tableViewCell(int column, int row) const = 0;
    virtual bool selectionShouldChangeInTableView() const = 0;
    // A cell button's action, given the button's tag.
    virtual void tableViewButtonPressed(int tag) = 0;
    // The user's new text for an editable cell; why it was not taken, or empty.
    virtual QString tableViewSetCellText(int column, int row, const QString &text) = 0;
    // Which device a row shows, in a form that outlives a reload and a new order, so that a
    // menu or an editor opened on the row stays with its device; empty for no row.
    virtual QString tableViewRowDevice(int row) const = 0;
    // The row that shows that device now; -1 when none does.
    virtual int tableViewRowOfDevice(const QString &device) const = 0;
};

class TableView {
public:
    virtual ~TableView() = default;
    // Held weakly: a table outliving them shows nothing and does nothing.
    virtual void setDataSource(std::weak_ptr<TableViewDataSource> dataSource) = 0;
    virtual void setDelegate(std::weak_ptr<TableViewDelegate> delegate) = 0;
    // Asks the data source for the row count and every visible cell anew.
    virtual void reloadData() = 0;
    // The sort order the user chose by clicking column headers, most significant first.
    virtual QList<SortDescriptor> sortDescriptors() const = 0;
};

// Tells the user of changes while the window may be out of sight: a desktop notification,
// its body as markup for a service that takes it and as plain text for one that does not.
class ChangeNotifier {
public:
    virtual ~ChangeNotifier() = default;
    virtual void notify(const QString &summary, const QString &markupBody, const QString &plainBody) = 0;
};

// Opens a URL with the user's default handler for its scheme: the web browser for http.
class Workspace {
public:
    virtual ~Workspace() = default;
    virtual void openURL(const QUrl &url) = 0;
};

// Runs use(control) when the control still exists.
template <typename Control, typename Use>
void withControl(const std::weak_ptr<Control> &reference, Use &&use)
{
    if (const std::shared_ptr<Control> control = reference.lock())
        use(*control);
}
