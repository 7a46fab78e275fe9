// The authentication prompts of this process and the device owner's answers.
//
// LAContext's -evaluatePolicy:localizedReason:reply: puts a prompt in a
// process-wide queue; prompts are shown one at a time, in the order they were
// asked for. The device program plays the owner: it reads the prompt on
// screen and answers it with the passcode, a Face ID match, or cancel.
//
//   - the right passcode ends the prompt: the reply gets YES;
//   - a wrong one keeps it open ("wrong passcode, 4 attempts left") until the
//     kMaxPasscodeAttempts-th, which ends it: NO, LAErrorAuthenticationFailed;
//     an attempt is a failure that the device's record counted, so the same
//     wrong code twice in a row costs one, and what the prompt says is left
//     never disagrees with the record;
//   - an empty passcode (OK with nothing typed) is no answer: an error,
//     nothing judged or counted;
//   - Face ID ends it with YES, if the prompt offers Face ID (face_id.h);
//   - cancel ends it: NO, LAErrorUserCancel;
//   - the app leaving the screen ends every prompt of the process with the
//     system's cancel: NO, LAErrorSystemCancel (cancelForSystem, which
//     LAContext hooks to UIKit's will-resign-active).
//
// Failed passcodes also count for the whole device (passcode_attempts.h):
// from the fifth on, the device refuses answers for a while ("error: try
// again in 1 minute"), and the prompt stays up so that it can be cancelled.
//
// While any prompt waits, UIKit is told that a system alert is on screen, so
// that no touch reaches the app under it (uiapplication.h).
//
// The passcode is checked against the salted hash in the device's
// configuration; it is never stored in clear.
//
// Each reply is delivered exactly once, on the global background queue
// (never the main thread), with the reason, the context and the reply block
// kept alive until the block has returned. The hand-over counts as
// background work (dispatch::beginBackgroundWork) from the answer until the
// reply block has returned and its references are dropped, so that
// RunLoop::settle() waits for it.
//
// Errors are values: answering when no prompt is shown, or with Face ID when
// the prompt does not offer it, changes nothing and says so in the result.
//
// Thread safety: every function may be called from any thread. The
// prompt-shown handler is called with no lock held, on the thread that caused
// the prompt to come on screen (the one asking for it, or the one answering
// the prompt before it).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "platform/localauth/nserror.h"
#include "platform/objc/block.h"

namespace localauth {

inline constexpr int kMaxPasscodeAttempts = 5;

struct Prompt {
  std::uint64_t serial = 0;  // this prompt's number in the process, never reused
  std::string reason;
  bool faceOffered = false;
  int attemptsLeft = kMaxPasscodeAttempts;  // passcode answers this prompt still takes
};

struct AnswerResult {
  bool taken = false;   // false: nothing was answered (no prompt, Face ID not offered)
  std::string message;  // a line for the owner: "passcode accepted", "error: no prompt", ...
};

// The prompt on screen, if any.
std::optional<Prompt> pendingPrompt();
// Prompts waiting, the one on screen included.
std::size_t promptCount();

AnswerResult answerPasscode(const std::string& passcode);
AnswerResult answerFace();
AnswerResult answerCancel();
// Ends every waiting prompt with the system's cancel; returns how many.
std::size_t cancelForSystem();

// Called each time a prompt comes on screen. nullptr removes the handler.
void setPromptShownHandler(std::function<void(const Prompt&)> handler);

// For LAContext: queues a prompt whose answer goes to `reply`, keeping
// `context`, `reason` and `reply` until then.
using Reply = Block<void(BOOL, id)>;
void present(id context, id reason, Reply* reply, bool face_offered);
// For LAContext: delivers a reply that needs no prompt (a refused request),
// on the background queue like any other.
void replyWithoutPrompt(Reply* reply, BOOL success, NSError* error);

}  // namespace localauth
