// The Photos app launched as a whole process (started, its libraries loaded,
// its screens built, told to quit, ended) on a phone with Velmo active, beside
// the same phone with Velmo switched off in Settings. Launches of the two
// alternate, so that both meet the same load on the machine; the figure is
// the active launch's time, and the counters give both medians.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "bench/support.h"
#include "platform/foundation/device.h"

namespace {

// A launch: the Photos program started, answering, and quit. A failed launch
// fails the benchmark rather than being tried again.
long long launch(const std::string& program, const std::string& root) {
  return bench::runProgram({program, "photos", "--root", root}, "quit\n");
}

void BM_PhotosLaunch(benchmark::State& state) {
  std::string program = bench::binFolder() + "/velmo-device";
  bench::ScratchDevice active, off;
  for (auto* phone : {&active, &off}) {
    if (bench::runProgram({program, "init", "--root", phone->path()}, "") < 0) {
      return state.SkipWithError("velmo-device init failed");
    }
    device::setRoot(phone->path());
    bench::writeSettings(/*enabled=*/phone == &active);
  }
  // Velmo hooks the active phone's Photos and not the other's, or the two
  // figures compare nothing.
  for (auto* phone : {&active, &off}) {
    std::string hooks;
    if (bench::runProgram({program, "photos", "--root", phone->path()}, "hooks\nquit\n", &hooks) <
            0 ||
        (hooks.find("hook ") != std::string::npos) != (phone == &active)) {
      return state.SkipWithError("Velmo's hooks are not where the benchmark needs them");
    }
  }
  std::vector<long long> active_ns, off_ns;
  bool active_first = true;
  for (auto _ : state) {
    long long a = 0, o = 0;
    for (int turn = 0; turn < 2; ++turn) {
      bool is_active = (turn == 0) == active_first;
      (is_active ? a : o) = launch(program, (is_active ? active : off).path());
    }
    active_first = !active_first;
    if (a < 0 || o < 0) {
      state.SkipWithError("the Photos program failed");
      break;
    }
    active_ns.push_back(a);
    off_ns.push_back(o);
    state.SetIterationTime(static_cast<double>(a) * 1e-9);
  }
  state.counters["p50_ns"] = static_cast<double>(bench::percentile(active_ns, 0.5));
  state.counters["off_p50_ns"] = static_cast<double>(bench::percentile(off_ns, 0.5));
}
BENCHMARK(BM_PhotosLaunch)->UseManualTime()->Iterations(40)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
