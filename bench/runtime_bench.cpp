// The runtime's own costs: creating an object by identifier (registry lookup, dlopen,
// factory), one late-bound call, and number <-> text conversions.
// Uses the runtime tests' component "Zembra.RuntimeTest", registered by the build.
#include <benchmark/benchmark.h>

#include <zembra/runtime.hpp>

namespace {

void CreateObject(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(zembra::createObject("Zembra.RuntimeTest"));
}
BENCHMARK(CreateObject);

// With one object alive the library stays loaded, so this is lookup and factory only.
void CreateObjectLibraryLoaded(benchmark::State& state) {
    const zembra::Object keep = zembra::createObject("Zembra.RuntimeTest");
    for (auto _ : state) benchmark::DoNotOptimize(zembra::createObject("Zembra.RuntimeTest"));
}
BENCHMARK(CreateObjectLibraryLoaded);

void LateBoundCall(benchmark::State& state) {
    zembra::Object object = zembra::createObject("Zembra.RuntimeTest");
    std::vector<zembra::Variant> args{zembra::Variant(1.5), zembra::Variant(2.5)};
    for (auto _ : state) benchmark::DoNotOptimize(object.call("add", args));
}
BENCHMARK(LateBoundCall);

void FormatNumber(benchmark::State& state) {
    double value = 39.9275851696165;
    for (auto _ : state) benchmark::DoNotOptimize(zembra::formatNumber(value));
}
BENCHMARK(FormatNumber);

void ParseNumber(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(zembra::parseNumber(" -74.0059731 "));
}
BENCHMARK(ParseNumber);

}  // namespace

BENCHMARK_MAIN();
