// The authentication gate, authenticateWithCompletion: on any view
// controller: when the device cannot authenticate, when the owner cancels or
// answers, how many times and on which thread the completion runs. The
// owner's answers also come from another thread here, so that the reply's
// hand-over to the main queue is exercised across threads (CI runs these
// under ThreadSanitizer).
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "platform/dispatch/run_loop.h"
#include "platform/foundation/nsstring.h"
#include "platform/localauth/prompt.h"
#include "platform/objc/block.h"
#include "platform/objc/message.h"
#include "platform/objc/nsobject.h"
#include "platform/uikit/uiviewcontroller.h"
#include "tests/tweak/tweak_device.h"

namespace tweak_test {
namespace {

using namespace std::chrono_literals;

// What each completion was called with, and where. The record outlives the
// object: a prompt still open when a test ends is cancelled afterwards.
class Completions {
 public:
  struct Call {
    BOOL success;
    bool onMainThread;
    bool operator==(const Call&) const = default;
  };

  Strong<Block<void(BOOL)>> block() {
    return makeBlock<void(BOOL)>([record = record_](BOOL success) {
      std::lock_guard<std::mutex> g(record->mu);
      record->calls.push_back({success, dispatch::isMainThread()});
    });
  }

  std::vector<Call> calls() const {
    std::lock_guard<std::mutex> g(record_->mu);
    return record_->calls;
  }

 private:
  struct Record {
    std::mutex mu;
    std::vector<Call> calls;
  };
  std::shared_ptr<Record> record_ = std::make_shared<Record>();
};

void PrintTo(const Completions::Call& call, std::ostream* os) {
  *os << (call.success ? "YES" : "NO") << (call.onMainThread ? " on main" : " off main");
}

const Completions::Call kYesOnMain{YES, true};
const Completions::Call kNoOnMain{NO, true};

// Records the context of every evaluation LocalAuthentication is asked for,
// then lets it go on as usual. In place for the life of the object.
class EvaluationSpy {
 public:
  using Evaluate = void (*)(id, SEL, long, id, id);

  EvaluationSpy() {
    previous_ = reinterpret_cast<Evaluate>(
        class_replaceMethod(contextClass(), selector(), reinterpret_cast<IMP>(&record), types()));
  }
  ~EvaluationSpy() {
    class_replaceMethod(contextClass(), selector(), reinterpret_cast<IMP>(previous_), types());
    contexts_.clear();
  }
  EvaluationSpy(const EvaluationSpy&) = delete;
  EvaluationSpy& operator=(const EvaluationSpy&) = delete;

  static const std::vector<Strong<objc_object>>& contexts() { return contexts_; }

 private:
  static Class contextClass() { return objc::requireClass("LAContext"); }
  static SEL selector() { return "evaluatePolicy:localizedReason:reply:"_sel; }
  static const std::type_info& types() { return objc::signature<void, long, id, id>(); }
  static void record(id self, SEL cmd, long policy, id reason, id reply) {
    contexts_.emplace_back(self);
    previous_(self, cmd, policy, reason, reply);
  }

  static inline Evaluate previous_ = nullptr;
  static inline std::vector<Strong<objc_object>> contexts_;
};

class AuthenticationGate : public TweakTest {
 protected:
  void SetUp() override {
    TweakTest::SetUp();
    controller_ = allocInit(objc::requireClass("UIViewController"));
  }

  void authenticate(Completions& completions) {
    msg<void>(controller_, "authenticateWithCompletion:"_sel, completions.block().get());
  }

  Strong<objc_object> controller_;
};

TEST_F(AuthenticationGate, WithoutAPasscodeTheCompletionGetsNoBeforeTheCallReturns) {
  ASSERT_TRUE(setPasscode(false));
  Completions completions;
  authenticate(completions);
  // Nothing has run the main queue yet: the answer came inside the call.
  EXPECT_EQ(completions.calls(), std::vector<Completions::Call>{kNoOnMain});
  EXPECT_EQ(localauth::promptCount(), 0u);
  ASSERT_TRUE(settle());
  EXPECT_EQ(completions.calls(), std::vector<Completions::Call>{kNoOnMain});

  // With the passcode set again the same controller asks the owner.
  ASSERT_TRUE(setPasscode(true));
  Completions later;
  authenticate(later);
  EXPECT_EQ(later.calls(), std::vector<Completions::Call>{});
  EXPECT_EQ(localauth::promptCount(), 1u);
}

TEST_F(AuthenticationGate, PromptCarriesTheLibrarysReason) {
  Completions completions;
  authenticate(completions);
  auto prompt = localauth::pendingPrompt();
  ASSERT_TRUE(prompt.has_value());
  EXPECT_EQ(prompt->reason, kReasonText);
  EXPECT_EQ(foundation::stdString(*library().reason), kReasonText);
}

TEST_F(AuthenticationGate, ACancelledPromptCompletesOnceWithNoOnTheMainThread) {
  Completions completions;
  authenticate(completions);
  ASSERT_EQ(localauth::promptCount(), 1u);
  EXPECT_EQ(completions.calls(), std::vector<Completions::Call>{});
  ASSERT_TRUE(localauth::answerCancel().taken);
  ASSERT_TRUE(settle());
  EXPECT_EQ(completions.calls(), std::vector<Completions::Call>{kNoOnMain});
  // Nothing else is owed: more turns of the loop bring no second call.
  dispatch::RunLoop::main().runOnce(50);
  ASSERT_TRUE(settle());
  EXPECT_EQ(completions.calls(), std::vector<Completions::Call>{kNoOnMain});
  EXPECT_EQ(localauth::promptCount(), 0u);
}

TEST_F(AuthenticationGate, FiveWrongPasscodesCompleteOnceWithNo) {
  Completions completions;
  authenticate(completions);
  for (int i = 1; i < localauth::kMaxPasscodeAttempts; ++i) {
    ASSERT_TRUE(localauth::answerPasscode(wrongPasscode(i)).taken);
    ASSERT_TRUE(settle());
    EXPECT_EQ(completions.calls(), std::vector<Completions::Call>{}) << "after wrong answer " << i;
  }
  ASSERT_TRUE(localauth::answerPasscode(wrongPasscode(0)).taken);
  ASSERT_TRUE(settle());
  EXPECT_EQ(completions.calls(), std::vector<Completions::Call>{kNoOnMain});
}

TEST_F(AuthenticationGate, EachCallHasAContextOfItsOwnAndOneCompletionPerReply) {
  EvaluationSpy spy;
  Completions first, second;
  authenticate(first);
  authenticate(second);
  ASSERT_EQ(localauth::promptCount(), 2u);
  ASSERT_EQ(EvaluationSpy::contexts().size(), 2u);
  EXPECT_NE(EvaluationSpy::contexts()[0].get(), nullptr);
  EXPECT_NE(EvaluationSpy::contexts()[0].get(), EvaluationSpy::contexts()[1].get());

  ASSERT_TRUE(localauth::answerPasscode(kPasscode).taken);
  ASSERT_TRUE(settle());
  EXPECT_EQ(first.calls(), std::vector<Completions::Call>{kYesOnMain});
  EXPECT_EQ(second.calls(), std::vector<Completions::Call>{});
  EXPECT_EQ(localauth::promptCount(), 1u);

  ASSERT_TRUE(localauth::answerCancel().taken);
  ASSERT_TRUE(settle());
  EXPECT_EQ(first.calls(), std::vector<Completions::Call>{kYesOnMain});
  EXPECT_EQ(second.calls(), std::vector<Completions::Call>{kNoOnMain});
}

TEST_F(AuthenticationGate, ASuccessfulAnswerFromAnotherThreadCompletesOnTheMainQueue) {
  Completions completions;
  authenticate(completions);
  std::thread owner([] { EXPECT_TRUE(localauth::answerPasscode(kPasscode).taken); });
  owner.join();
  // The reply is handed to the main queue, which has not run: however long
  // the reply thread has had, the completion waits for the main thread.
  std::this_thread::sleep_for(100ms);
  EXPECT_EQ(completions.calls(), std::vector<Completions::Call>{});
  ASSERT_TRUE(settle());
  EXPECT_EQ(completions.calls(), std::vector<Completions::Call>{kYesOnMain});
}

TEST_F(AuthenticationGate, ManyCallsAnsweredWhileTheMainThreadRunsEachCompleteOnceWithTheirAnswer) {
  constexpr int kCalls = 24;
  std::vector<Completions> completions(kCalls);
  for (auto& c : completions) authenticate(c);
  ASSERT_EQ(localauth::promptCount(), static_cast<size_t>(kCalls));

  // The owner answers in the order the prompts came, every third one
  // cancelled, while the main thread keeps delivering.
  std::thread owner([] {
    for (int i = 0; i < kCalls; ++i) {
      auto r = i % 3 == 2 ? localauth::answerCancel() : localauth::answerPasscode(kPasscode);
      EXPECT_TRUE(r.taken) << "answer " << i;
    }
  });
  auto deadline = std::chrono::steady_clock::now() + 10s;
  auto done = [&] {
    for (auto& c : completions) {
      if (c.calls().empty()) return false;
    }
    return true;
  };
  while (!done() && std::chrono::steady_clock::now() < deadline) {
    dispatch::RunLoop::main().runOnce(10);
  }
  owner.join();
  ASSERT_TRUE(settle());
  for (int i = 0; i < kCalls; ++i) {
    EXPECT_EQ(completions[i].calls(),
              std::vector<Completions::Call>{i % 3 == 2 ? kNoOnMain : kYesOnMain})
        << "call " << i;
  }
}

TEST_F(AuthenticationGate, TheCompletionAndTheContextAreLetGoOnceTheReplyHasRun) {
  EvaluationSpy spy;
  Strong<objc_object> carried = allocInit(objc::nsobjectClass());
  const intptr_t alone = objc_retainCount(carried);
  auto answers = {+[] { return localauth::answerPasscode(kPasscode); },
                  +[] { return localauth::answerCancel(); }};
  size_t n = 0;
  for (auto answer : answers) {
    SCOPED_TRACE(n);
    {
      auto completion = makeBlock<void(BOOL)>([carried](BOOL) {});
      msg<void>(controller_, "authenticateWithCompletion:"_sel, completion.get());
    }
    // Held while the prompt is open: the completion by the evaluation, the
    // context by the platform.
    EXPECT_GT(objc_retainCount(carried), alone);
    ASSERT_EQ(EvaluationSpy::contexts().size(), ++n);
    EXPECT_GT(objc_retainCount(EvaluationSpy::contexts().back()), 1);
    ASSERT_TRUE(answer().taken);
    ASSERT_TRUE(settle());
    EXPECT_EQ(objc_retainCount(carried), alone);
    EXPECT_EQ(objc_retainCount(EvaluationSpy::contexts().back()), 1) << "only the spy keeps it";
  }
  // Refused at once, without a prompt: let go when the call returns.
  ASSERT_TRUE(setPasscode(false));
  {
    auto completion = makeBlock<void(BOOL)>([carried](BOOL) {});
    msg<void>(controller_, "authenticateWithCompletion:"_sel, completion.get());
  }
  EXPECT_EQ(objc_retainCount(carried), alone);
}

}  // namespace
}  // namespace tweak_test
