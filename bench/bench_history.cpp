#include "history/devicehistory.h"

#include <QFileInfo>
#include <QJsonObject>
#include <QLoggingCategory>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

using namespace Qt::StringLiterals;

namespace {

// A run's devices as a discovery run finds them, each record about as large as a real one.
DeviceList devices(qsizetype count)
{
    DeviceList list;
    for (qsizetype i = 0; i < count; ++i) {
        const QString mac = u"02:00:5e:%1:%2:%3"_s.arg(i >> 16 & 0xff, 2, 16, QChar(u'0'))
                                .arg(i >> 8 & 0xff, 2, 16, QChar(u'0'))
                                .arg(i & 0xff, 2, 16, QChar(u'0'));
        list.append(std::make_shared<const DeviceRecord>(QJsonObject{
            {u"hostname"_s, u"corva-%1"_s.arg(i)}, {u"serialNumber"_s, u"1039%1"_s.arg(i, 7, 10, QChar(u'0'))},
            {u"ipAddress"_s, u"10.%1.%2.%3"_s.arg(i >> 16 & 0xff).arg(i >> 8 & 0xff).arg(i & 0xff)},
            {u"macAddress"_s, mac}, {u"deviceType"_s, u"RT-41"_s}, {u"uptime"_s, u"1d 02:03:04"_s},
            {u"redirectAddress"_s, u"corva-%1.lan"_s.arg(i)}, {u"tag"_s, u"2.4.1"_s}, {u"sha"_s, u"9f3c2e1"_s}}));
    }
    return list;
}

// What the end of a run costs on the main thread with a history of that many devices: read
// the file, judge the run (twelve devices), record it, write the file.
void runEnd(benchmark::State &state)
{
    const QTemporaryDir dir;
    const QString path = dir.filePath(u"history.json"_s);
    DeviceHistory filled;
    filled.record(devices(state.range(0)), true, QDateTime::currentDateTimeUtc().addSecs(-60));
    filled.save(path);
    const DeviceList run = devices(12);
    for (auto _ : state) {
        DeviceHistory history = DeviceHistory::load(path).history;
        benchmark::DoNotOptimize(history.changes(run, true));
        history.record(run, true, QDateTime::currentDateTimeUtc());
        history.save(path);
    }
    state.counters["fileKiB"] = double(QFileInfo(path).size()) / 1024;
}

void load(benchmark::State &state)
{
    const QTemporaryDir dir;
    const QString path = dir.filePath(u"history.json"_s);
    DeviceHistory filled;
    filled.record(devices(state.range(0)), true, QDateTime::currentDateTimeUtc());
    filled.save(path);
    for (auto _ : state)
        benchmark::DoNotOptimize(DeviceHistory::load(path).history.size());
}

} // namespace

BENCHMARK(runEnd)->Arg(100)->Arg(1'000)->Arg(10'000)->Unit(benchmark::kMillisecond);
BENCHMARK(load)->Arg(100)->Arg(10'000)->Unit(benchmark::kMillisecond);

int main(int argc, char **argv)
{
    QLoggingCategory::setFilterRules(u"*.info=false"_s);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
