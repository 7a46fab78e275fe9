// The device's record of failed passcode answers, and the lock-out it leads
// to, as a phone keeps them: for the whole device, not per prompt or per app.
//
//   - Each wrong passcode counts one failure, except the same wrong code
//     entered again right after itself, which counts once.
//   - From the fifth failure on, passcode answers are refused for a while,
//     measured on the device's clock (device_clock.h): 1 minute after the
//     fifth failure, 5 after the sixth, 15 after the seventh and the eighth,
//     60 after the ninth and each one after it.
//   - A right passcode clears the record. A restart of the app does not.
//
// The record lives in <root>/var/db/passcode.plist ("failures", the salted
// hash of the last wrong code, "lockedUntil" in device-clock seconds), so
// every process of the device sees the same count. A missing record means no
// failures. A record that cannot be locked, read or saved fails closed: no
// passcode is judged until it can be, so a broken record never hands out
// unlimited guesses. The wrong code itself is never stored.
//
// The lock is never waited for without end: a judgement tries it without
// blocking for about a second and a half, then gives up with kRecordBusy
// (another process holds it: stuck, or stopped), judging and counting
// nothing, so that the thread answering the prompt goes on.
//
// Thread safety: safe from any thread and across processes; each judgement
// is one read-modify-write under a lock file beside the record.
#pragma once

#include <cstdint>
#include <string>

namespace localauth {

inline constexpr char kPasscodeRecordPath[] = "/var/db/passcode.plist";
// The error of a judgement that could not have the record's lock in time.
inline constexpr char kRecordBusy[] = "the passcode record is busy";

struct PasscodeJudgement {
  enum class Outcome { kAccepted, kWrong, kLockedOut, kUnavailable } outcome = Outcome::kWrong;
  bool counted = false;        // kWrong: a new failure, counted in the record (not a
                               // repeat of the last wrong code)
  int64_t lockoutSeconds = 0;  // kWrong, kLockedOut: how long answers are refused from now
  std::string error;           // kUnavailable: why the record could not be used
};

// Judges `passcode` against the device's passcode and its record: a refusal
// while locked out (the code is not even looked at), acceptance, or a failure.
// Blocks for at most about a second and a half waiting for the record.
PasscodeJudgement judgePasscode(const std::string& passcode);

// Seconds until passcode answers are taken again; 0 when they are now. When
// the record cannot be read, returns 0 and sets `error` (if given).
int64_t lockoutRemaining(std::string* error = nullptr);

// The wait after the `failures`-th failure, in seconds.
int64_t lockoutAfter(int64_t failures);

// "1 minute", "5 minutes": the wait as the phone states it, rounded up.
std::string minutesText(int64_t seconds);

}  // namespace localauth
