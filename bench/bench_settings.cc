// The platform's string conversions, which every settings reload runs.
#include <benchmark/benchmark.h>

#include "platform/foundation/nsstring.h"

namespace {

void BM_BoolValue(benchmark::State& state) {
  objc::AutoreleasePool pool;
  NSString* s = foundation::makeString("  +0001");
  for (auto _ : state) benchmark::DoNotOptimize(msg<BOOL>(s, "boolValue"_sel));
}
BENCHMARK(BM_BoolValue);

void BM_LongLongValue(benchmark::State& state) {
  objc::AutoreleasePool pool;
  NSString* s = foundation::makeString("-9223372036854775808");
  for (auto _ : state) benchmark::DoNotOptimize(msg<long long>(s, "longLongValue"_sel));
}
BENCHMARK(BM_LongLongValue);

void BM_FloatValue(benchmark::State& state) {
  objc::AutoreleasePool pool;
  NSString* s = foundation::makeString("16.4.1");
  for (auto _ : state) benchmark::DoNotOptimize(msg<float>(s, "floatValue"_sel));
}
BENCHMARK(BM_FloatValue);

}  // namespace

BENCHMARK_MAIN();
