#include "platform/dispatch/dispatch.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "platform/dispatch/run_loop.h"
#include "platform/dispatch/test_watchdog.h"
#include "platform/objc/nsobject.h"

namespace {

using dispatch::RunLoop;
using testing_support::Watchdog;
using namespace std::chrono_literals;

TEST(Dispatch, MainQueueBlocksRunOnTheMainThread) {
  Watchdog dog("main queue block", 10s);
  std::atomic<bool> on_main{false};
  std::thread other([&] {
    dispatch_async(dispatch_get_main_queue(),
                   makeBlock<void()>([&] { on_main = dispatch::isMainThread(); }));
  });
  other.join();
  EXPECT_TRUE(RunLoop::main().settle(5000));
  EXPECT_TRUE(on_main);
}

TEST(Dispatch, BackgroundTasksRunInOrderOffTheMainThreadAndSettleWaitsForThem) {
  Watchdog dog("background queue", 10s);
  dispatch_queue_t global = dispatch_get_global_queue(0, 0);
  std::vector<int> order;  // touched by the worker, then read after settle
  std::atomic<int> on_main{0};
  for (int i = 0; i < 100; ++i) {
    dispatch_async(global, makeBlock<void()>([&, i] {
                     if (dispatch::isMainThread()) ++on_main;
                     order.push_back(i);
                   }));
  }
  bool replied = false;
  dispatch_async(global, makeBlock<void()>([&] {
                   std::this_thread::sleep_for(50ms);
                   dispatch_async(dispatch_get_main_queue(),
                                  makeBlock<void()>([&] { replied = true; }));
                 }));
  EXPECT_TRUE(RunLoop::main().settle(5000));
  EXPECT_TRUE(replied);
  EXPECT_EQ(on_main.load(), 0);
  ASSERT_EQ(order.size(), 100u);
  for (int i = 0; i < 100; ++i) EXPECT_EQ(order[i], i);
}

TEST(Dispatch, ABlockAndWhatItCapturesLiveUntilItHasRun) {
  Watchdog dog("block retention", 10s);
  auto object = allocInit(objc::nsobjectClass());
  bool ran = false;
  {
    Strong<objc_object> captured = object;
    auto block = makeBlock<void()>([captured, &ran] { ran = captured != nullptr; });
    dispatch_async(dispatch_get_main_queue(), block);
  }
  // Only the queued block keeps the capture alive now.
  EXPECT_EQ(objc_retainCount(object), 2);
  EXPECT_TRUE(RunLoop::main().settle(5000));
  EXPECT_TRUE(ran);
  EXPECT_EQ(objc_retainCount(object), 1);
}

TEST(Dispatch, BackgroundTasksRunInsideAnAutoreleasePool) {
  Watchdog dog("background autorelease", 10s);
  auto object = allocInit(objc::nsobjectClass());
  std::atomic<long> during{0};
  dispatch_async(dispatch_get_global_queue(0, 0), makeBlock<void()>([&, keep = object] {
                   objc_autorelease(objc_retain(keep));
                   during = objc_retainCount(keep);
                 }));
  EXPECT_TRUE(RunLoop::main().settle(5000));
  EXPECT_EQ(during.load(), 3);  // ours, the capture's, the autoreleased one
  EXPECT_EQ(objc_retainCount(object), 1);
}

}  // namespace
