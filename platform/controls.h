#pragma once

#include <QList>
#include <QString>
#include <QtGlobal>

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
};

// How a column sorts its values: numbers by value, texts by a case-insensitive comparison
// that reads digit runs as numbers ("10.0.0.9" before "10.0.0.10"), a missing value first.
struct SortDescriptor {
    QString key;
    bool ascending = true;
    enum class Comparison { Natural } comparison = Comparison::Natural;
};

class TableView {
public:
    virtual ~TableView() = default;
    // Asks the data source for the row count and every visible cell anew.
    virtual void reloadData() = 0;
    // The sort order the user chose by clicking column headers, most significant first.
    virtual QList<SortDescriptor> sortDescriptors() const = 0;
};

// Runs use(control) when the control still exists.
template <typename Control, typename Use>
void withControl(const std::weak_ptr<Control> &reference, Use &&use)
{
    if (const std::shared_ptr<Control> control = reference.lock())
        use(*control);
}
