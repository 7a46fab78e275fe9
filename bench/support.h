// What the benchmark programs share: a simulated device in a scratch folder,
// the settings file as the settings pane writes it, per-sample timing for
// figures that are a distribution (p50 and p99 as counters), and finding the
// other built programs and libraries.
//
// Thread safety: main thread only; programs that fork do so while they have
// no other thread.
#pragma once

#include <benchmark/benchmark.h>
#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

namespace bench {

// Monotonic time in nanoseconds; the same clock in every process.
inline long long nowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// A device root in a scratch folder, removed with the object. The root is not
// made current; call device::setRoot(path()) for that.
class ScratchDevice {
 public:
  ScratchDevice();
  ~ScratchDevice();
  ScratchDevice(const ScratchDevice&) = delete;
  ScratchDevice& operator=(const ScratchDevice&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// Writes the settings file of the current device root as the settings pane
// leaves it: the master switch, the four options and the count. Aborts on a
// write error (a benchmark cannot run without its file).
void writeSettings(bool enabled);

// Makes the current device root an iPhone on 16.4.1 with a passcode and the
// Photos app installed.
void setUpPhone();
// Makes this process the Photos app of the current device: its classes and
// the privacy daemon's registered, its bundles booted. Once per process;
// afterwards, loading Velmo installs the whole iPhone hook table.
void becomePhotos();

// Starts the program argv[0] with a pipe to its standard input, and one from
// its standard output (which goes to /dev/null when `from_stdout` is null).
// Answers its pid, or -1 with nothing left open; the caller closes the pipes
// and waits for the program.
pid_t spawnProgram(const std::vector<std::string>& argv, int* to_stdin, int* from_stdout);

// Runs the program argv[0] with `input` on its standard input; its standard
// output goes into `output` (discarded when null). Answers how long it ran
// in nanoseconds, or -1 when it could not start or did not exit with 0.
long long runProgram(const std::vector<std::string>& argv, const std::string& input,
                     std::string* output = nullptr);

// The folder this program lives in (build/bin) and the library folder beside it.
std::string binFolder();
std::string libFolder();

// Per-iteration samples of a manually timed benchmark. record() gives the
// sample to the benchmark as the iteration's time; report() adds the counters
// p50_ns and p99_ns.
class Samples {
 public:
  void record(benchmark::State& state, long long ns);
  void report(benchmark::State& state);

 private:
  std::vector<long long> ns_;
};

// The value at fraction q (0..1) of sorted samples.
long long percentile(std::vector<long long> samples, double q);

}  // namespace bench
