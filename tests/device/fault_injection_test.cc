// Faults injected into the device's programs while they work: Settings
// processes killed mid-write and racing each other, a burst of notifications
// while the file is rewritten, Photos killed with an authentication reply in
// flight, the privacy daemon restarted under a running Photos. Each test
// prints one line of what it did and found; `make soak` runs them with every
// count multiplied by VELMO_SOAK_FACTOR.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <string>

#include "platform/foundation/collections.h"
#include "platform/foundation/nsstring.h"
#include "platform/foundation/plist.h"
#include "tests/support/device_fixture.h"

namespace {

namespace fs = std::filesystem;
using testing_support::DeviceProcess;
using testing_support::DeviceTest;
using testing_support::enabledWith;
using testing_support::hooks;
using testing_support::Lines;
using testing_support::soakFactor;
using testing_support::vars;
using testing_support::waitUntil;

const char kPrompt[] = "prompt \"Use your passcode to view and manage hidden album.\"";

void report(const std::string& line) {
  std::printf("[ what ran ] %s\n", line.c_str());
  std::fflush(stdout);
}

// The settings file as a reader finds it: nullopt when it is missing or does
// not parse as a dictionary (torn), else the value of `key` as text ("" when
// absent).
std::optional<std::string> settingsValue(const std::string& path, const char* key) {
  objc::AutoreleasePool pool;
  plist::Result read = plist::readFile(path);
  if (!foundation::isDictionary(read.value)) return std::nullopt;
  id value = static_cast<NSDictionary*>(read.value.get())->find(foundation::makeString(key));
  if (value == nullptr) return std::string();
  return foundation::stdString(msg<id>(value, "description"_sel));
}

// Temporary files of the settings file's writers left in its folder.
int temporaryFiles(const std::string& settings) {
  std::string prefix = "." + fs::path(settings).filename().string() + ".";
  int n = 0;
  for (const auto& e : fs::directory_iterator(fs::path(settings).parent_path())) {
    if (e.path().filename().string().rfind(prefix, 0) == 0) ++n;
  }
  return n;
}

// Reports the temporary files writers create beside the settings file, through
// inotify, so that a writer can be stopped while one is on disk.
class TemporaryFileWatch {
 public:
  explicit TemporaryFileWatch(const std::string& settings)
      : folder_(fs::path(settings).parent_path()),
        prefix_("." + fs::path(settings).filename().string() + ".") {
    fd_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fd_ >= 0 && inotify_add_watch(fd_, folder_.c_str(), IN_CREATE) < 0) {
      close(fd_);
      fd_ = -1;
    }
  }
  ~TemporaryFileWatch() {
    if (fd_ >= 0) close(fd_);
  }
  TemporaryFileWatch(const TemporaryFileWatch&) = delete;
  TemporaryFileWatch& operator=(const TemporaryFileWatch&) = delete;

  bool ok() const { return fd_ >= 0; }
  // Waits up to `timeout_ms` for temporary files to be created; returns the
  // path of the newest of those created meanwhile (the likeliest to be still
  // on disk), "" when none was. `created` counts every one.
  std::string next(int timeout_ms, int* created) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    for (;;) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      pollfd p{fd_, POLLIN, 0};
      if (left.count() < 0 || poll(&p, 1, static_cast<int>(left.count())) <= 0) return "";
      std::string newest;
      alignas(inotify_event) char buffer[16384];
      ssize_t n = read(fd_, buffer, sizeof buffer);
      for (ssize_t at = 0; at < n;) {
        const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
        std::string name = event->len > 0 ? event->name : "";
        if (name.rfind(prefix_, 0) == 0) {
          newest = (folder_ / name).string();
          ++*created;
        }
        at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
      }
      if (!newest.empty()) return newest;
    }
  }

 private:
  fs::path folder_;
  std::string prefix_;
  int fd_ = -1;
};

// Whether `pid` is stopped by a signal, waiting up to two seconds for it.
bool waitStopped(pid_t pid) {
  for (int i = 0; i < 20000; ++i) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string stat;
    std::getline(in, stat);
    size_t close = stat.rfind(')');
    if (close != std::string::npos && close + 2 < stat.size() && stat[close + 2] == 'T') {
      return true;
    }
    usleep(100);
  }
  return false;
}

class FaultInjection : public DeviceTest {
 protected:
  void SetUp() override { signal(SIGPIPE, SIG_IGN); }  // writing to a child that was killed

  // A Settings process with the pane open.
  std::unique_ptr<DeviceProcess> openSettings() {
    auto settings = start("settings");
    Lines opened = settings->command("open Velmo");
    EXPECT_EQ(opened, Lines{"ok"});
    return settings;
  }

  // Reads answers until `count` of them (ok or error) came; returns the oks.
  static int readAnswers(DeviceProcess& p, int count, int timeout_ms = 15000) {
    int oks = 0;
    std::string line;
    for (int got = 0; got < count && p.nextLine(&line, timeout_ms);) {
      if (line == "ok") ++oks;
      if (line == "ok" || line.rfind("error:", 0) == 0) ++got;
    }
    return oks;
  }
};

// Every other writer is killed at a random point of its writes. The others
// are stopped each time a write's temporary file appears and killed once one
// is still there when they stand still: most stops land after the rename, but
// a writer runs batch after batch until one is caught, so kills surely land
// between a write's start and its rename too.
TEST_F(FaultInjection, SettingsKilledMidWriteNeverLeavesTheFileMissingOrTornNorLeftovers) {
  initDeviceInMemory();
  const int writes = 1000 * soakFactor();
  std::mt19937 rng(20261207);
  int sent = 0, acknowledged = 0, kills = 0, mid_write_kills = 0, leftovers = 0;
  long long last_acknowledged = -1;
  auto batchOf = [&](int count) {
    std::string text;
    for (int i = 1; i <= count; ++i)
      text += "set hiddenItemCount " + std::to_string(sent + i) + "\n";
    return text;
  };
  for (int round = 0; acknowledged < writes; ++round) {
    auto settings = openSettings();
    // The first write of a new writer removes what killed writers left.
    if (acknowledged > 0) {
      ASSERT_EQ(settings->command("set hiddenItemCount " + std::to_string(sent + 1)), Lines{"ok"});
      ++sent;
      ++acknowledged;
      last_acknowledged = sent;
      EXPECT_EQ(temporaryFiles(settingsPath()), 0) << "after the next write";
    }
    int batch = 1 + static_cast<int>(rng() % 120);
    int oks_first = 0;
    if (round % 2 == 0) {
      settings->send(batchOf(batch));
      // Some of the batch is answered first, so that every round makes
      // progress however slowly the program starts; then the kill lands at a
      // random point of the writes still running.
      int answered_first = static_cast<int>(rng() % batch);
      oks_first = readAnswers(*settings, answered_first);
      usleep(static_cast<useconds_t>(rng() % 1500));
      kill(settings->pid(), SIGKILL);
    } else {
      TemporaryFileWatch watch(settingsPath());
      ASSERT_TRUE(watch.ok()) << "inotify: " << std::strerror(errno);
      for (int batches = 1; true; ++batches) {
        ASSERT_LE(batches, 50) << "no stop caught a write half-way";
        settings->send(batchOf(batch));
        // Past a random number of writes, each new temporary file stops the
        // writer; one still on disk then is a write caught half-way.
        const int spared = static_cast<int>(rng() % batch);
        int created = 0;
        bool caught = false;
        for (std::string temp; !caught && !(temp = watch.next(100, &created)).empty();) {
          if (created <= spared) continue;
          kill(settings->pid(), SIGSTOP);
          ASSERT_TRUE(waitStopped(settings->pid()));
          caught = fs::exists(temp);
          kill(settings->pid(), caught ? SIGKILL : SIGCONT);
        }
        if (caught) break;
        // The whole batch was written: the writer goes on with another.
        ASSERT_EQ(readAnswers(*settings, batch), batch);
        sent += batch;
        acknowledged += batch;
        last_acknowledged = sent;
      }
      ++mid_write_kills;
    }
    ++kills;
    int oks = oks_first + readAnswers(*settings, batch - oks_first, 3000);
    EXPECT_EQ(settings->waitExit(5000), -SIGKILL);
    if (oks > 0) last_acknowledged = sent + oks;
    acknowledged += oks;
    sent += batch;

    leftovers += temporaryFiles(settingsPath());
    if (last_acknowledged < 0) continue;  // nothing was ever written yet
    std::optional<std::string> value = settingsValue(settingsPath(), "hiddenItemCount");
    ASSERT_TRUE(value.has_value()) << "the file is missing or torn after kill " << kills;
    long long stored = std::atoll(value->c_str());
    EXPECT_GE(stored, last_acknowledged) << "an acknowledged write was lost";
    EXPECT_LE(stored, static_cast<long long>(sent)) << "a value nobody sent";
  }
  auto last = openSettings();
  ASSERT_EQ(last->command("set popToRoot on"), Lines{"ok"});
  EXPECT_EQ(temporaryFiles(settingsPath()), 0);
  EXPECT_EQ(last->finish(), 0);
  EXPECT_GE(leftovers, mid_write_kills) << "a writer killed mid-write left no temporary file";
  report(std::to_string(acknowledged) + " acknowledged writes of " + std::to_string(sent) +
         " sent, " + std::to_string(kills) + " SIGKILLs (" + std::to_string(mid_write_kills) +
         " of them with the writer stopped while its temporary file was on disk), " +
         std::to_string(leftovers) +
         " temporary files left by killed writers, each removed by the next write; the file "
         "never missing, torn or behind an acknowledged write");
}

TEST_F(FaultInjection, TwoSettingsProcessesWritingAtTheSameInstantLoseNoWrite) {
  initDeviceInMemory();
  auto a = openSettings();
  auto b = openSettings();
  const int rounds = 1000 * soakFactor();
  int checked = 0;
  for (int round = 1; round <= rounds; ++round) {
    bool on = round % 2 == 1;
    ASSERT_TRUE(a->send("set hiddenItemCount " + std::to_string(round) + "\n"));
    ASSERT_TRUE(b->send(std::string("set popToRoot ") + (on ? "on" : "off") + "\n"));
    ASSERT_EQ(readAnswers(*a, 1), 1) << "round " << round;
    ASSERT_EQ(readAnswers(*b, 1), 1) << "round " << round;
    ASSERT_EQ(settingsValue(settingsPath(), "hiddenItemCount"), std::to_string(round))
        << "round " << round;
    ASSERT_EQ(settingsValue(settingsPath(), "popToRoot"), on ? "1" : "0") << "round " << round;
    ++checked;
  }
  EXPECT_EQ(a->finish(), 0);
  EXPECT_EQ(b->finish(), 0);
  report(std::to_string(rounds) +
         " rounds of two Settings processes writing different keys "
         "together; after each, both values were in the file (" +
         std::to_string(checked) + " checks)");
}

TEST_F(FaultInjection, PhotosEndsABurstOfPostsWithTheLastValues) {
  initDeviceInMemory();
  writeSettings(enabledWith());
  auto photos = start("photos");
  ASSERT_EQ(vars(*photos)["hiddenItemCount"], "0");
  auto settings = openSettings();
  const int posts = 1000 * soakFactor();
  int notified = 0;
  for (int done = 0; done < posts;) {
    int batch = std::min(100, posts - done);
    std::string text;
    for (int i = 1; i <= batch; ++i) {
      text += "set hiddenItemCount " + std::to_string(done + i) + "\n";
      if ((done + i) % 50 == 0) {
        text += std::string("set showLockIcon ") + ((done + i) % 100 == 0 ? "on" : "off") + "\n";
      }
    }
    int answers = batch + static_cast<int>((done + batch) / 50 - done / 50);
    ASSERT_TRUE(settings->send(text));
    ASSERT_EQ(readAnswers(*settings, answers), answers);
    done += batch;
    // Photos prints a line per delivery; read them so it never waits on its output.
    for (const std::string& line : photos->drain(0)) notified += line.rfind("notified ", 0) == 0;
  }
  const std::string last = std::to_string(posts);
  EXPECT_TRUE(waitUntil([&] {
    for (const std::string& line : photos->drain(0)) notified += line.rfind("notified ", 0) == 0;
    return vars(*photos)["hiddenItemCount"] == last;
  }));
  auto v = vars(*photos);
  EXPECT_EQ(v["hiddenItemCount"], last);
  EXPECT_EQ(v["showLockIcon"], posts % 100 == 0 ? "YES" : "NO");
  EXPECT_EQ(hooks(*photos).size(), 4u);
  EXPECT_EQ(settings->finish(), 0);
  EXPECT_EQ(photos->finish(), 0);
  report(std::to_string(posts + posts / 50) +
         " changes posted while the file was rewritten; "
         "Photos took " +
         std::to_string(notified) +
         " coalesced deliveries and ended with "
         "hiddenItemCount " +
         v["hiddenItemCount"]);
}

TEST_F(FaultInjection, PhotosKilledWithAnAuthenticationReplyInFlightStartsCleanlyNextTime) {
  initDevice();
  writeSettings(enabledWith());
  {
    auto tccd = start("tccd");  // publishes the allow lists: the prompt offers Face ID
    ASSERT_NE(tccd->waitForLine("service kTCCServiceFaceID:", 5000), "");
  }
  const int kills = 10 * soakFactor();
  std::mt19937 rng(7);
  for (int i = 0; i < kills; ++i) {
    auto photos = start("photos");
    ASSERT_EQ(photos->command("tap Hidden"), (Lines{kPrompt + std::string(" face+passcode"), "ok"}))
        << "start " << i;
    // Alternate the answers that end in a reply: right, wrong, Face ID, cancel.
    static const char* const kAnswers[] = {"answer passcode 1234", "answer passcode 1111",
                                           "answer face", "answer cancel"};
    photos->send(std::string(kAnswers[i % 4]) + "\n");
    usleep(static_cast<useconds_t>(rng() % 3000));
    kill(photos->pid(), SIGKILL);
    EXPECT_EQ(photos->waitExit(5000), -SIGKILL);
  }
  // The next start: hooks in place, the lock asks, the right passcode opens,
  // a change from Settings still reaches it.
  auto photos = start("photos");
  EXPECT_EQ(hooks(*photos).size(), 4u);
  ASSERT_EQ(photos->command("tap Hidden"), (Lines{kPrompt + std::string(" face+passcode"), "ok"}));
  EXPECT_EQ(photos->command("answer passcode 1234"), (Lines{"passcode accepted", "ok"}));
  EXPECT_EQ(photos->command("where"), (Lines{"where Albums > Hidden", "ok"}));
  writeSettings(enabledWith({{"showLockIcon", "<true/>"}}));
  postChanged();
  EXPECT_NE(photos->waitForLine("notified com.qel.velmopreferences/changed", 5000), "");
  EXPECT_EQ(vars(*photos)["showLockIcon"], "YES");
  EXPECT_EQ(photos->finish(), 0);
  report(std::to_string(kills) +
         " Photos processes killed right after answering a prompt; "
         "the next start locked, unlocked and took a change as usual");
}

TEST_F(FaultInjection, ThePrivacyDaemonRestartedWhilePhotosRunsKeepsFaceIdOffered) {
  initDevice();
  writeSettings(enabledWith());
  auto photos = start("photos");
  const std::string face = kPrompt + std::string(" face+passcode");
  {
    auto tccd = start("tccd");
    ASSERT_NE(tccd->waitForLine("service kTCCServiceFaceID:", 5000), "");
    ASSERT_EQ(photos->command("tap Hidden"), (Lines{face, "ok"}));
    ASSERT_EQ(photos->command("answer cancel"), (Lines{"cancelled", "ok"}));
  }
  const int restarts = 10 * soakFactor();
  std::mt19937 rng(11);
  int offered = 0;
  for (int i = 0; i < restarts; ++i) {
    // Killed at a random point of its start, publishing included.
    auto tccd = start("tccd");
    usleep(static_cast<useconds_t>(rng() % 30000));
    kill(tccd->pid(), SIGKILL);
    tccd->waitExit(5000);
    Lines asked = photos->command("tap Hidden");
    ASSERT_EQ(asked.size(), 2u) << "restart " << i;
    // The lists were published before (a kill leaves the old or the new file).
    EXPECT_EQ(asked[0], face) << "restart " << i;
    offered += asked[0] == face;
    ASSERT_EQ(photos->command("answer cancel"), (Lines{"cancelled", "ok"}));
  }
  auto tccd = start("tccd");
  ASSERT_NE(tccd->waitForLine("service kTCCServiceFaceID:", 5000), "");
  ASSERT_EQ(photos->command("tap Hidden"), (Lines{face, "ok"}));
  EXPECT_EQ(photos->command("answer face"), (Lines{"Face ID matched", "ok"}));
  EXPECT_EQ(photos->command("where"), (Lines{"where Albums > Hidden", "ok"}));
  EXPECT_EQ(tccd->finish(), 0);
  EXPECT_EQ(photos->finish(), 0);
  report(std::to_string(restarts) +
         " privacy daemons killed at random points of their start "
         "while Photos ran; Face ID was offered " +
         std::to_string(offered) + " of " + std::to_string(restarts) +
         " times after them and matched at the end");
}

}  // namespace
