#pragma once

#include "platform/window.h"

#include <QMainWindow>

// The tool's one window.
class MainWindow final : public QMainWindow, public Window {
    Q_OBJECT

public:
    explicit MainWindow(QWidget *parent = nullptr);

    void setContentView(QObject *view) override;
    QRectF frame() const override;
    void setFrame(const QRectF &frame, bool display, bool animate) override;
};
