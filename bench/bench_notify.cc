// A Darwin notification from post to callback across two processes, beside a
// pipe round trip between two processes. The observer is a forked child that
// runs its main run loop, as an app does; the time from just before the post
// to the start of its callback is read on one clock shared by both processes.
#include <benchmark/benchmark.h>
#include <poll.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <functional>

#include "bench/support.h"
#include "platform/dispatch/run_loop.h"
#include "platform/foundation/device.h"
#include "platform/foundation/nsstring.h"
#include "platform/notify/notify.h"

namespace {

constexpr char kPing[] = "com.qel.velmo.bench/ping";
constexpr int kReplyLimitMs = 5000;

// Written by the poster before each post, read by the observer's callback.
std::atomic<long long>* g_posted = nullptr;
int g_result_fd = -1;

void onPing(CFNotificationCenterRef, void*, CFStringRef, const void*, CFDictionaryRef) {
  long long took = bench::nowNs() - g_posted->load();
  ssize_t ignored = ::write(g_result_fd, &took, sizeof took);
  (void)ignored;
}

// A child process: runs `body` and exits.
pid_t forkChild(const std::function<void()>& body) {
  pid_t pid = ::fork();
  if (pid == 0) {
    body();
    ::_exit(0);
  }
  return pid;
}

bool readWithin(int fd, void* into, size_t n) {
  pollfd p{fd, POLLIN, 0};
  return ::poll(&p, 1, kReplyLimitMs) == 1 && ::read(fd, into, n) == static_cast<ssize_t>(n);
}

void BM_NotifyPostToCallback(benchmark::State& state) {
  bench::ScratchDevice scratch;
  device::setRoot(scratch.path());
  void* shared = ::mmap(nullptr, sizeof(std::atomic<long long>), PROT_READ | PROT_WRITE,
                        MAP_SHARED | MAP_ANONYMOUS, -1, 0);
  if (shared == MAP_FAILED) return state.SkipWithError("no shared memory");
  g_posted = new (shared) std::atomic<long long>(0);
  int results[2], control[2];
  if (::pipe(results) != 0 || ::pipe(control) != 0) return state.SkipWithError("no pipes");
  pid_t observer = forkChild([&] {
    ::close(results[0]);
    ::close(control[1]);
    g_result_fd = results[1];
    dispatch::markMainThread();
    CFNotificationCenterAddObserver(CFNotificationCenterGetDarwinNotifyCenter(), nullptr, &onPing,
                                    foundation::makeString(kPing), nullptr,
                                    CFNotificationSuspensionBehaviorCoalesce);
    long long ready = 0;
    ssize_t ignored = ::write(g_result_fd, &ready, sizeof ready);
    (void)ignored;
    int fd = control[0];
    dispatch::RunLoop::main().watch(fd, [fd] {
      char c;
      if (::read(fd, &c, 1) <= 0) {
        dispatch::RunLoop::main().unwatch(fd);
        dispatch::RunLoop::main().stop();
      }
    });
    dispatch::RunLoop::main().run();
  });
  ::close(results[1]);
  ::close(control[0]);
  long long took = 0;
  bench::Samples samples;
  if (!readWithin(results[0], &took, sizeof took)) {
    state.SkipWithError("the observer did not start");
  } else {
    objc::AutoreleasePool pool;
    NSString* name = foundation::makeString(kPing);
    for (auto _ : state) {
      g_posted->store(bench::nowNs());
      CFNotificationCenterPostNotification(CFNotificationCenterGetDarwinNotifyCenter(), name,
                                           nullptr, nullptr, true);
      if (!readWithin(results[0], &took, sizeof took)) {
        state.SkipWithError("a notification was not delivered");
        break;
      }
      samples.record(state, took);
    }
  }
  samples.report(state);
  ::close(control[1]);
  ::close(results[0]);
  ::waitpid(observer, nullptr, 0);
  ::munmap(shared, sizeof(std::atomic<long long>));
}
BENCHMARK(BM_NotifyPostToCallback)
    ->UseManualTime()
    ->Iterations(3000)
    ->Unit(benchmark::kMicrosecond);

// One byte to a child and back.
void BM_PipeRoundTrip(benchmark::State& state) {
  int there[2], back[2];
  if (::pipe(there) != 0 || ::pipe(back) != 0) return state.SkipWithError("no pipes");
  pid_t echo = forkChild([&] {
    ::close(there[1]);
    ::close(back[0]);
    char c;
    while (::read(there[0], &c, 1) == 1 && ::write(back[1], &c, 1) == 1) {
    }
  });
  ::close(there[0]);
  ::close(back[1]);
  bench::Samples samples;
  for (auto _ : state) {
    char c = 'p';
    long long start = bench::nowNs();
    if (::write(there[1], &c, 1) != 1 || !readWithin(back[0], &c, 1)) {
      state.SkipWithError("the echo child did not answer");
      break;
    }
    samples.record(state, bench::nowNs() - start);
  }
  samples.report(state);
  ::close(there[1]);
  ::close(back[0]);
  ::waitpid(echo, nullptr, 0);
}
BENCHMARK(BM_PipeRoundTrip)->UseManualTime()->Iterations(3000)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
