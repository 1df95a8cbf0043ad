#include "scan/rangelist.h"

#include <QLoggingCategory>

#include <benchmark/benchmark.h>

#include <sys/resource.h>

using namespace Qt::StringLiterals;

namespace {

double peakMegabytes()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_maxrss) / 1024; // kilobytes on Linux
}

// The walk as the scan thread makes it: one address at a time, each copied.
void walk(benchmark::State &state, const QStringList &texts)
{
    const RangeListResult built = rangeListFromTexts(texts);
    if (!built) {
        state.SkipWithError(qPrintable(built.reason()));
        return;
    }
    const RangeList &list = *built;
    qint64 addresses = 0;
    for (auto _ : state) {
        for (const Address &address : list) {
            Address kept = address;
            benchmark::DoNotOptimize(kept);
        }
        addresses += list.size();
    }
    state.counters["addresses/s"] = benchmark::Counter(double(addresses), benchmark::Counter::kIsRate);
    state.counters["peak_MB"] = peakMegabytes();
}

void walkSlash8(benchmark::State &state)
{
    walk(state, {u"10.0.0.0/08"_s});
}

// The /9 adds nothing: it lies inside the /8.
void walkSlash8AndSlash9Inside(benchmark::State &state)
{
    walk(state, {u"10.0.0.0/08"_s, u"10.128.0.0/09"_s});
}

// The /8 walks around the /9 given first.
void walkSlash9ThenSlash8(benchmark::State &state)
{
    walk(state, {u"10.128.0.0/09"_s, u"10.0.0.0/08"_s});
}

// Ten thousand /24s spread over the /8 that comes after them.
void walkManyRangesThenSlash8(benchmark::State &state)
{
    QStringList texts;
    for (int i = 0; i < 10'000; ++i)
        texts.append(u"10.%1.%2.0/24"_s.arg(i * 7 % 256).arg(i * 13 % 256));
    texts.append(u"10.0.0.0/08"_s);
    walk(state, texts);
}

// Building the list of many ranges, without walking it.
void buildManyRanges(benchmark::State &state)
{
    QStringList texts;
    for (int i = 0; i < 65'536; ++i)
        texts.append(u"10.%1.%2.%3"_s.arg(i % 256).arg(i / 256).arg(i * 7 % 256));
    for (auto _ : state) {
        const RangeListResult built = rangeListFromTexts(texts);
        benchmark::DoNotOptimize(built->size());
    }
    state.counters["peak_MB"] = peakMegabytes();
}

} // namespace

BENCHMARK(walkSlash8)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(walkSlash8AndSlash9Inside)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(walkSlash9ThenSlash8)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(walkManyRangesThenSlash8)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(buildManyRanges)->Unit(benchmark::kMillisecond)->UseRealTime();

int main(int argc, char **argv)
{
    // One notation line per range would only measure the log.
    QLoggingCategory::setFilterRules(u"devicefinder.*=false"_s);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
