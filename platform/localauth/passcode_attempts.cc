#include "platform/localauth/passcode_attempts.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <thread>

#include "platform/foundation/collections.h"
#include "platform/foundation/device.h"
#include "platform/foundation/device_clock.h"
#include "platform/foundation/nsnumber.h"
#include "platform/foundation/nsstring.h"
#include "platform/foundation/plist.h"

namespace localauth {
namespace {

struct Record {
  int64_t failures = 0;
  std::string lastWrongHash;
  int64_t lockedUntil = 0;
};

std::string recordPath() { return device::devicePath(kPasscodeRecordPath); }

// How long a judgement waits for another process's judgement to end before
// it gives up: one read-modify-write takes milliseconds, so a lock held this
// long is held by something that is stuck or stopped, and the owner's
// thread must not wait for it.
constexpr auto kLockPatience = std::chrono::milliseconds(1500);
constexpr auto kLockRetry = std::chrono::milliseconds(10);

// Holds an exclusive lock on the record's lock file for its lifetime, or
// says why it could not be had. The lock is tried without blocking, again
// and again for at most kLockPatience.
class RecordLock {
 public:
  RecordLock() {
    std::string path = recordPath();
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ec);
    fd_ = ::open((path + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd_ < 0) {
      error_ = "cannot lock " + path + ".lock: " + std::strerror(errno);
      return;
    }
    auto deadline = std::chrono::steady_clock::now() + kLockPatience;
    while (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
      if (errno == EINTR) continue;
      if (errno != EWOULDBLOCK) {
        error_ = "cannot lock " + path + ".lock: " + std::strerror(errno);
        return;
      }
      if (std::chrono::steady_clock::now() >= deadline) {
        busy_ = true;
        return;
      }
      std::this_thread::sleep_for(kLockRetry);
    }
  }
  ~RecordLock() {
    if (fd_ >= 0) ::close(fd_);
  }
  RecordLock(const RecordLock&) = delete;
  RecordLock& operator=(const RecordLock&) = delete;
  const std::string& error() const { return error_; }
  // Another process held the lock all the while.
  bool busy() const { return busy_; }

 private:
  int fd_ = -1;
  std::string error_;
  bool busy_ = false;
};

int64_t integerFor(NSDictionary* dict, id key) {
  id value = dict->find(key);
  return foundation::isNumber(value) ? msg<long long>(value, "longLongValue"_sel) : 0;
}

// Reads the record into `record`; a missing one is no failures. Returns ""
// or why the record could not be read.
std::string readRecord(Record* record) {
  objc::AutoreleasePool pool;
  *record = Record();
  std::string path = recordPath();
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0 && errno == ENOENT) return "";
  plist::Result read = plist::readFile(path);
  if (!read.error.empty()) return read.error;
  if (!foundation::isDictionary(read.value)) return path + ": not a passcode record";
  auto* dict = static_cast<NSDictionary*>(read.value.get());
  record->failures = std::max<int64_t>(0, integerFor(dict, "failures"_ns));
  record->lockedUntil = integerFor(dict, "lockedUntil"_ns);
  id hash = dict->find("lastWrongHash"_ns);
  if (foundation::isString(hash)) record->lastWrongHash = foundation::stdString(hash);
  return "";
}

// Returns "" or why the record could not be saved.
std::string writeRecord(const Record& record) {
  objc::AutoreleasePool pool;
  Strong<NSDictionary> dict = foundation::newDictionary(/*mutable_=*/true);
  msg<void>(dict, "setObject:forKey:"_sel, foundation::integerNumber(record.failures),
            "failures"_ns);
  msg<void>(dict, "setObject:forKey:"_sel, foundation::makeString(record.lastWrongHash),
            "lastWrongHash"_ns);
  msg<void>(dict, "setObject:forKey:"_sel, foundation::integerNumber(record.lockedUntil),
            "lockedUntil"_ns);
  return plist::writeFile(recordPath(), dict);
}

PasscodeJudgement unavailable(const std::string& why) {
  PasscodeJudgement judgement;
  judgement.outcome = PasscodeJudgement::Outcome::kUnavailable;
  judgement.error = "the passcode record cannot be used: " + why;
  return judgement;
}

}  // namespace

int64_t lockoutAfter(int64_t failures) {
  if (failures < 5) return 0;
  if (failures == 5) return 60;
  if (failures == 6) return 5 * 60;
  if (failures <= 8) return 15 * 60;
  return 60 * 60;
}

std::string minutesText(int64_t seconds) {
  int64_t minutes = (seconds + 59) / 60;
  if (minutes < 1) minutes = 1;
  return std::to_string(minutes) + (minutes == 1 ? " minute" : " minutes");
}

int64_t lockoutRemaining(std::string* error) {
  Record record;
  std::string why = readRecord(&record);
  if (error != nullptr) *error = why.empty() ? "" : "the passcode record cannot be used: " + why;
  if (!why.empty()) return 0;
  int64_t left = record.lockedUntil - device::clockNow();
  return left > 0 ? left : 0;
}

PasscodeJudgement judgePasscode(const std::string& passcode) {
  RecordLock lock;
  if (lock.busy()) {
    PasscodeJudgement judgement = unavailable("");
    judgement.error = kRecordBusy;
    return judgement;
  }
  if (!lock.error().empty()) return unavailable(lock.error());
  Record record;
  if (std::string why = readRecord(&record); !why.empty()) return unavailable(why);
  int64_t now = device::clockNow();
  PasscodeJudgement judgement;
  if (record.lockedUntil > now) {
    judgement.outcome = PasscodeJudgement::Outcome::kLockedOut;
    judgement.lockoutSeconds = record.lockedUntil - now;
    return judgement;
  }
  device::Config config = device::readConfig();
  if (device::passcodeMatches(config, passcode)) {
    judgement.outcome = PasscodeJudgement::Outcome::kAccepted;
    // The owner is in even if the cleared record cannot be saved: the count
    // it keeps then only errs on the strict side.
    if (record.failures != 0 || !record.lastWrongHash.empty() || record.lockedUntil != 0) {
      writeRecord(Record());
    }
    return judgement;
  }
  // The salted hash tells a repeat of the last wrong code without keeping it.
  std::string hash = device::hashPasscode(config.passcodeSalt, passcode);
  judgement.outcome = PasscodeJudgement::Outcome::kWrong;
  judgement.counted = hash.empty() || hash != record.lastWrongHash;
  if (judgement.counted) {
    ++record.failures;
    record.lastWrongHash = hash;
    int64_t wait = lockoutAfter(record.failures);
    if (wait > 0) record.lockedUntil = now + wait;
    // A failure that cannot be counted must not be answered as one: the
    // next guess would find the count where it was.
    if (std::string why = writeRecord(record); !why.empty()) return unavailable(why);
  }
  judgement.lockoutSeconds = record.lockedUntil > now ? record.lockedUntil - now : 0;
  return judgement;
}

}  // namespace localauth
