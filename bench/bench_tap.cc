// What the hooks add to the Photos app's everyday work: a tap on an ordinary
// album (opened and closed again) and the configuration of an album row's
// cell, on the app as it is and with Velmo loaded and active (the Recently
// Deleted lock and the lock glyph on, so the hooks take their longest
// ordinary path).
//
// Loading is for good, so the two apps are two processes: this program
// started again with --serve hooked|unhooked, each on a phone of its own. It
// answers "tap N" and "cell N" with the CPU time one of N operations took.
// The benchmarks ask the two in turns, swapping which goes first, so that a
// shared machine's changing load falls on both alike; the counters are each
// side's median over the rounds.
#include <benchmark/benchmark.h>
#include <dlfcn.h>
#include <sched.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "bench/support.h"
#include "platform/foundation/device.h"
#include "platform/photos/photos_app.h"
#include "platform/substrate/substrate.h"
#include "platform/uikit/uicolor.h"

namespace {

constexpr int kRounds = 15;
constexpr long kTapsPerRound = 100000;
constexpr long kCellsPerRound = 100000;

long long threadCpuNs() {
  timespec t{};
  ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<long long>(t.tv_sec) * 1000000000LL + t.tv_nsec;
}

// --serve: one Photos app on a scratch phone, hooked or not, timing what it
// is asked to do. Prints "ready", then one line per request: nanoseconds per
// operation, or "error: ..." and exits.
int serve(bool hooked) {
  bench::ScratchDevice root;
  device::setRoot(root.path());
  bench::setUpPhone();
  bench::writeSettings(/*enabled=*/true);
  bench::becomePhotos();
  photos::PhotosApp app(nullptr);
  app.albums();  // the list's items, made as the app draws the list
  id favorites = photos::listItemTitled(app.gadget(), "Favorites");
  Strong<PXNavigationListCell> cell = photos::newConfiguredCell(app.gadget(), favorites);
  if (hooked) {
    if (::dlopen((bench::libFolder() + "/Velmo.dylib").c_str(), RTLD_NOW) == nullptr) {
      std::printf("error: %s\n", ::dlerror());
      return 1;
    }
    // A library that stayed inert would make the hooked side measure nothing.
    if (substrate::installedHooks().empty()) {
      std::printf("error: Velmo loaded but installed no hooks\n");
      return 1;
    }
  }
  std::printf("ready\n");
  std::fflush(stdout);

  id gadget = app.gadget();
  id navigation = app.navigationController();
  id color = msg<id>(uikit::colorClass(), "labelColor"_sel);
  char line[64];
  while (std::fgets(line, sizeof line, stdin) != nullptr) {
    char what[16] = "";
    long n = 0;
    if (std::sscanf(line, "%15s %ld", what, &n) != 2 || n <= 0) break;
    long long start = threadCpuNs();
    if (std::string_view(what) == "tap") {
      for (long i = 0; i < n; ++i) {
        objc::AutoreleasePool pool;
        benchmark::DoNotOptimize(
            msg<id>(gadget, "_navigateTolistItem:animated:"_sel, favorites, NO));
        msg<id>(navigation, "popViewControllerAnimated:"_sel, NO);
      }
      if (app.where() != "Albums") {
        std::printf("error: the album did not open and close\n");
        return 1;
      }
    } else {
      for (long i = 0; i < n; ++i) {
        objc::AutoreleasePool pool;
        msg<void>(gadget, "_configureCell:forListItem:textColor:"_sel, cell.get(), favorites,
                  color);
      }
    }
    std::printf("%.3f\n", static_cast<double>(threadCpuNs() - start) / static_cast<double>(n));
    std::fflush(stdout);
  }
  return 0;
}

// A --serve process, spoken to through its standard input and output.
class App {
 public:
  explicit App(bool hooked) {
    int in = -1, out = -1;
    pid_ = bench::spawnProgram(
        {bench::binFolder() + "/bench_tap", "--serve", hooked ? "hooked" : "unhooked"}, &in, &out);
    if (pid_ < 0) {
      error_ = "cannot start the app";
      return;
    }
    to_ = ::fdopen(in, "w");
    from_ = ::fdopen(out, "r");
    if (to_ == nullptr || from_ == nullptr) {
      if (to_ == nullptr) ::close(in);
      if (from_ == nullptr) ::close(out);
      error_ = "cannot open the app's pipes";
      return;
    }
    if (readLine() != "ready") error_ = "the app did not start: " + last_;
  }
  ~App() {
    if (to_ != nullptr) std::fclose(to_);  // end of input: the app ends
    if (from_ != nullptr) std::fclose(from_);
    if (pid_ > 0) ::waitpid(pid_, nullptr, 0);
  }
  App(const App&) = delete;
  App& operator=(const App&) = delete;

  const std::string& error() const { return error_; }

  // Nanoseconds per operation, or a negative value (see error()).
  double ask(const char* what, long n) {
    if (!error_.empty()) return -1;
    std::fprintf(to_, "%s %ld\n", what, n);
    std::fflush(to_);
    std::string answer = readLine();
    char* end = nullptr;
    double ns = std::strtod(answer.c_str(), &end);
    if (answer.empty() || *end != '\0') {
      error_ = answer.empty() ? "the app ended" : answer;
      return -1;
    }
    return ns;
  }

 private:
  std::string readLine() {
    char buf[512];
    if (from_ == nullptr || std::fgets(buf, sizeof buf, from_) == nullptr) return last_ = "";
    last_ = buf;
    while (!last_.empty() && last_.back() == '\n') last_.pop_back();
    return last_;
  }

  pid_t pid_ = -1;
  FILE* to_ = nullptr;
  FILE* from_ = nullptr;
  std::string error_, last_;
};

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

// Both apps run on one CPU. The CPUs of a virtual machine need not be alike
// (the host may run other work on one), and an app keeps to the CPU it
// started on, so apps left to the scheduler can differ by half for a whole
// run. Children inherit the CPUs they may use; this process gets its own back.
struct OneCpu {
  OneCpu() {
    have_ = ::sched_getaffinity(0, sizeof saved_, &saved_) == 0;
    int cpu = ::sched_getcpu();
    if (!have_ || cpu < 0) return;
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(cpu, &one);
    ::sched_setaffinity(0, sizeof one, &one);
  }
  ~OneCpu() {
    if (have_) ::sched_setaffinity(0, sizeof saved_, &saved_);
  }
  OneCpu(const OneCpu&) = delete;
  OneCpu& operator=(const OneCpu&) = delete;

 private:
  cpu_set_t saved_;
  bool have_ = false;
};

void rounds(benchmark::State& state, const char* what, long n) {
  std::optional<OneCpu> pinned(std::in_place);  // while the apps start
  App unhooked(false), hooked(true);
  pinned.reset();
  for (App* app : {&unhooked, &hooked}) {
    if (!app->error().empty()) return state.SkipWithError(app->error().c_str());
  }
  std::vector<double> ns[2];
  bool hooked_first = false;
  for (auto _ : state) {
    double round[2];
    for (int k = 0; k < 2; ++k) {
      bool h = (k == 0) == hooked_first;
      round[h] = (h ? hooked : unhooked).ask(what, n);
    }
    for (App* app : {&unhooked, &hooked}) {
      if (!app->error().empty()) return state.SkipWithError(app->error().c_str());
    }
    hooked_first = !hooked_first;
    ns[0].push_back(round[0]);
    ns[1].push_back(round[1]);
    state.SetIterationTime(round[1] * static_cast<double>(n) * 1e-9);
  }
  state.counters["unhooked_ns"] = median(ns[0]);
  state.counters["hooked_ns"] = median(ns[1]);
}

void BM_TapOrdinaryAlbum(benchmark::State& state) { rounds(state, "tap", kTapsPerRound); }
void BM_ConfigureCell(benchmark::State& state) { rounds(state, "cell", kCellsPerRound); }
BENCHMARK(BM_TapOrdinaryAlbum)->UseManualTime()->Iterations(kRounds)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ConfigureCell)->UseManualTime()->Iterations(kRounds)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::string_view(argv[1]) == "--serve") {
    return serve(std::string_view(argv[2]) == "hooked");
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
