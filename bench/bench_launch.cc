// The Photos app launched as a whole process (started, its libraries loaded,
// its screens built, told to quit, ended) on a phone with Velmo active, beside
// the same phone with Velmo switched off in Settings. Launches of the two
// alternate, so that both meet the same load on the machine; the figure is
// the active launch's time, and the counters give both medians.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "bench/support.h"
#include "platform/foundation/device.h"

extern char** environ;

namespace {

// Runs `argv` with `input` on its standard input and its output discarded;
// answers how long it ran, or -1 when it failed.
long long runTimed(const std::vector<std::string>& argv, const std::string& input) {
  int in[2];
  if (::pipe2(in, O_CLOEXEC) != 0) return -1;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in[0], 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  long long start = bench::nowNs();
  pid_t pid = -1;
  int spawned = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(in[0]);
  if (spawned == 0) {
    ssize_t ignored = ::write(in[1], input.data(), input.size());
    (void)ignored;
  }
  ::close(in[1]);
  int status = 0;
  if (spawned != 0 || ::waitpid(pid, &status, 0) != pid) return -1;
  long long took = bench::nowNs() - start;
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? took : -1;
}

void BM_PhotosLaunch(benchmark::State& state) {
  std::string program = bench::binFolder() + "/velmo-device";
  bench::ScratchDevice active, off;
  for (auto* phone : {&active, &off}) {
    if (runTimed({program, "init", "--root", phone->path()}, "") < 0) {
      return state.SkipWithError("velmo-device init failed");
    }
    device::setRoot(phone->path());
    bench::writeSettings(/*enabled=*/phone == &active);
  }
  std::vector<long long> active_ns, off_ns;
  bool active_first = true;
  for (auto _ : state) {
    long long a = 0, o = 0;
    for (int turn = 0; turn < 2; ++turn) {
      bool is_active = (turn == 0) == active_first;
      long long took =
          runTimed({program, "photos", "--root", (is_active ? active : off).path()}, "quit\n");
      (is_active ? a : o) = took;
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
