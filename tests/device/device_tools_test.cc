// The device's own tools against forged files and stuck neighbours: killall
// signals only its device's programs whatever its registry says, a registry
// write that failed is cleaned up by the next program, and a passcode record
// whose lock another process holds answers an error instead of hanging
// Photos.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>

#include "tests/support/device_fixture.h"

namespace {

namespace fs = std::filesystem;
using testing_support::answer;
using testing_support::DeviceProcess;
using testing_support::DeviceTest;
using testing_support::enabledWith;
using testing_support::Lines;
using testing_support::makeTempDirectory;
using testing_support::removeTree;
using testing_support::runProgram;
using testing_support::where;

const char kPrompt[] = "prompt \"Use your passcode to view and manage hidden album.\" passcode";

// The kernel's start time of `pid` (/proc/<pid>/stat field 22), as the
// registry records it.
std::string startTimeOf(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string stat;
  std::getline(in, stat);
  std::istringstream rest(stat.substr(stat.rfind(')') + 2));
  std::string field;
  for (int i = 3; i <= 22 && rest >> field; ++i) {
  }
  return field;
}

// Whether `pid`, a child of this test, still runs.
bool childRuns(pid_t pid) { return waitpid(pid, nullptr, WNOHANG) == 0; }

// An outside process: a `sleep` that is no program of any device.
class Sleeper {
 public:
  Sleeper() {
    pid_ = fork();
    if (pid_ == 0) {
      execl("/bin/sleep", "sleep", "60", static_cast<char*>(nullptr));
      _exit(127);
    }
  }
  ~Sleeper() {
    if (pid_ > 0 && childRuns(pid_)) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }
  pid_t pid() const { return pid_; }

 private:
  pid_t pid_;
};

// While it lives, a program that was wrongly ended fails the test's checks
// rather than the test process with SIGPIPE.
struct IgnorePipe {
  IgnorePipe() { previous = signal(SIGPIPE, SIG_IGN); }
  ~IgnorePipe() { signal(SIGPIPE, previous); }
  IgnorePipe(const IgnorePipe&) = delete;
  IgnorePipe& operator=(const IgnorePipe&) = delete;
  void (*previous)(int);
};

class DeviceToolsTest : public DeviceTest {
 protected:
  std::string registry() const { return root_ + "/var/run/processes"; }
  std::string killall() const { return root_ + "/var/jb/usr/bin/killall"; }
  // Writes the entry a program named `name` would leave for `pid`.
  void forgeEntry(pid_t pid, const std::string& name) {
    std::ofstream(registry() + "/" + std::to_string(pid)) << name << "\n"
                                                          << startTimeOf(pid) << "\n";
  }
};

TEST_F(DeviceToolsTest, KillallSignalsNoOutsideProcessWhateverItsRegistrySays) {
  IgnorePipe ignore_pipe;
  initDevice();
  fs::create_directories(registry());
  Sleeper outside;
  ASSERT_GT(outside.pid(), 0);
  // Another device's Photos runs the very same program, for another root.
  const std::string other = makeTempDirectory("velmo-other-device");
  std::string output;
  ASSERT_EQ(runProgram({program(), "init", "--root", other}, &output), 0) << output;
  DeviceProcess theirs({program(), "photos", "--root", other});
  testing_support::waitReady(theirs);

  // Forged entries naming both as this device's Photos.
  forgeEntry(outside.pid(), "MobileSlideShow");
  forgeEntry(theirs.pid(), "MobileSlideShow");
  output.clear();
  EXPECT_EQ(runProgram({killall(), "-9", "MobileSlideShow"}, &output), 1);
  EXPECT_EQ(output, "MobileSlideShow: no process found\n");
  EXPECT_TRUE(childRuns(outside.pid())) << "the outside sleep was signalled";
  EXPECT_EQ(where(theirs), "where Albums");
  // Settings does not take them for this device's Photos either.
  {
    auto settings = start("settings");
    ASSERT_EQ(answer(*settings, "open Velmo"), Lines{});
    EXPECT_EQ(answer(*settings, "switch on"), Lines{"Photos was not running"});
    EXPECT_EQ(settings->finish(), 0);
  }

  // The registry a link to the other device's, where their Photos is
  // registered: nothing is read through it, and no program of this device
  // registers through it.
  removeTree(registry());
  fs::create_directory_symlink(other + "/var/run/processes", registry());
  output.clear();
  EXPECT_EQ(runProgram({killall(), "-9", "MobileSlideShow"}, &output), 1);
  EXPECT_EQ(output, "MobileSlideShow: no process found\n");
  EXPECT_EQ(where(theirs), "where Albums");
  output.clear();
  EXPECT_EQ(runProgram({program(), "tccd", "--root", root_}, &output), 2);
  EXPECT_NE(output.find("error: cannot open " + registry() + ": a symbolic link, not a folder"),
            std::string::npos)
      << output;
  EXPECT_TRUE(fs::exists(other + "/var/run/processes/" + std::to_string(theirs.pid())))
      << "the other device's entry was removed";

  // With its own registry back, killall still ends its own Photos, and only
  // it, beside the same forged entries.
  fs::remove(registry());
  auto photos = start("photos");
  testing_support::waitReady(*photos);
  forgeEntry(outside.pid(), "MobileSlideShow");
  forgeEntry(theirs.pid(), "MobileSlideShow");
  EXPECT_EQ(runProgram({killall(), "-9", "MobileSlideShow"}, &output), 0) << output;
  EXPECT_EQ(photos->waitExit(5000), -SIGKILL);
  EXPECT_TRUE(childRuns(outside.pid()));
  EXPECT_EQ(where(theirs), "where Albums");
  EXPECT_EQ(theirs.finish(), 0);
  removeTree(other);
}

// A package's postinst runs killall in its sandbox, where killall may not
// look at other processes' programs: it still ends this device's Photos, and
// forged entries still reach no other process.
TEST_F(DeviceToolsTest, KillallInAMaintainerScriptEndsOnlyThisDevicesPhotos) {
  IgnorePipe ignore_pipe;
  initDevice();
  Sleeper outside;
  ASSERT_GT(outside.pid(), 0);
  const std::string other = makeTempDirectory("velmo-other-device");
  std::string output;
  ASSERT_EQ(runProgram({program(), "init", "--root", other}, &output), 0) << output;
  DeviceProcess theirs({program(), "photos", "--root", other});
  testing_support::waitReady(theirs);
  auto photos = start("photos");
  testing_support::waitReady(*photos);
  forgeEntry(outside.pid(), "MobileSlideShow");
  forgeEntry(theirs.pid(), "MobileSlideShow");

  // Installing Velmo again runs its postinst: killall -9 MobileSlideShow.
  output.clear();
  EXPECT_EQ(
      runProgram({program(), "install", "--root", root_, testing_support::builtPackage()}, &output),
      0)
      << output;
  EXPECT_EQ(photos->waitExit(5000), -SIGKILL) << "this device's Photos was not ended";
  EXPECT_TRUE(childRuns(outside.pid())) << "the outside sleep was signalled";
  EXPECT_EQ(where(theirs), "where Albums");
  EXPECT_EQ(theirs.finish(), 0);
  removeTree(other);
}

TEST_F(DeviceToolsTest, ARegistryWriteThatFailedIsCleanedUpByTheNextProgram) {
  initDevice();
  fs::create_directories(registry());
  // What a registration cut short left: its temporary entry, named after a
  // process that is gone (a child that ended), as writers name it now and as
  // they did before.
  pid_t gone = fork();
  if (gone == 0) _exit(0);
  ASSERT_GT(gone, 0);
  waitpid(gone, nullptr, 0);
  const std::string left_now = registry() + "/" + std::to_string(gone) + "-7.new";
  const std::string left_before = registry() + "/" + std::to_string(gone) + ".new";
  std::ofstream(left_now) << "MobileSlideShow\n7\n";
  std::ofstream(left_before) << "MobileSlideShow\n";
  auto photos = start("photos");
  testing_support::waitReady(*photos);
  EXPECT_FALSE(fs::exists(left_now));
  EXPECT_FALSE(fs::exists(left_before));
  // What a program that still runs is writing is left alone.
  auto settings = start("settings");
  const std::string in_progress =
      registry() + "/" + std::to_string(photos->pid()) + "-" + startTimeOf(photos->pid()) + ".new";
  std::ofstream(in_progress) << "MobileSlideShow\n";
  auto tccd = start("tccd");
  testing_support::waitReady(*tccd);
  EXPECT_TRUE(fs::exists(in_progress));
  fs::remove(in_progress);
  EXPECT_EQ(tccd->finish(), 0);
  EXPECT_EQ(settings->finish(), 0);
  EXPECT_EQ(photos->finish(), 0);
  EXPECT_TRUE(fs::is_empty(registry())) << "each program took its entry with it";
}

// Holds the passcode record's lock, as another process of the device would
// while it judged, or a stopped one forever.
class RecordLockHolder {
 public:
  explicit RecordLockHolder(const std::string& root) {
    fs::create_directories(root + "/var/db");
    fd_ =
        ::open((root + "/var/db/passcode.plist.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    held_ = fd_ >= 0 && ::flock(fd_, LOCK_EX | LOCK_NB) == 0;
  }
  ~RecordLockHolder() { release(); }
  bool held() const { return held_; }
  void release() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

 private:
  int fd_ = -1;
  bool held_ = false;
};

TEST_F(DeviceToolsTest, ABusyPasscodeRecordAnswersAnErrorAndPhotosKeepsAnswering) {
  initDevice();
  writeSettings(enabledWith());
  auto photos = start("photos");
  ASSERT_EQ(answer(*photos, "tap Hidden"), Lines{kPrompt});
  auto recordBytes = [this] {
    std::ifstream in(root_ + "/var/db/passcode.plist", std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  };
  const std::string record = recordBytes();
  RecordLockHolder lock(root_);
  ASSERT_TRUE(lock.held());
  for (const char* code : {"1234", "9999"}) {
    SCOPED_TRACE(code);
    auto before = std::chrono::steady_clock::now();
    // Within a time limit: a wait for the lock would leave this unanswered.
    EXPECT_EQ(photos->command(std::string("answer passcode ") + code, 6000),
              Lines{"error: the passcode record is busy"});
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(5));
  }
  // Nothing was counted, the prompt is still up, and the app answers.
  EXPECT_EQ(recordBytes(), record);
  EXPECT_EQ(where(*photos), "where Albums");
  EXPECT_EQ(answer(*photos, "prompt"), Lines{kPrompt});
  lock.release();
  EXPECT_EQ(answer(*photos, "answer passcode 4321"), Lines{"wrong passcode, 4 attempts left"});
  EXPECT_EQ(answer(*photos, "answer passcode 1234"), Lines{"passcode accepted"});
  EXPECT_EQ(where(*photos), "where Albums > Hidden");
  EXPECT_EQ(photos->finish(), 0);
}

}  // namespace
