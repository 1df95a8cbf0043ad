#include "ui/mainwindow.h"

MainWindow::MainWindow(QWidget *parent) : QMainWindow(parent)
{
    setWindowTitle(QStringLiteral("Device Finder"));
    resize(800, 480);
}

void MainWindow::setContentView(QObject *view)
{
    if (auto *widget = qobject_cast<QWidget *>(view))
        setCentralWidget(widget);
}

QRectF MainWindow::frame() const
{
    return QRectF(geometry());
}

void MainWindow::setFrame(const QRectF &frame, bool display, bool /*animate*/)
{
    setGeometry(frame.toAlignedRect());
    if (display)
        update();
}
