#include "platform/foundation/nsuserdefaults.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

#include "platform/dispatch/test_watchdog.h"
#include "platform/foundation/collections.h"
#include "platform/foundation/device.h"
#include "platform/foundation/nsnumber.h"
#include "platform/foundation/nsstring.h"
#include "platform/foundation/plist.h"
#include "platform/foundation/test_device_root.h"

namespace {

using foundation::makeString;
using testing_support::testDeviceRoot;
using testing_support::Watchdog;
using namespace std::chrono_literals;

id defaults() { return msg<id>(foundation::userDefaultsClass(), "standardUserDefaults"_sel); }

void set(id value, const std::string& key, const std::string& domain) {
  objc::AutoreleasePool pool;
  msg<void>(defaults(), "setObject:forKey:inDomain:"_sel, value, makeString(key),
            makeString(domain));
}

id get(const std::string& key, const std::string& domain) {
  return msg<id>(defaults(), "objectForKey:inDomain:"_sel, makeString(key), makeString(domain));
}

class UserDefaultsTest : public testing::Test {
 protected:
  void SetUp() override {
    testDeviceRoot();
    domain_ = std::string("com.velmo.test.") +
              testing::UnitTest::GetInstance()->current_test_info()->name();
    file_ = device::devicePath(foundation::preferencesPath(domain_));
    std::filesystem::remove(file_);
    std::filesystem::remove(file_ + ".damaged");
    msg<BOOL>(defaults(), "synchronize"_sel);  // forget failures of earlier tests
  }

  objc::AutoreleasePool pool_;
  std::string domain_;
  std::string file_;
};

TEST_F(UserDefaultsTest, ValuesAreStoredAsTypedBinaryPropertyLists) {
  EXPECT_EQ(msg<id>(defaults(), "persistentDomainForName:"_sel, makeString(domain_)), nullptr);
  EXPECT_EQ(get("enabled", domain_), nullptr);
  set(foundation::trueValue(), "enabled", domain_);
  set(foundation::falseValue(), "popToRoot", domain_);
  set(foundation::integerNumber(-12), "hiddenItemCount", domain_);
  set(makeString("1"), "label", domain_);
  EXPECT_TRUE(msg<BOOL>(defaults(), "synchronize"_sel));

  std::string bytes;
  ASSERT_EQ(device::readWholeFile(file_, plist::kMaxFileSize, &bytes), "");
  EXPECT_EQ(bytes.rfind("bplist00", 0), 0u);

  EXPECT_EQ(get("enabled", domain_), foundation::trueValue());
  EXPECT_EQ(get("popToRoot", domain_), foundation::falseValue());
  auto* count = static_cast<NSNumber*>(get("hiddenItemCount", domain_));
  ASSERT_TRUE(foundation::isNumber(count));
  EXPECT_EQ(count->kind, NSNumber::Kind::kInteger);
  EXPECT_EQ(count->integer, -12);
  EXPECT_TRUE(foundation::isString(get("label", domain_)));

  set(nullptr, "label", domain_);
  EXPECT_EQ(get("label", domain_), nullptr);
  id all = msg<id>(defaults(), "persistentDomainForName:"_sel, makeString(domain_));
  EXPECT_EQ(msg<unsigned long>(all, "count"_sel), 3u);
  EXPECT_TRUE(msg<BOOL>(defaults(), "synchronize"_sel));
}

TEST_F(UserDefaultsTest, FailedWritesChangeNothingAndAreReported) {
  set(foundation::trueValue(), "enabled", domain_);
  // An object a property list cannot hold.
  set(allocInit(objc::nsobjectClass()).get(), "object", domain_);
  EXPECT_FALSE(msg<BOOL>(defaults(), "synchronize"_sel));
  EXPECT_NE(foundation::userDefaultsLastError(), "");
  EXPECT_TRUE(msg<BOOL>(defaults(), "synchronize"_sel));
  EXPECT_EQ(get("enabled", domain_), foundation::trueValue());
  EXPECT_EQ(get("object", domain_), nullptr);

  for (const char* bad : {"", ".", "..", "../escape", "a/b"}) {
    set(foundation::trueValue(), "enabled", bad);
    EXPECT_FALSE(msg<BOOL>(defaults(), "synchronize"_sel)) << '"' << bad << '"';
    EXPECT_EQ(get("enabled", bad), nullptr);
  }
  EXPECT_FALSE(
      std::filesystem::exists(testDeviceRoot() + "/var/jb/var/mobile/Library/escape.plist"));
}

// Something that is not a file where the domain's file belongs: the write
// fails, is counted and says why, and what is there is left as it was.
TEST_F(UserDefaultsTest, AFolderOrFifoAtTheDomainsPathFailsTheWriteWithoutBlocking) {
  Watchdog dog("writes onto a folder and a FIFO", 20s);
  std::filesystem::create_directories(file_);
  unsigned long failures = foundation::userDefaultsFailedWrites();
  set(foundation::trueValue(), "enabled", domain_);
  EXPECT_EQ(foundation::userDefaultsFailedWrites(), failures + 1);
  EXPECT_EQ(foundation::userDefaultsLastError(),
            "user defaults: " + file_ + ": not a regular file");
  EXPECT_FALSE(msg<BOOL>(defaults(), "synchronize"_sel));
  EXPECT_EQ(get("enabled", domain_), nullptr);
  EXPECT_TRUE(std::filesystem::is_directory(file_));
  std::filesystem::remove(file_);

  ASSERT_EQ(mkfifo(file_.c_str(), 0644), 0);
  set(foundation::trueValue(), "enabled", domain_);
  EXPECT_EQ(foundation::userDefaultsFailedWrites(), failures + 2);
  EXPECT_EQ(get("enabled", domain_), nullptr);
  EXPECT_EQ(msg<id>(defaults(), "persistentDomainForName:"_sel, makeString(domain_)), nullptr);
  EXPECT_EQ(std::filesystem::status(file_).type(), std::filesystem::file_type::fifo);
  std::filesystem::remove(file_);

  set(foundation::trueValue(), "enabled", domain_);
  EXPECT_EQ(foundation::userDefaultsFailedWrites(), failures + 2) << "a good write counts nothing";
  EXPECT_EQ(get("enabled", domain_), foundation::trueValue());
}

TEST_F(UserDefaultsTest, AWriteRemovesWhatKilledWritersLeftButNothingElse) {
  set(foundation::trueValue(), "enabled", domain_);
  std::string folder = std::filesystem::path(file_).parent_path();
  std::string name = std::filesystem::path(file_).filename();
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) _exit(0);
  ASSERT_EQ(waitpid(child, nullptr, 0), child);
  std::string left = folder + "/." + name + "." + std::to_string(child) + "-7.Ab12Cd";
  std::string live = folder + "/." + name + "." + std::to_string(getpid()) + "-" +
                     std::to_string(device::processStartTime(getpid()).value()) + ".Ab12Cd";
  std::ofstream(left) << "half a file";
  std::ofstream(live) << "being written";
  set(foundation::falseValue(), "enabled", domain_);
  EXPECT_FALSE(std::filesystem::exists(left));
  EXPECT_TRUE(std::filesystem::exists(live));
  std::filesystem::remove(live);
  EXPECT_EQ(get("enabled", domain_), foundation::falseValue());
}

TEST_F(UserDefaultsTest, ADamagedDomainIsSetAsideNotLost) {
  std::filesystem::create_directories(std::filesystem::path(file_).parent_path());
  std::ofstream(file_) << "<plist><dict><key>enabled</key><tru";
  EXPECT_EQ(get("enabled", domain_), nullptr);
  set(foundation::trueValue(), "showLockIcon", domain_);
  EXPECT_TRUE(msg<BOOL>(defaults(), "synchronize"_sel));
  EXPECT_EQ(get("showLockIcon", domain_), foundation::trueValue());
  std::ifstream aside(file_ + ".damaged");
  std::string kept((std::istreambuf_iterator<char>(aside)), std::istreambuf_iterator<char>());
  EXPECT_EQ(kept, "<plist><dict><key>enabled</key><tru");
}

TEST_F(UserDefaultsTest, AReaderNeverSeesHalfAFile) {
  Watchdog dog("reader against a rewriting writer", 60s);
  set(makeString(std::string(1000, 'a')), "payload", domain_);
  std::atomic<bool> done{false};
  std::atomic<int> reads{0}, bad{0};
  std::thread reader([&] {
    while (!done) {
      objc::AutoreleasePool pool;
      plist::Result r = plist::readFile(file_);
      std::string payload =
          foundation::stdString(msg<id>(r.value, "objectForKey:"_sel, "payload"_ns));
      // Every version of the file holds one letter repeated 1000 to 200000 times.
      if (!r.error.empty() || payload.size() < 1000 ||
          payload.find_first_not_of(payload[0]) != std::string::npos) {
        ++bad;
      }
      ++reads;
    }
  });
  for (int i = 0; i < 150; ++i) {
    set(makeString(std::string(1000 + (i * 1327) % 199000, static_cast<char>('a' + i % 26))),
        "payload", domain_);
  }
  done = true;
  reader.join();
  EXPECT_GT(reads.load(), 0);
  EXPECT_EQ(bad.load(), 0);
  EXPECT_TRUE(msg<BOOL>(defaults(), "synchronize"_sel));
}

constexpr int kKeys = 200;

bool writeKeys(const std::string& prefix, const std::string& domain) {
  bool ok = true;
  for (int i = 0; i < kKeys; ++i) {
    set(foundation::integerNumber(i), prefix + std::to_string(i), domain);
    ok = msg<BOOL>(defaults(), "synchronize"_sel) && ok;
  }
  return ok;
}

// The other process of the test below: this program started afresh, so that
// the writer is a whole process and not a fork of a threaded one.
TEST(UserDefaultsWriterProcess, WritesItsKeys) {
  const char* root = std::getenv("VELMO_TEST_WRITER_ROOT");
  const char* domain = std::getenv("VELMO_TEST_WRITER_DOMAIN");
  if (root == nullptr || domain == nullptr) GTEST_SKIP() << "runs only as another test's writer";
  device::setRoot(root);
  objc::AutoreleasePool pool;
  EXPECT_TRUE(writeKeys("process-", domain));
}

TEST_F(UserDefaultsTest, ConcurrentWritersInTwoProcessesAndTwoThreadsLoseNothing) {
  Watchdog dog("concurrent writers", 120s);
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    setenv("VELMO_TEST_WRITER_ROOT", testDeviceRoot().c_str(), 1);
    setenv("VELMO_TEST_WRITER_DOMAIN", domain_.c_str(), 1);
    execl("/proc/self/exe", "foundation_test", "--gtest_filter=UserDefaultsWriterProcess.*",
          static_cast<char*>(nullptr));
    _exit(127);
  }

  std::atomic<bool> threads_ok{true};
  std::thread a([&] { threads_ok = writeKeys("thread-a-", domain_) && threads_ok; });
  std::thread b([&] { threads_ok = writeKeys("thread-b-", domain_) && threads_ok; });
  a.join();
  b.join();
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_TRUE(threads_ok);

  id all = msg<id>(defaults(), "persistentDomainForName:"_sel, makeString(domain_));
  ASSERT_EQ(msg<unsigned long>(all, "count"_sel), 3u * kKeys);
  for (const char* prefix : {"process-", "thread-a-", "thread-b-"}) {
    for (int i = 0; i < kKeys; ++i) {
      id value = msg<id>(all, "objectForKey:"_sel, makeString(prefix + std::to_string(i)));
      ASSERT_EQ(msg<long long>(value, "longLongValue"_sel), i) << prefix << i;
    }
  }
}

}  // namespace
