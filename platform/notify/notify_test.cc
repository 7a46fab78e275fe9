#include "platform/notify/notify.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "platform/dispatch/run_loop.h"
#include "platform/dispatch/test_watchdog.h"
#include "platform/foundation/nsstring.h"
#include "platform/foundation/test_device_root.h"

namespace {

using foundation::makeString;
using testing_support::TempDir;
using testing_support::testDeviceRoot;
using testing_support::Watchdog;
using namespace std::chrono_literals;

struct Delivery {
  std::string name;
  const void* observer;
  bool on_main;
  bool as_documented;  // the Darwin center, nil object and nil user info
};

std::vector<Delivery>& deliveries() {
  static std::vector<Delivery> d;
  return d;
}

void record(CFNotificationCenterRef center, void* observer, CFStringRef name, const void* object,
            CFDictionaryRef info) {
  deliveries().push_back({foundation::stdString(name), observer, dispatch::isMainThread(),
                          center == CFNotificationCenterGetDarwinNotifyCenter() &&
                              object == nullptr && info == nullptr});
}

void observe(const char* name, const void* observer = nullptr) {
  objc::AutoreleasePool pool;
  CFNotificationCenterAddObserver(CFNotificationCenterGetDarwinNotifyCenter(), observer, &record,
                                  makeString(name), nullptr,
                                  CFNotificationSuspensionBehaviorCoalesce);
}

void post(const char* name) {
  objc::AutoreleasePool pool;
  CFNotificationCenterPostNotification(CFNotificationCenterGetDarwinNotifyCenter(),
                                       makeString(name), nullptr, nullptr, true);
}

// Serves the main run loop until `done` or `ms` milliseconds have passed.
bool runUntil(const std::function<bool()>& done, int ms) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (!done()) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    dispatch::RunLoop::main().runOnce(static_cast<int>(left.count()));
  }
  return true;
}

size_t countOf(const std::string& name) {
  size_t n = 0;
  for (const auto& d : deliveries()) n += d.name == name;
  return n;
}

// A pipe a child uses to say it is ready (or a parent to say go on).
struct Signal {
  int fds[2];
  Signal() {
    if (pipe(fds) != 0) std::abort();
  }
  ~Signal() {
    close(fds[0]);
    close(fds[1]);
  }
  void raise() const { [[maybe_unused]] ssize_t n = write(fds[1], "x", 1); }
  bool wait(int ms) const {
    pollfd p{fds[0], POLLIN, 0};
    char c;
    return poll(&p, 1, ms) == 1 && read(fds[0], &c, 1) == 1;
  }
};

// Runs `body` in a forked child process, whose exit status is what it returns.
pid_t inChild(const std::function<int()>& body) {
  pid_t pid = fork();
  if (pid == 0) _exit(body());
  return pid;
}

int exitStatus(pid_t pid) {
  int status = 0;
  if (waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

class NotifyTest : public testing::Test {
 protected:
  void SetUp() override {
    testDeviceRoot();
    dispatch::RunLoop::main().runOnce(0);
    deliveries().clear();
  }
};

TEST_F(NotifyTest, APostReachesAnotherProcessOnItsMainThread) {
  Watchdog dog("delivery to another process", 30s);
  const char* kName = "com.velmo.test/delivery";
  Signal ready;
  pid_t observer = inChild([&] {
    observe(kName);
    ready.raise();
    if (!runUntil([&] { return !deliveries().empty(); }, 10000)) return 2;
    runUntil([] { return false; }, 100);  // nothing more comes
    const Delivery& d = deliveries()[0];
    return deliveries().size() == 1 && d.name == kName && d.on_main && d.as_documented ? 0 : 1;
  });
  ASSERT_TRUE(ready.wait(10000));
  // This process observes nothing of that name, and posts from a thread of its own.
  std::thread poster([&] { post(kName); });
  poster.join();
  EXPECT_EQ(exitStatus(observer), 0);
}

TEST_F(NotifyTest, PostsThatArriveTogetherAreDeliveredOncePerObserver) {
  Watchdog dog("coalescing", 30s);
  const char* kBusy = "com.velmo.test/busy";
  const char* kQuiet = "com.velmo.test/quiet";
  int first = 0, second = 0;
  observe(kBusy, &first);
  observe(kBusy, &second);
  observe(kBusy, &second);  // the same registration twice counts once
  observe(kQuiet, &first);

  post(kQuiet);
  for (int i = 0; i < 100; ++i) post(kBusy);
  pid_t poster = inChild([&] {
    for (int i = 0; i < 50; ++i) post(kBusy);
    return 0;
  });
  ASSERT_EQ(exitStatus(poster), 0);

  ASSERT_TRUE(runUntil([&] { return deliveries().size() >= 3; }, 5000));
  runUntil([] { return false; }, 100);
  ASSERT_EQ(deliveries().size(), 3u);
  EXPECT_EQ(deliveries()[0].name, kQuiet);
  EXPECT_EQ(deliveries()[1].name, kBusy);
  EXPECT_EQ(deliveries()[1].observer, &first);
  EXPECT_EQ(deliveries()[2].observer, &second);
  for (const auto& d : deliveries()) EXPECT_TRUE(d.on_main && d.as_documented);

  // A later post is a new delivery.
  post(kBusy);
  ASSERT_TRUE(runUntil([&] { return countOf(kBusy) == 4; }, 5000));
}

TEST_F(NotifyTest, TwoDevicesOnOneMachineDoNotHearEachOther) {
  Watchdog dog("device isolation", 30s);
  const char* kName = "com.velmo.test/isolation";
  TempDir other_root;
  observe(kName);
  pid_t elsewhere = inChild([&] {
    device::setRoot(other_root.path());
    observe(kName);
    post(kName);
    // The other device's process hears its own post, and only that.
    return runUntil([] { return countOf("com.velmo.test/isolation") == 1; }, 10000) ? 0 : 1;
  });
  EXPECT_EQ(exitStatus(elsewhere), 0);
  runUntil([] { return false; }, 200);
  EXPECT_EQ(countOf(kName), 0u);

  pid_t here = inChild([&] {
    post(kName);
    return 0;
  });
  EXPECT_EQ(exitStatus(here), 0);
  EXPECT_TRUE(runUntil([&] { return countOf(kName) == 1; }, 5000));
}

TEST_F(NotifyTest, GoneOrStuckObserversNeitherBreakNorBlockPosting) {
  Watchdog dog("posting past gone and stuck observers", 30s);
  const char* kName = "com.velmo.test/survivors";
  std::string folder = notify::registrationFolder(kName);

  // A process that registered and was killed: its registration stays behind.
  pid_t gone = inChild([&] {
    observe(kName);
    return 0;
  });
  ASSERT_EQ(exitStatus(gone), 0);
  ASSERT_TRUE(std::filesystem::exists(folder + "/" + std::to_string(gone)));
  std::ofstream(folder + "/not-a-pid") << "";

  // A process that registered and never reads.
  Signal ready, finish;
  pid_t stuck = inChild([&] {
    observe(kName);
    ready.raise();
    return finish.wait(20000) ? 0 : 1;
  });
  ASSERT_TRUE(ready.wait(10000));

  observe(kName);
  auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < 200; ++i) post(kName);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
  finish.raise();
  EXPECT_EQ(exitStatus(stuck), 0);

  EXPECT_FALSE(std::filesystem::exists(folder + "/" + std::to_string(gone)));
  EXPECT_TRUE(std::filesystem::exists(folder + "/" + std::to_string(getpid())));
  EXPECT_TRUE(std::filesystem::exists(folder + "/not-a-pid"));
  EXPECT_TRUE(runUntil([&] { return countOf(kName) == 1; }, 5000));
}

// Registrations are names for one shared empty file; where the shared entry
// cannot take a link (here it is a folder) each process registers with a
// file of its own. Posts reach observers registered either way.
TEST_F(NotifyTest, RegistrationsAreLinksToOneFileOrFilesOfTheirOwn) {
  Watchdog dog("registration by link and by file", 30s);
  const char* kLinked = "com.velmo.test/linked";
  const char* kOwn = "com.velmo.test/own-files";
  std::string linked = notify::registrationFolder(kLinked);
  std::string own = notify::registrationFolder(kOwn);
  std::filesystem::create_directories(own + "/observer");

  Signal ready;
  pid_t other = inChild([&] {
    observe(kLinked);
    observe(kOwn);
    ready.raise();
    return runUntil(
               [] {
                 return countOf("com.velmo.test/linked") == 1 &&
                        countOf("com.velmo.test/own-files") == 1;
               },
               10000)
               ? 0
               : 1;
  });
  ASSERT_TRUE(ready.wait(10000));
  observe(kLinked);
  observe(kOwn);

  struct stat shared {};
  ASSERT_EQ(::stat((linked + "/observer").c_str(), &shared), 0);
  EXPECT_TRUE(S_ISREG(shared.st_mode));
  EXPECT_EQ(shared.st_size, 0);
  for (pid_t pid : {getpid(), other}) {
    struct stat linked_entry {
    }, own_entry{};
    ASSERT_EQ(::stat((linked + "/" + std::to_string(pid)).c_str(), &linked_entry), 0);
    EXPECT_EQ(linked_entry.st_ino, shared.st_ino);
    ASSERT_EQ(::stat((own + "/" + std::to_string(pid)).c_str(), &own_entry), 0);
    EXPECT_TRUE(S_ISREG(own_entry.st_mode));
    EXPECT_EQ(own_entry.st_nlink, 1u);
  }
  EXPECT_EQ(shared.st_nlink, 3u);  // the shared file and two registrations

  post(kLinked);
  post(kOwn);
  EXPECT_EQ(exitStatus(other), 0);
  EXPECT_TRUE(runUntil(
      [] {
        return countOf("com.velmo.test/linked") == 1 && countOf("com.velmo.test/own-files") == 1;
      },
      5000));
}

TEST(NotifyNames, NamesBecomeSingleSafeFolderNames) {
  EXPECT_EQ(notify::escapeName("com.qel.velmopreferences/changed"),
            "com.qel.velmopreferences%2Fchanged");
  EXPECT_EQ(notify::escapeName(".."), "%2E.");
  EXPECT_EQ(notify::escapeName("a b%"), "a%20b%25");
  EXPECT_NE(notify::escapeName("a/b"), notify::escapeName("a%2Fb"));
}

}  // namespace

namespace {

// A registration is a folder named after the escaped name, so a name must fit
// one folder name (255 bytes) once escaped.
TEST(NotifyNames, NamesThatCannotBeStoredAreRefusedWithTheirLength) {
  EXPECT_EQ(notify::nameError("com.qel.velmopreferences/changed"), "");
  EXPECT_EQ(notify::nameError(std::string(255, 'a')), "");
  EXPECT_EQ(notify::nameError(""), "a notification name cannot be empty");
  std::string error = notify::nameError(std::string(256, 'a'));
  EXPECT_EQ(error.rfind("notification name too long: 256 bytes, stored as 256; at most 255", 0), 0u)
      << error;
  EXPECT_EQ(notify::nameError(std::string(85, '/')), "");  // 255 once escaped
  EXPECT_NE(notify::nameError(std::string(86, '/')), "");
}

}  // namespace
