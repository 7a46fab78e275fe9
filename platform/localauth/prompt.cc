#include "platform/localauth/prompt.h"

#include <deque>
#include <mutex>
#include <utility>

#include "platform/dispatch/dispatch.h"
#include "platform/dispatch/run_loop.h"
#include "platform/foundation/device.h"
#include "platform/foundation/nsstring.h"
#include "platform/localauth/lacontext.h"
#include "platform/localauth/passcode_attempts.h"
#include "platform/uikit/uiapplication.h"

namespace localauth {
namespace {

struct Pending {
  std::uint64_t serial = 0;
  Strong<objc_object> context;
  Strong<NSString> reason;
  Strong<Reply> reply;
  bool faceOffered = false;
  int failures = 0;  // the device's failures counted on this prompt
};

struct Broker {
  std::mutex mu;
  std::deque<Pending> queue;    // front: the prompt on screen
  std::uint64_t presented = 0;  // prompts asked for so far, numbering them from 1
  std::function<void(const Prompt&)> shown;
};

Broker& broker() {
  static auto* b = new Broker();  // lives as long as the process, like the replies it owes
  return *b;
}

Prompt promptOf(const Pending& p) {
  return Prompt{p.serial, p.reason ? p.reason->text : "", p.faceOffered,
                kMaxPasscodeAttempts - p.failures};
}

// Tells UIKit whether a prompt is over the app. Called with the lock held,
// each time the queue changes, so the two never disagree for long.
void updateSystemAlert() {
  uikit::setSystemAlert(broker().queue.empty()
                            ? std::nullopt
                            : std::optional<std::string>("the authentication prompt"));
}

// Hands `reply` its answer on the global queue. The work counts from now
// until the block has returned and every reference the prompt kept is gone.
void deliver(Pending done, BOOL success, Strong<NSError> error) {
  dispatch::beginBackgroundWork();
  auto task = makeBlock<void()>([done = std::move(done), success, error]() mutable {
    done.reply->call(success, error.get());
    done = Pending();
    error = nullptr;
    dispatch::endBackgroundWork();
  });
  dispatch_async(dispatch_get_global_queue(0, 0), task);
}

// Tells the handler about the prompt now on screen, if any.
void announce(std::optional<Prompt> prompt) {
  if (!prompt) return;
  std::function<void(const Prompt&)> handler;
  {
    std::lock_guard<std::mutex> g(broker().mu);
    handler = broker().shown;
  }
  if (handler) handler(*prompt);
}

// Ends the prompt on screen with `success`/`error`, then shows the next one.
// Called with the lock held; returns the next prompt for announce().
std::optional<Prompt> finishFront(std::unique_lock<std::mutex>& lock, BOOL success,
                                  Strong<NSError> error) {
  Pending done = std::move(broker().queue.front());
  broker().queue.pop_front();
  updateSystemAlert();
  std::optional<Prompt> next;
  if (!broker().queue.empty()) next = promptOf(broker().queue.front());
  lock.unlock();
  deliver(std::move(done), success, std::move(error));
  return next;
}

const AnswerResult kNoPrompt{false, "error: no prompt"};

}  // namespace

std::optional<Prompt> pendingPrompt() {
  std::lock_guard<std::mutex> g(broker().mu);
  if (broker().queue.empty()) return std::nullopt;
  return promptOf(broker().queue.front());
}

std::size_t promptCount() {
  std::lock_guard<std::mutex> g(broker().mu);
  return broker().queue.size();
}

AnswerResult answerPasscode(const std::string& passcode) {
  if (promptCount() == 0) return kNoPrompt;
  // Nothing typed is no answer: it is neither judged nor counted.
  if (passcode.empty()) return {false, "error: no passcode entered"};
  // The device's record judges first: a locked-out device does not even look
  // at the code, and a failure counts for the device, whatever the prompt.
  PasscodeJudgement judgement = judgePasscode(passcode);
  std::unique_lock<std::mutex> lock(broker().mu);
  if (broker().queue.empty()) return kNoPrompt;
  switch (judgement.outcome) {
    case PasscodeJudgement::Outcome::kLockedOut:
      return {false, "error: try again in " + minutesText(judgement.lockoutSeconds)};
    case PasscodeJudgement::Outcome::kUnavailable:
      return {false, "error: " + judgement.error};
    case PasscodeJudgement::Outcome::kAccepted:
      announce(finishFront(lock, YES, nullptr));
      return {true, "passcode accepted"};
    case PasscodeJudgement::Outcome::kWrong:
      break;
  }
  std::string wait =
      judgement.lockoutSeconds > 0 ? "; try again in " + minutesText(judgement.lockoutSeconds) : "";
  // The prompt's attempts are the failures the device's record counted while
  // it was up, so the two never disagree: a code the record took as a repeat
  // of its last wrong one (from this prompt or any other) costs no attempt.
  if (judgement.counted) ++broker().queue.front().failures;
  int left = kMaxPasscodeAttempts - broker().queue.front().failures;
  if (left > 0) {
    return {true, "wrong passcode, " + std::to_string(left) +
                      (left == 1 ? " attempt left" : " attempts left") + wait};
  }
  announce(finishFront(
      lock, NO,
      newError(LAErrorDomain, LAErrorAuthenticationFailed, "Application retry limit exceeded.")));
  return {true, "wrong passcode, authentication failed" + wait};
}

AnswerResult answerFace() {
  if (promptCount() == 0) return kNoPrompt;
  // A device that makes its owner wait takes no other answer either.
  std::string unreadable;
  if (int64_t wait = lockoutRemaining(&unreadable); wait > 0) {
    return {false, "error: try again in " + minutesText(wait)};
  }
  if (!unreadable.empty()) return {false, "error: " + unreadable};
  std::unique_lock<std::mutex> lock(broker().mu);
  if (broker().queue.empty()) return kNoPrompt;
  if (!broker().queue.front().faceOffered) return {false, "error: Face ID is not offered"};
  announce(finishFront(lock, YES, nullptr));
  return {true, "Face ID matched"};
}

AnswerResult answerCancel() {
  std::unique_lock<std::mutex> lock(broker().mu);
  if (broker().queue.empty()) return kNoPrompt;
  announce(finishFront(lock, NO, newError(LAErrorDomain, LAErrorUserCancel, "Canceled by user.")));
  return {true, "cancelled"};
}

std::size_t cancelForSystem() {
  std::deque<Pending> ended;
  {
    std::lock_guard<std::mutex> g(broker().mu);
    ended.swap(broker().queue);
    updateSystemAlert();
  }
  for (Pending& p : ended) {
    deliver(std::move(p), NO,
            newError(LAErrorDomain, LAErrorSystemCancel, "Authentication was canceled by system."));
  }
  return ended.size();
}

void setPromptShownHandler(std::function<void(const Prompt&)> handler) {
  std::lock_guard<std::mutex> g(broker().mu);
  broker().shown = std::move(handler);
}

void present(id context, id reason, Reply* reply, bool face_offered) {
  Pending p;
  p.context = context;
  p.reason = adopt(static_cast<NSString*>(msg<id>(reason, "copy"_sel)));
  p.reply = reply;
  p.faceOffered = face_offered;
  std::optional<Prompt> shown;
  {
    std::lock_guard<std::mutex> g(broker().mu);
    p.serial = ++broker().presented;
    broker().queue.push_back(std::move(p));
    updateSystemAlert();
    if (broker().queue.size() == 1) shown = promptOf(broker().queue.front());
  }
  announce(shown);
}

void replyWithoutPrompt(Reply* reply, BOOL success, NSError* error) {
  Pending p;
  p.reply = reply;
  deliver(std::move(p), success, error);
}

}  // namespace localauth
