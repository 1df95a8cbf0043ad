#pragma once

#include <QObject>
#include <QRectF>

// The main window as the start-up sequence uses it. Main thread only.
class Window {
public:
    virtual ~Window() = default;
    // Makes the view (a widget of the window's toolkit) the window's content.
    virtual void setContentView(QObject *view) = 0;
    virtual QRectF frame() const = 0;
    virtual void setFrame(const QRectF &frame, bool display, bool animate) = 0;
};
