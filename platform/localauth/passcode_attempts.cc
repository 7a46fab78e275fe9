#include "platform/localauth/passcode_attempts.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <filesystem>

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

// Holds an exclusive lock on the record's lock file for its lifetime. Without
// a lock file (an unwritable folder) the judgement goes on unlocked.
class RecordLock {
 public:
  RecordLock() {
    std::string path = recordPath();
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ec);
    fd_ = ::open((path + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd_ >= 0) {
      while (::flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
      }
    }
  }
  ~RecordLock() {
    if (fd_ >= 0) ::close(fd_);
  }
  RecordLock(const RecordLock&) = delete;
  RecordLock& operator=(const RecordLock&) = delete;

 private:
  int fd_ = -1;
};

int64_t integerFor(NSDictionary* dict, id key) {
  id value = dict->find(key);
  return foundation::isNumber(value) ? msg<long long>(value, "longLongValue"_sel) : 0;
}

Record readRecord() {
  objc::AutoreleasePool pool;
  Record record;
  plist::Result read = plist::readFile(recordPath());
  if (!foundation::isDictionary(read.value)) return record;
  auto* dict = static_cast<NSDictionary*>(read.value.get());
  record.failures = std::max<int64_t>(0, integerFor(dict, "failures"_ns));
  record.lockedUntil = integerFor(dict, "lockedUntil"_ns);
  id hash = dict->find("lastWrongHash"_ns);
  if (foundation::isString(hash)) record.lastWrongHash = foundation::stdString(hash);
  return record;
}

void writeRecord(const Record& record) {
  objc::AutoreleasePool pool;
  Strong<NSDictionary> dict = foundation::newDictionary(/*mutable_=*/true);
  msg<void>(dict, "setObject:forKey:"_sel, foundation::integerNumber(record.failures),
            "failures"_ns);
  msg<void>(dict, "setObject:forKey:"_sel, foundation::makeString(record.lastWrongHash),
            "lastWrongHash"_ns);
  msg<void>(dict, "setObject:forKey:"_sel, foundation::integerNumber(record.lockedUntil),
            "lockedUntil"_ns);
  plist::writeFile(recordPath(), dict);
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

int64_t lockoutRemaining() {
  Record record = readRecord();
  int64_t left = record.lockedUntil - device::clockNow();
  return left > 0 ? left : 0;
}

PasscodeJudgement judgePasscode(const std::string& passcode) {
  RecordLock lock;
  Record record = readRecord();
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
    writeRecord(record);
  }
  judgement.lockoutSeconds = record.lockedUntil > now ? record.lockedUntil - now : 0;
  return judgement;
}

}  // namespace localauth
