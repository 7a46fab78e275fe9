#include "platform/dispatch/run_loop.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "platform/dispatch/test_watchdog.h"

namespace {

using dispatch::RunLoop;
using testing_support::Watchdog;
using namespace std::chrono_literals;

TEST(RunLoop, TasksFromManyThreadsRunOnTheMainThreadInPostingOrder) {
  Watchdog dog("tasks from many threads", 20s);
  RunLoop& loop = RunLoop::main();
  constexpr int kThreads = 4;
  constexpr int kTasks = 2000;
  std::vector<std::vector<int>> seen(kThreads);
  std::atomic<int> off_main{0};
  std::vector<std::thread> posters;
  for (int t = 0; t < kThreads; ++t) {
    posters.emplace_back([&, t] {
      for (int i = 0; i < kTasks; ++i) {
        loop.post([&, t, i] {
          if (!dispatch::isMainThread()) ++off_main;
          seen[t].push_back(i);
        });
      }
    });
  }
  // Serve the queue while the posters are still busy.
  auto total = [&] {
    size_t n = 0;
    for (auto& s : seen) n += s.size();
    return n;
  };
  while (total() < size_t{kThreads} * kTasks) loop.runOnce(100);
  for (auto& p : posters) p.join();

  EXPECT_EQ(off_main.load(), 0);
  for (int t = 0; t < kThreads; ++t) {
    ASSERT_EQ(seen[t].size(), size_t{kTasks});
    for (int i = 0; i < kTasks; ++i) ASSERT_EQ(seen[t][i], i) << "thread " << t;
  }
}

TEST(RunLoop, TasksPostedByATaskRunOnTheNextTurn) {
  Watchdog dog("tasks posting tasks", 10s);
  RunLoop& loop = RunLoop::main();
  std::vector<int> order;
  loop.post([&] {
    order.push_back(1);
    loop.post([&] {
      order.push_back(3);
      loop.post([&] { order.push_back(4); });
    });
  });
  loop.post([&] { order.push_back(2); });
  EXPECT_TRUE(loop.runOnce(0));
  EXPECT_EQ(order, (std::vector<int>{1, 2}));
  EXPECT_TRUE(loop.settle(5000));
  EXPECT_EQ(order, (std::vector<int>{1, 2, 3, 4}));
}

TEST(RunLoop, RunOnceTimesOutWhenNothingHappens) {
  Watchdog dog("idle runOnce", 10s);
  auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(RunLoop::main().runOnce(30));
  EXPECT_GE(std::chrono::steady_clock::now() - start, 25ms);
}

TEST(RunLoop, SettleWaitsForBackgroundWorkThatPostsLater) {
  Watchdog dog("settle with background work", 10s);
  RunLoop& loop = RunLoop::main();
  bool arrived = false;
  dispatch::beginBackgroundWork();
  std::thread worker([&] {
    std::this_thread::sleep_for(50ms);
    loop.post([&] { arrived = true; });
    dispatch::endBackgroundWork();
  });
  EXPECT_TRUE(loop.settle(5000));
  EXPECT_TRUE(arrived);
  worker.join();
}

TEST(RunLoop, SettleGivesUpAfterItsTimeout) {
  Watchdog dog("settle timeout", 10s);
  dispatch::beginBackgroundWork();
  EXPECT_FALSE(RunLoop::main().settle(30));
  dispatch::endBackgroundWork();
  EXPECT_TRUE(RunLoop::main().settle(1000));
}

TEST(RunLoop, WatchedDescriptorsAreServedUntilUnwatched) {
  Watchdog dog("watched pipe", 10s);
  RunLoop& loop = RunLoop::main();
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  std::string got;
  bool eof = false;
  loop.watch(fds[0], [&] {
    char buf[64];
    ssize_t n = read(fds[0], buf, sizeof buf);
    if (n <= 0) {
      eof = true;
      loop.unwatch(fds[0]);
      return;
    }
    got.append(buf, static_cast<size_t>(n));
  });
  std::thread writer([&] {
    std::this_thread::sleep_for(20ms);
    ASSERT_EQ(write(fds[1], "hello", 5), 5);
    std::this_thread::sleep_for(20ms);
    close(fds[1]);
  });
  while (!eof) loop.runOnce(1000);
  writer.join();
  EXPECT_EQ(got, "hello");
  // Unwatched: the closed pipe no longer wakes the loop.
  EXPECT_FALSE(loop.runOnce(20));
  close(fds[0]);
}

TEST(RunLoop, StopFromAnotherThreadEndsRun) {
  Watchdog dog("run until stop", 10s);
  RunLoop& loop = RunLoop::main();
  int ran = 0;
  loop.post([&] { ++ran; });
  std::thread stopper([&] {
    std::this_thread::sleep_for(30ms);
    loop.post([&] { ++ran; });
    loop.stop();
  });
  loop.run();
  stopper.join();
  loop.settle(1000);
  EXPECT_EQ(ran, 2);
}

// GCC says ThreadSanitizer is on with a macro, Clang through __has_feature.
#if defined(__SANITIZE_THREAD__)
#define VELMO_UNDER_TSAN 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define VELMO_UNDER_TSAN 1
#endif
#endif

TEST(RunLoop, ForkedChildHasItsOwnWakeUp) {
#if defined(VELMO_UNDER_TSAN)
  GTEST_SKIP() << "ThreadSanitizer does not run threads started in a forked child";
#endif
  Watchdog dog("run loop in a forked child", 20s);
  RunLoop& loop = RunLoop::main();
  loop.post([] {});  // the wake-up descriptor exists and is non-zero
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    // Parent's pending task is not the child's; the child's own tasks run.
    int ran = 0;
    std::thread poster([&] { loop.post([&] { ++ran; }); });
    poster.join();
    bool ok = loop.settle(5000) && ran == 1 && dispatch::isMainThread();
    _exit(ok ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_TRUE(loop.settle(1000));
}

// Each thread remembers whether it is the main thread; a fork and a new main
// thread must make it ask again. A background thread that forks is its
// child's first thread, so the main one; the parent's main thread, asked in
// the parent before and after, stays the main thread there.
TEST(RunLoop, MainThreadIsAnsweredAfreshAfterAForkAndANewMainThread) {
  Watchdog dog("main thread after fork", 20s);
  ASSERT_TRUE(dispatch::isMainThread());
  pid_t child = -1;
  bool off_main_before = true;
  std::thread forker([&] {
    off_main_before = dispatch::isMainThread();
    child = fork();
    if (child == 0) _exit(dispatch::isMainThread() ? 0 : 1);
  });
  forker.join();
  EXPECT_FALSE(off_main_before);
  ASSERT_GE(child, 0);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_TRUE(dispatch::isMainThread());

  // A thread marked main becomes it; the first thread stops being it.
  bool marked = false;
  std::thread other([&] {
    dispatch::markMainThread();
    marked = dispatch::isMainThread();
  });
  other.join();
  EXPECT_TRUE(marked);
  EXPECT_FALSE(dispatch::isMainThread());
  dispatch::markMainThread();
  EXPECT_TRUE(dispatch::isMainThread());
}

}  // namespace
