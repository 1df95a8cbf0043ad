#include "controller/mainviewcontroller.h"
#include "ui/mainview.h"
#include "ui/mainwindow.h"

#include <QApplication>
#include <QHeaderView>
#include <QJsonObject>
#include <QTableView>

#include <benchmark/benchmark.h>

using namespace Qt::StringLiterals;

namespace {

// The window, offscreen, with `rows` devices listed and no run started.
struct Table {
    explicit Table(int rows)
    {
        controller->setViewLoader([](MainViewController &c) { return new MainView(c); });
        window.setContentView(controller->view());
        for (int i = 0; i < rows; ++i) {
            const QString n = QString::number(i);
            controller->addDevice(std::make_shared<const DeviceRecord>(QJsonObject{
                {u"hostname"_s, u"corva-room-"_s + n},
                {u"serialNumber"_s, u"1039"_s + n.rightJustified(7, u'0')},
                {u"ipAddress"_s, u"10.0.%1.%2"_s.arg(i / 256).arg(i % 256)},
                {u"macAddress"_s, u"02:00:5e:00:%1:%2"_s.arg(i / 256, 2, 16, QChar(u'0')).arg(i % 256, 2, 16, QChar(u'0'))},
                {u"tag"_s, u"2.4.1"_s},
                {u"deviceType"_s, u"RT-41"_s},
                {u"uptime"_s, u"1d 02:03:04"_s},
                {u"redirectAddress"_s, u"corva-room-"_s + n}}));
        }
        window.show();
        for (int i = 0; i < 10; ++i) // until the window is exposed and laid out
            QApplication::processEvents();
        table = window.findChild<QTableView *>(u"tableView"_s);
    }

    std::shared_ptr<MainViewController> controller =
        std::make_shared<MainViewController>(Address::ipv4(0x7FFF'FFFF), nullptr);
    MainWindow window;
    QTableView *table = nullptr;
};

// A reload as a search does it (the rows filtered anew and the model reset), and the paint
// of the rows that show.
void reloadAndPaint(benchmark::State &state)
{
    Table t(int(state.range(0)));
    for (auto _ : state) {
        t.controller->search({});
        t.table->viewport()->repaint();
    }
    state.counters["rows"] = double(t.table->model()->rowCount());
}
BENCHMARK(reloadAndPaint)->Arg(5000)->Unit(benchmark::kMillisecond);

// A click on a column header: the sort of every row, the reload and the paint.
void sortByHeader(benchmark::State &state)
{
    Table t(int(state.range(0)));
    int column = 0;
    for (auto _ : state) {
        t.table->horizontalHeader()->setSortIndicator(column, Qt::AscendingOrder);
        column = (column + 1) % 7;
        t.table->viewport()->repaint();
    }
}
BENCHMARK(sortByHeader)->Arg(5000)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
