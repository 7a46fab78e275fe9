// The device-wide record of failed passcodes: lock-out delays on the device's
// clock, repeats that count once, a right answer clearing the record, and the
// prompt that stays up (and can be cancelled) while the device makes its
// owner wait. Also the system's cancel when the app leaves the screen, and
// the modal flag UIKit reads.
#include "platform/localauth/passcode_attempts.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <vector>

#include "platform/foundation/nsnumber.h"
#include "platform/localauth/test_device.h"
#include "platform/uikit/uiapplication.h"

namespace {

using localauth::answerCancel;
using localauth::answerFace;
using localauth::answerPasscode;
using localauth::pendingPrompt;
using localauth::promptCount;
using testing_support::AuthTest;
using testing_support::evaluate;
using testing_support::Replies;
using testing_support::settle;

Strong<LAContext> newContext() { return allocInit<LAContext>(localauth::contextClass()); }

// Ends what is still waiting while the test's reply recorder is alive.
void dismiss() {
  while (promptCount() > 0) answerCancel();
  settle();
}

// The failures the device's record counts; -1 when it has none to read.
long long recordFailures() {
  Strong<objc_object> record =
      plist::readFile(device::devicePath(localauth::kPasscodeRecordPath)).value;
  if (!foundation::isDictionary(record)) return -1LL;
  id count = static_cast<NSDictionary*>(record.get())->find("failures"_ns);
  return foundation::isNumber(count) ? msg<long long>(count, "longLongValue"_sel) : -1LL;
}

using Lockout = AuthTest;

TEST_F(Lockout, DelaysGrowFromTheFifthFailureOnAndOnlyTheClockEndsThem) {
  EXPECT_EQ(localauth::lockoutAfter(4), 0);
  const int64_t expected[] = {60, 300, 900, 900, 3600, 3600, 3600};
  Replies replies;
  evaluate(newContext(), "reason", replies.block());
  for (int i = 1; i <= 4; ++i) {
    ASSERT_TRUE(answerPasscode("000" + std::to_string(i)).taken);
  }
  EXPECT_EQ(localauth::lockoutRemaining(), 0);
  // Failures 5 to 11, each on a fresh prompt; each starts its own wait.
  for (int n = 5; n <= 11; ++n) {
    SCOPED_TRACE("failure " + std::to_string(n));
    if (!pendingPrompt()) evaluate(newContext(), "reason", replies.block());
    ASSERT_TRUE(answerPasscode("9" + std::to_string(n)).taken);
    EXPECT_EQ(localauth::lockoutAfter(n), expected[n - 5]);
    int64_t left = localauth::lockoutRemaining();
    EXPECT_GT(left, expected[n - 5] - 5);
    EXPECT_LE(left, expected[n - 5]);
    // Refused while waiting, the right code too, and Face ID; the prompt stays.
    if (!pendingPrompt()) evaluate(newContext(), "reason", replies.block());
    auto refused = answerPasscode("1234");
    EXPECT_FALSE(refused.taken);
    EXPECT_EQ(refused.message, "error: try again in " + localauth::minutesText(left));
    EXPECT_FALSE(answerFace().taken);
    ASSERT_TRUE(pendingPrompt());
    ASSERT_EQ(device::advanceClock(expected[n - 5] - 10), "");
    EXPECT_FALSE(answerPasscode("1234").taken) << "still ten seconds to wait";
    ASSERT_EQ(device::advanceClock(10), "");
    EXPECT_EQ(localauth::lockoutRemaining(), 0);
  }
  // A right answer, once allowed, opens and clears the record.
  if (!pendingPrompt()) evaluate(newContext(), "reason", replies.block());
  EXPECT_EQ(answerPasscode("1234").message, "passcode accepted");
  evaluate(newContext(), "reason", replies.block());
  EXPECT_EQ(answerPasscode("0000").message, "wrong passcode, 4 attempts left");
  EXPECT_EQ(localauth::lockoutRemaining(), 0);
  dismiss();
}

TEST_F(Lockout, TheSameWrongCodeTwiceInARowCountsOnce) {
  Replies replies;
  evaluate(newContext(), "reason", replies.block());
  EXPECT_EQ(answerPasscode("1111").message, "wrong passcode, 4 attempts left");
  EXPECT_EQ(answerPasscode("1111").message, "wrong passcode, 4 attempts left");
  EXPECT_EQ(answerPasscode("2222").message, "wrong passcode, 3 attempts left");
  EXPECT_EQ(answerPasscode("1111").message, "wrong passcode, 2 attempts left");
  answerCancel();
  // The record outlives the prompt (and the app). A new prompt's attempts
  // are the failures the record counts: the device's last wrong code, again,
  // costs none here either.
  evaluate(newContext(), "reason", replies.block());
  EXPECT_EQ(answerPasscode("1111").message, "wrong passcode, 5 attempts left");
  EXPECT_EQ(answerPasscode("3333").message, "wrong passcode, 4 attempts left");
  EXPECT_EQ(answerPasscode("4444").message,
            "wrong passcode, 3 attempts left; try again in 1 minute");
  dismiss();
}

// The failures a prompt has taken off its attempts are the ones the
// device's record counted, whatever was answered, on this prompt or another.
TEST_F(Lockout, ThePromptsAttemptsAndTheRecordNeverDisagree) {
  Replies replies;
  evaluate(newContext(), "reason", replies.block());
  ASSERT_EQ(answerPasscode("1111").message, "wrong passcode, 4 attempts left");
  // An empty answer (OK on an empty field) is no answer at all.
  auto empty = answerPasscode("");
  EXPECT_FALSE(empty.taken);
  EXPECT_EQ(empty.message, "error: no passcode entered");
  EXPECT_EQ(recordFailures(), 1);
  EXPECT_EQ(pendingPrompt()->attemptsLeft, 4);
  // Codes in any order, repeats among them; after each the prompt's count
  // and the record's agree.
  for (const char* code : {"1111", "2222", "2222", "1111", "3333"}) {
    SCOPED_TRACE(code);
    ASSERT_TRUE(answerPasscode(code).taken);
    ASSERT_TRUE(pendingPrompt());
    EXPECT_EQ(localauth::kMaxPasscodeAttempts - pendingPrompt()->attemptsLeft, recordFailures());
  }
  EXPECT_EQ(recordFailures(), 4);
  dismiss();
}

TEST_F(Lockout, ARecordLockHeldElsewhereIsWaitedForBrieflyThenRefusedAsBusy) {
  // A judgement that waits for the lock without end fails the test.
  testing_support::Watchdog dog("answers while the record's lock is held",
                                std::chrono::seconds(15));
  std::string lock_path = device::devicePath(localauth::kPasscodeRecordPath) + ".lock";
  std::filesystem::create_directories(std::filesystem::path(lock_path).parent_path());
  // Another open file description: flock conflicts with it as with another
  // process's.
  int held = ::open(lock_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  ASSERT_GE(held, 0);
  ASSERT_EQ(::flock(held, LOCK_EX | LOCK_NB), 0);
  Replies replies;
  evaluate(newContext(), "reason", replies.block());
  auto started = std::chrono::steady_clock::now();
  auto busy = answerPasscode("1234");
  auto waited = std::chrono::steady_clock::now() - started;
  EXPECT_FALSE(busy.taken);
  EXPECT_EQ(busy.message, "error: the passcode record is busy");
  EXPECT_GE(waited, std::chrono::milliseconds(500)) << "gave up at once";
  EXPECT_LT(waited, std::chrono::seconds(3)) << "waited too long";
  EXPECT_EQ(answerPasscode("0000").message, "error: the passcode record is busy");
  EXPECT_EQ(recordFailures(), 0) << "a failure was counted";
  ASSERT_TRUE(pendingPrompt());
  EXPECT_EQ(pendingPrompt()->attemptsLeft, localauth::kMaxPasscodeAttempts);
  // Released, the next answer is judged.
  ::close(held);
  EXPECT_EQ(answerPasscode("1234").message, "passcode accepted");
  dismiss();
}

TEST_F(Lockout, TheWrongCodeIsNotKeptInClear) {
  Replies replies;
  evaluate(newContext(), "reason", replies.block());
  answerPasscode("8642");
  std::string bytes;
  ASSERT_EQ(
      device::readWholeFile(device::devicePath(localauth::kPasscodeRecordPath), 1 << 16, &bytes),
      "");
  EXPECT_EQ(bytes.find("8642"), std::string::npos);
  dismiss();
}

TEST_F(Lockout, ARecordThatCannotBeReadOrSavedJudgesNothing) {
  namespace fs = std::filesystem;
  std::string record = device::devicePath(localauth::kPasscodeRecordPath);
  Replies replies;
  evaluate(newContext(), "reason", replies.block());
  // Something that is not a record where the record goes: no guess is taken,
  // the right code neither, nor a face; the prompt stays to be cancelled.
  fs::remove(record);
  fs::create_directories(record);
  auto refused = answerPasscode("0000");
  EXPECT_FALSE(refused.taken);
  EXPECT_EQ(refused.message.rfind("error: the passcode record cannot be used: ", 0), 0u)
      << refused.message;
  EXPECT_FALSE(answerPasscode("1234").taken);
  EXPECT_FALSE(answerFace().taken);
  ASSERT_TRUE(pendingPrompt());
  fs::remove(record);
  // Nor without the lock that keeps two judgements from racing.
  fs::remove(record + ".lock");
  fs::create_directory(record + ".lock");
  EXPECT_FALSE(answerPasscode("0000").taken);
  fs::remove(record + ".lock");
  // The record gone, the device's owner makes it anew.
  EXPECT_EQ(answerPasscode("1234").message, "error: the passcode record is missing");
  EXPECT_EQ(localauth::resetPasscodeRecord("1234").message, "passcode record reset");
  EXPECT_EQ(answerPasscode("1234").message, "passcode accepted");
  dismiss();
}

// A disk that takes no more bytes (a file-size limit of 0 makes every write
// fail, as a full one does): no answer is judged, the right code neither, so
// no guess goes uncounted; the prompt stays up, and once the record can be
// written again the count is where it was.
TEST_F(Lockout, AnAnswerWhoseCountCannotBeSavedIsNotJudged) {
  Replies replies;
  evaluate(newContext(), "reason", replies.block());
  ASSERT_EQ(answerPasscode("1111").message, "wrong passcode, 4 attempts left");
  struct rlimit before;
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &before), 0);
  auto old_handler = ::signal(SIGXFSZ, SIG_IGN);
  struct rlimit none = before;
  none.rlim_cur = 0;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &none), 0);
  // Nothing printed while no file may grow: the answers are looked at after.
  std::vector<localauth::AnswerResult> answers;
  for (int i = 0; i < 9; ++i) answers.push_back(answerPasscode("9" + std::to_string(100 + i)));
  answers.push_back(answerPasscode("1234"));
  ::setrlimit(RLIMIT_FSIZE, &before);
  ::signal(SIGXFSZ, old_handler);
  for (const auto& refused : answers) {
    EXPECT_FALSE(refused.taken) << refused.message;
    EXPECT_EQ(refused.message.rfind("error: the passcode record cannot be used: cannot ", 0), 0u)
        << refused.message;
  }
  EXPECT_EQ(recordFailures(), 1);
  ASSERT_TRUE(pendingPrompt());
  EXPECT_EQ(pendingPrompt()->attemptsLeft, 4);
  EXPECT_EQ(answerPasscode("2222").message, "wrong passcode, 3 attempts left");
  EXPECT_EQ(answerPasscode("1234").message, "passcode accepted");
  dismiss();
}

// A device made before verifiers (a salt and one SHA-256 in device.plist)
// still takes its code, once: the right answer replaces the hash with a
// verifier at the device's work factor.
TEST_F(Lockout, AnOldDevicesHashIsReadThenReplacedByAVerifier) {
  namespace fs = std::filesystem;
  device::Config old;
  old.passcodeSalt = device::newSalt();
  old.passcodeHash = device::hashPasscode(old.passcodeSalt, "1234");
  ASSERT_EQ(device::writeConfig(old), "");
  fs::remove(device::devicePath(device::kPasscodeVerifierPath));
  fs::remove(device::devicePath(localauth::kPasscodeRecordPath));
  Replies replies;
  evaluate(newContext(), "reason", replies.block());
  // No record yet is no failures on such a device.
  EXPECT_EQ(answerPasscode("1111").message, "wrong passcode, 4 attempts left");
  EXPECT_EQ(answerPasscode("1234").message, "passcode accepted");
  device::Config now = device::readConfig();
  EXPECT_TRUE(now.passcode);
  EXPECT_EQ(now.passcodeHash, "");
  EXPECT_EQ(now.passcodeSalt, "");
  device::PasscodeVerifier verifier;
  ASSERT_EQ(device::readVerifier(&verifier), "");
  EXPECT_EQ(verifier.iterations, device::kPasscodeIterations);
  EXPECT_EQ(
      fs::status(device::devicePath(device::kPasscodeVerifierPath)).permissions() & fs::perms::all,
      fs::perms::owner_read | fs::perms::owner_write);
  evaluate(newContext(), "reason", replies.block());
  EXPECT_EQ(answerPasscode("1111").message, "wrong passcode, 4 attempts left");
  EXPECT_EQ(answerPasscode("1234").message, "passcode accepted");
  dismiss();
}

// A verifier others may write, or one whose work factor is out of bounds,
// judges no code (the right one neither) and counts nothing.
TEST_F(Lockout, AVerifierThatCannotBeTrustedJudgesNothing) {
  namespace fs = std::filesystem;
  std::string path = device::devicePath(device::kPasscodeVerifierPath);
  Replies replies;
  evaluate(newContext(), "reason", replies.block());
  fs::permissions(path, fs::perms::others_write, fs::perm_options::add);
  EXPECT_EQ(answerPasscode("1234").message, "error: the passcode cannot be checked: " + path +
                                                ": writable by others than the device's owner");
  fs::permissions(path, fs::perms::others_write, fs::perm_options::remove);
  for (long long factor : {1LL, 0LL, -5LL, device::kMaxPasscodeIterations + 1}) {
    SCOPED_TRACE(factor);
    device::PasscodeVerifier weak = device::makeVerifier("1234", device::kMinPasscodeIterations);
    weak.iterations = factor;
    ASSERT_EQ(device::writeVerifier(weak), "");
    EXPECT_EQ(answerPasscode("1234").message,
              "error: the passcode cannot be checked: " + path + ": a damaged passcode verifier");
  }
  EXPECT_EQ(recordFailures(), 0);
  ASSERT_TRUE(pendingPrompt());
  ASSERT_EQ(device::writeVerifier(device::makeVerifier("1234", device::kMinPasscodeIterations)),
            "");
  EXPECT_EQ(answerPasscode("1234").message, "passcode accepted");
  dismiss();
}

// A process killed while it saved the record leaves its temporary file; the
// next save removes it, but not the file of a writer that still runs.
TEST_F(Lockout, ASaveRemovesWhatKilledWritersLeftBesideTheRecord) {
  namespace fs = std::filesystem;
  fs::path record = device::devicePath(localauth::kPasscodeRecordPath);
  fs::create_directories(record.parent_path());
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) _exit(0);
  ASSERT_EQ(waitpid(child, nullptr, 0), child);
  auto start = device::processStartTime(getpid());
  ASSERT_TRUE(start.has_value());
  const std::string prefix = "." + record.filename().string() + ".";
  const fs::path dead = record.parent_path() / (prefix + std::to_string(child) + "-5.Ab12Cd");
  const fs::path live = record.parent_path() / (prefix + std::to_string(getpid()) + "-" +
                                                std::to_string(*start) + ".Ab12Cd");
  std::ofstream(dead) << "half a record";
  std::ofstream(live) << "being written";

  Replies replies;
  evaluate(newContext(), "reason", replies.block());
  EXPECT_EQ(answerPasscode("1111").message, "wrong passcode, 4 attempts left");
  EXPECT_FALSE(fs::exists(dead));
  EXPECT_TRUE(fs::exists(live));
  fs::remove(live);
  dismiss();
}

using SystemCancel = AuthTest;

TEST_F(SystemCancel, LeavingTheScreenEndsEveryPromptOnceWithCodeMinusFour) {
  Replies replies;
  newContext();  // LAContext is in use: its resign-active handler is in place
  EXPECT_FALSE(uikit::systemAlert());
  evaluate(newContext(), "first", replies.block());
  evaluate(newContext(), "second", replies.block());
  EXPECT_EQ(uikit::systemAlert(), "the authentication prompt");
  uikit::applicationWillResignActive();
  EXPECT_EQ(promptCount(), 0u);
  EXPECT_FALSE(uikit::systemAlert());
  EXPECT_EQ(answerPasscode("1234").message, "error: no prompt");
  settle();
  ASSERT_EQ(replies.get().size(), 2u);
  for (const auto& reply : replies.get()) {
    EXPECT_FALSE(reply.success);
    EXPECT_EQ(reply.code, LAErrorSystemCancel);
  }
  // Nothing more arrives for them later.
  uikit::applicationWillResignActive();
  settle();
  EXPECT_EQ(replies.get().size(), 2u);
}

TEST_F(SystemCancel, TheModalFlagFollowsTheQueue) {
  Replies replies;
  evaluate(newContext(), "reason", replies.block());
  ASSERT_TRUE(uikit::systemAlert());
  answerPasscode("1234");
  EXPECT_FALSE(uikit::systemAlert());
  evaluate(newContext(), "reason", replies.block());
  answerCancel();
  EXPECT_FALSE(uikit::systemAlert());
  settle();
}

}  // namespace
