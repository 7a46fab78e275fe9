// The cost of a message send: a cached send beside a C++ virtual call doing
// the same work, a send that walks to an inherited method, a send to nil, a
// send whose selector is known only at run time, and a send right after a
// cache flush.
#include <benchmark/benchmark.h>

#include "bench/virtual_counter.h"
#include "platform/objc/nsobject.h"

namespace {

struct Counter : NSObject {
  long n = 0;
};

Class counterClass() {
  static Class cls = [] {
    Class c = objc::defineClass<Counter>("BenchCounter", objc::nsobjectClass());
    addMethod(
        c, "bump:"_sel,
        +[](id self, SEL, long by) -> long { return static_cast<Counter*>(self)->n += by; });
    return objc::defineClass<Counter>("BenchLeaf", objc::defineClass<Counter>("BenchMiddle", c));
  }();
  return cls;
}

void BM_CachedSend(benchmark::State& state) {
  counterClass();
  Strong<objc_object> obj = allocInit(objc_getClass("BenchCounter"));
  for (auto _ : state) benchmark::DoNotOptimize(msg<long>(obj, "bump:"_sel, 1L));
}
BENCHMARK(BM_CachedSend);

void BM_VirtualCall(benchmark::State& state) {
  std::unique_ptr<bench::Bumper> bumper = bench::newCountingBumper();
  bench::Bumper* p = bumper.get();
  for (auto _ : state) {
    benchmark::DoNotOptimize(p);  // the object's type is unknown at every call
    benchmark::DoNotOptimize(p->bump(1));
  }
}
BENCHMARK(BM_VirtualCall);

void BM_InheritedSend(benchmark::State& state) {
  Strong<objc_object> obj = allocInit(counterClass());  // two levels below the method
  for (auto _ : state) benchmark::DoNotOptimize(msg<long>(obj, "bump:"_sel, 1L));
}
BENCHMARK(BM_InheritedSend);

void BM_SendToNil(benchmark::State& state) {
  id nothing = nullptr;
  benchmark::DoNotOptimize(nothing);
  for (auto _ : state) benchmark::DoNotOptimize(msg<long>(nothing, "bump:"_sel, 1L));
}
BENCHMARK(BM_SendToNil);

void BM_SendOfARunTimeSelector(benchmark::State& state) {
  counterClass();
  Strong<objc_object> obj = allocInit(objc_getClass("BenchCounter"));
  SEL bump = sel_registerName("bump:");
  benchmark::DoNotOptimize(bump);
  for (auto _ : state) benchmark::DoNotOptimize(msg<long>(obj, bump, 1L));
}
BENCHMARK(BM_SendOfARunTimeSelector);

void BM_SendAfterFlush(benchmark::State& state) {
  Strong<objc_object> obj = allocInit(counterClass());
  Class cls = counterClass();
  for (auto _ : state) {
    // Adding a method flushes every cache; the next send fills it again.
    state.PauseTiming();
    class_replaceMethod(cls, "noop"_sel, reinterpret_cast<IMP>(+[](id, SEL) {}), typeid(void()));
    state.ResumeTiming();
    benchmark::DoNotOptimize(msg<long>(obj, "bump:"_sel, 1L));
  }
}
BENCHMARK(BM_SendAfterFlush);

}  // namespace

BENCHMARK_MAIN();
