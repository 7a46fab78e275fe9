#include "platform/localauth/passcode_attempts.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>

#include "platform/foundation/collections.h"
#include "platform/foundation/device.h"
#include "platform/foundation/device_clock.h"
#include "platform/foundation/file_lock.h"
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
// it gives up: one read-modify-write takes milliseconds (and the slow check
// of the code a tenth of a second), so a lock held this long is held by
// something that is stuck or stopped, and the owner's thread must not wait
// for it.
constexpr auto kLockPatience = std::chrono::milliseconds(1500);

// The lock of the record's lock file beside the record (its folder made
// first), tried for at most kLockPatience.
class RecordLock {
 public:
  RecordLock() : lock_(lockPath(), kLockPatience) {}
  const std::string& error() const { return lock_.error(); }
  bool busy() const { return lock_.busy(); }

 private:
  static std::string lockPath() {
    std::string path = recordPath();
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ec);
    return path + ".lock";
  }
  device::FileLock lock_;
};

int64_t integerFor(NSDictionary* dict, id key) {
  id value = dict->find(key);
  return foundation::isNumber(value) ? msg<long long>(value, "longLongValue"_sel) : 0;
}

// Reads the record into `record`; a missing one reads as no failures with
// `missing` set. Returns "" or why the record could not be read.
std::string readRecord(Record* record, bool* missing) {
  objc::AutoreleasePool pool;
  *record = Record();
  *missing = false;
  std::string path = recordPath();
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0 && errno == ENOENT) {
    *missing = true;
    return "";
  }
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
  return plist::writeFile(recordPath(), dict, 0600);
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

namespace {

// The device's passcode as the record's judgement needs it: the key a code
// derives and the key to compare it with.
struct Check {
  device::Config config;
  device::PasscodeVerifier verifier;  // unused on a device made before verifiers
  bool legacy = false;
  std::string error;  // why no code can be checked ("" when one can)

  std::string keyOf(const std::string& passcode) const {
    return legacy ? device::hashPasscode(config.passcodeSalt, passcode)
                  : device::verifierKey(verifier, passcode);
  }
  const std::string& expected() const { return legacy ? config.passcodeHash : verifier.key; }
};

Check readCheck() {
  Check check;
  check.config = device::readConfig();
  if (!device::hasPasscode(check.config)) {
    check.error = "the device has no passcode";
  } else if (device::hasLegacyPasscode(check.config)) {
    check.legacy = true;
  } else if (std::string why = device::readVerifier(&check.verifier); !why.empty()) {
    check.error = "the passcode cannot be checked: " + why;
  }
  return check;
}

// A device made before verifiers gets one, and loses its old salted hash,
// once its owner has given the right code. The verifier goes first and the
// configuration last: until device.plist says so, the old hash is what
// checks the code, so a step that fails leaves the device as it was.
void upgrade(const Check& check, const std::string& passcode) {
  if (!check.legacy) return;
  if (!device::writeVerifier(device::makeVerifier(passcode)).empty()) return;
  device::Config config = check.config;
  config.passcode = true;
  config.passcodeSalt.clear();
  config.passcodeHash.clear();
  device::writeConfig(config);
}

// The record as it must be read for a judgement: a missing one is refused
// unless the device predates records.
std::string readRecordFor(const device::Config& config, Record* record) {
  bool missing = false;
  if (std::string why = readRecord(record, &missing); !why.empty()) {
    return "the passcode record cannot be used: " + why;
  }
  if (missing && device::hasPasscode(config) && !device::hasLegacyPasscode(config)) {
    return kRecordMissing;
  }
  return "";
}

}  // namespace

int64_t lockoutRemaining(std::string* error) {
  Record record;
  std::string why = readRecordFor(device::readConfig(), &record);
  if (error != nullptr) *error = why;
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
  Check check = readCheck();
  Record record;
  if (std::string why = readRecordFor(check.config, &record); !why.empty()) {
    PasscodeJudgement judgement = unavailable("");
    judgement.error = why;
    return judgement;
  }
  int64_t now = device::clockNow();
  PasscodeJudgement judgement;
  if (record.lockedUntil > now) {
    judgement.outcome = PasscodeJudgement::Outcome::kLockedOut;
    judgement.lockoutSeconds = record.lockedUntil - now;
    return judgement;
  }
  if (!check.error.empty()) {
    judgement = unavailable("");
    judgement.error = check.error;
    return judgement;
  }
  // The key the code derives (the slow part) tells a repeat of the last
  // wrong code without keeping it.
  std::string key = check.keyOf(passcode);
  if (key.empty()) {
    judgement = unavailable("");
    judgement.error = "the passcode cannot be checked: a damaged passcode verifier";
    return judgement;
  }
  bool repeat = device::sameKey(key, record.lastWrongHash);
  // The answer is counted, and the count saved, before it is judged: an
  // answer whose count cannot be saved is not judged at all, so a full or
  // read-only disk never hands out uncounted guesses.
  Record counted = record;
  if (!repeat) {
    ++counted.failures;
    counted.lastWrongHash = key;
    int64_t wait = lockoutAfter(counted.failures);
    if (wait > 0) counted.lockedUntil = now + wait;
  }
  if (std::string why = writeRecord(counted); !why.empty()) return unavailable(why);
  if (device::sameKey(key, check.expected())) {
    judgement.outcome = PasscodeJudgement::Outcome::kAccepted;
    // The owner is in even if the cleared record cannot be saved: the count
    // it keeps then only errs on the strict side.
    writeRecord(Record());
    upgrade(check, passcode);
    return judgement;
  }
  judgement.outcome = PasscodeJudgement::Outcome::kWrong;
  judgement.counted = !repeat;
  judgement.lockoutSeconds = counted.lockedUntil > now ? counted.lockedUntil - now : 0;
  return judgement;
}

std::string setDevicePasscode(device::Config config, const std::string& passcode,
                              long long iterations) {
  std::error_code ec;
  std::filesystem::create_directories(std::filesystem::path(recordPath()).parent_path(), ec);
  config.passcodeSalt.clear();
  config.passcodeHash.clear();
  config.passcode = !passcode.empty();
  if (passcode.empty()) {
    std::filesystem::remove(device::devicePath(device::kPasscodeVerifierPath), ec);
    std::filesystem::remove(recordPath(), ec);
    return device::writeConfig(config);
  }
  if (std::string e = device::writeVerifier(device::makeVerifier(passcode, iterations));
      !e.empty()) {
    return e;
  }
  if (std::string e = writeRecord(Record()); !e.empty()) return e;
  return device::writeConfig(config);
}

ResetResult resetPasscodeRecord(const std::string& passcode) {
  ResetResult result;
  RecordLock lock;
  if (lock.busy()) {
    result.message = kRecordBusy;
    return result;
  }
  if (!lock.error().empty()) {
    result.message = "the passcode record cannot be used: " + lock.error();
    return result;
  }
  Check check = readCheck();
  if (!device::hasPasscode(check.config)) {
    result.message = "the device has no passcode";
    return result;
  }
  Record record;
  bool missing = false;
  std::string damaged = readRecord(&record, &missing);
  if (damaged.empty() && (!missing || check.legacy)) {
    result.message = "the passcode record is in order: nothing to reset";
    return result;
  }
  if (!check.error.empty()) {
    result.message = check.error;
    return result;
  }
  std::string key = check.keyOf(passcode);
  if (key.empty()) {
    result.message = "the passcode cannot be checked: a damaged passcode verifier";
    return result;
  }
  // What the lost record held is unknown: it is taken to have been at its
  // longest wait, and this attempt is counted on it before it is judged.
  Record counted;
  counted.failures = 10;
  counted.lastWrongHash = key;
  counted.lockedUntil = device::clockNow() + lockoutAfter(counted.failures);
  if (std::string why = writeRecord(counted); !why.empty()) {
    result.message = "the passcode record cannot be used: " + why;
    return result;
  }
  if (!device::sameKey(key, check.expected())) {
    result.message = "wrong passcode; the new record makes the device wait " +
                     minutesText(lockoutAfter(counted.failures));
    return result;
  }
  if (std::string why = writeRecord(Record()); !why.empty()) {
    result.message = "the passcode record cannot be used: " + why;
    return result;
  }
  upgrade(check, passcode);
  result.reset = true;
  result.message = "passcode record reset";
  return result;
}

}  // namespace localauth
