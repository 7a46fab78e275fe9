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
// The record lives in <root>/var/db/passcode.plist ("failures", the key the
// last wrong code derived under the device's verifier, "lockedUntil" in
// device-clock seconds), mode 0600, so every process of the device sees the
// same count. It is made with the passcode (`velmo-device init`); from then on
// a missing record is a tampered one (someone deleted it to drop a lock-out):
// no answer is taken (kRecordMissing) until the owner makes it anew with
// resetPasscodeRecord (`velmo-device reset-passcode-record`). Only a device
// made before records came with the passcode (device.h's old salted hash)
// reads a missing record as no failures. A record that cannot be locked,
// read or saved fails closed: no passcode is judged until it can be, so a
// broken record never hands out unlimited guesses. The wrong code itself is
// never stored.
//
// Each answer is counted before it is judged: the record is saved with the
// answer taken as a failure, and only then is the code compared with the
// verifier (in constant time); a right code then clears the record. An
// answer whose count cannot be saved (a full disk) is refused, the right
// code too, so that no guess ever goes uncounted. A right answer on a
// device made before verifiers replaces its old salted hash with a verifier.
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

#include "platform/foundation/device.h"

namespace localauth {

inline constexpr char kPasscodeRecordPath[] = "/var/db/passcode.plist";
// The error of a judgement that could not have the record's lock in time.
inline constexpr char kRecordBusy[] = "the passcode record is busy";
// The error of a judgement on a device with a passcode and no record.
inline constexpr char kRecordMissing[] = "the passcode record is missing";

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

// Gives the device `passcode` ("" for none): its verifier (0600, with the
// work factor given: the device always uses device::kPasscodeIterations), a
// fresh record with no failures, and "passcode" in `config`, written to
// device.plist. Without a passcode the verifier and the record are removed.
// Returns "" or why not.
std::string setDevicePasscode(device::Config config, const std::string& passcode,
                              long long iterations = device::kPasscodeIterations);

// What resetPasscodeRecord did: `message` is the line to print, "passcode
// record reset" on success and the reason otherwise.
struct ResetResult {
  bool reset = false;
  std::string message;
};

// Makes a fresh record on a device whose record is missing or damaged, when
// `passcode` is the device's: the owner's way out of kRecordMissing. A record
// in order is left as it is (its lock-out stands), without looking at the
// code. The attempt is counted before the code is judged: the new record is
// first saved as that of a device at its longest wait with one failure more,
// so a wrong code leaves the device waiting an hour, and a folder it cannot
// write judges nothing. A right code then clears it.
ResetResult resetPasscodeRecord(const std::string& passcode);

// The wait after the `failures`-th failure, in seconds.
int64_t lockoutAfter(int64_t failures);

// "1 minute", "5 minutes": the wait as the phone states it, rounded up.
std::string minutesText(int64_t seconds);

}  // namespace localauth
