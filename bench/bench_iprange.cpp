#include "scan/rangeexpression.h"

#include <QLoggingCategory>

#include <benchmark/benchmark.h>

#include <sys/resource.h>

using namespace Qt::StringLiterals;

namespace {

const QString slash8 = u"10.0.0.0/08"_s;

double peakMegabytes()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_maxrss) / 1024; // kilobytes on Linux
}

// Learning the count must not depend on the count.
void expandSlash8(benchmark::State &state)
{
    for (auto _ : state) {
        const IpRange range = get_ip_range(slash8);
        benchmark::DoNotOptimize(range.size());
    }
}

void expandAndEnumerateSlash8(benchmark::State &state)
{
    qint64 addresses = 0;
    qsizetype characters = 0;
    for (auto _ : state) {
        const IpRange range = get_ip_range(slash8);
        for (const QString &address : range)
            characters += address.size();
        addresses += range.size();
    }
    benchmark::DoNotOptimize(characters);
    state.counters["addresses/s"] = benchmark::Counter(double(addresses), benchmark::Counter::kIsRate);
    state.counters["peak_MB"] = peakMegabytes();
}

// What a caller pays when it keeps each text, as a scan task does.
void enumerateSlash8KeepingCopies(benchmark::State &state)
{
    qint64 addresses = 0;
    for (auto _ : state) {
        const IpRange range = get_ip_range(slash8);
        for (const QString &address : range) {
            QString kept = address;
            benchmark::DoNotOptimize(kept);
        }
        addresses += range.size();
    }
    state.counters["addresses/s"] = benchmark::Counter(double(addresses), benchmark::Counter::kIsRate);
    state.counters["peak_MB"] = peakMegabytes();
}

void elementsOfSlash8(benchmark::State &state)
{
    const IpRange range = get_ip_range(slash8);
    qint64 i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(range.at(i));
        i = (i + 7919) % range.size();
    }
    state.counters["peak_MB"] = peakMegabytes();
}

} // namespace

BENCHMARK(expandSlash8);
BENCHMARK(expandAndEnumerateSlash8)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(enumerateSlash8KeepingCopies)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(elementsOfSlash8);

int main(int argc, char **argv)
{
    // One notation line per iteration would only measure the log.
    QLoggingCategory::setFilterRules(u"devicefinder.*=false"_s);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
