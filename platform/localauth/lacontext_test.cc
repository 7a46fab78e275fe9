#include "platform/localauth/lacontext.h"

#include <gtest/gtest.h>

#include "platform/localauth/test_device.h"

namespace {

using localauth::answerCancel;
using localauth::answerPasscode;
using localauth::pendingPrompt;
using localauth::promptCount;
using testing_support::AuthTest;
using testing_support::evaluate;
using testing_support::Replies;
using testing_support::settle;

Strong<LAContext> newContext() { return allocInit<LAContext>(localauth::contextClass()); }

using CanEvaluate = AuthTest;

TEST_F(CanEvaluate, OnlyWithAPasscode) {
  auto context = newContext();
  id error = nullptr;
  EXPECT_TRUE(msg<BOOL>(context, "canEvaluatePolicy:error:"_sel, 2L, &error));
  EXPECT_EQ(error, nullptr);
  EXPECT_EQ(msg<long>(context, "biometryType"_sel), LABiometryTypeFaceID);

  testing_support::configure("", "none");
  EXPECT_FALSE(msg<BOOL>(context, "canEvaluatePolicy:error:"_sel, 2L, &error));
  ASSERT_NE(error, nullptr);
  EXPECT_EQ(msg<long>(error, "code"_sel), LAErrorPasscodeNotSet);
  EXPECT_EQ(foundation::stdString(msg<id>(error, "domain"_sel)), "com.apple.LocalAuthentication");
  EXPECT_EQ(foundation::stdString(msg<id>(error, "description"_sel)),
            "Error Domain=com.apple.LocalAuthentication Code=-5 \"Passcode not set.\"");
  EXPECT_EQ(msg<long>(context, "biometryType"_sel), LABiometryTypeNone);
  id* no_error_wanted = nullptr;
  EXPECT_FALSE(msg<BOOL>(context, "canEvaluatePolicy:error:"_sel, 2L, no_error_wanted));
}

TEST_F(CanEvaluate, UnsupportedPolicyIsRefusedAsAValue) {
  auto context = newContext();
  id error = nullptr;
  EXPECT_FALSE(msg<BOOL>(context, "canEvaluatePolicy:error:"_sel, 7L, &error));
  EXPECT_EQ(msg<long>(error, "code"_sel), LAErrorInvalidRequest);
}

using Evaluate = AuthTest;

TEST_F(Evaluate, RepliesExactlyOnceOffTheMainThread) {
  Replies replies;
  auto context = newContext();
  evaluate(context, "Use your passcode to view and manage hidden album.", replies.block());
  ASSERT_TRUE(pendingPrompt());
  EXPECT_EQ(pendingPrompt()->reason, "Use your passcode to view and manage hidden album.");
  EXPECT_EQ(objc_retainCount(context), 2);  // the prompt keeps the context
  settle();
  EXPECT_TRUE(replies.get().empty());  // nobody answered yet

  auto result = answerPasscode("1234");
  EXPECT_TRUE(result.taken);
  EXPECT_EQ(result.message, "passcode accepted");
  EXPECT_FALSE(pendingPrompt());
  EXPECT_EQ(answerPasscode("1234").message, "error: no prompt");
  EXPECT_EQ(answerCancel().message, "error: no prompt");
  settle();
  auto got = replies.get();
  ASSERT_EQ(got.size(), 1u);
  EXPECT_TRUE(got[0].success);
  EXPECT_EQ(got[0].code, 0);
  EXPECT_FALSE(got[0].onMainThread);
  EXPECT_EQ(objc_retainCount(context), 1);  // let go once the reply was handed over
}

TEST_F(Evaluate, EachContextItsOwnPromptInTurn) {
  Replies first, second;
  std::vector<std::string> shown;
  localauth::setPromptShownHandler([&](const localauth::Prompt& p) { shown.push_back(p.reason); });
  {
    objc::AutoreleasePool pool;
    evaluate(newContext(), "first", first.block());  // only the prompt keeps these contexts
    evaluate(newContext(), "second", second.block());
  }
  EXPECT_EQ(shown, std::vector<std::string>{"first"});
  EXPECT_EQ(promptCount(), 2u);
  EXPECT_EQ(pendingPrompt()->reason, "first");

  EXPECT_EQ(answerCancel().message, "cancelled");
  EXPECT_EQ(shown, (std::vector<std::string>{"first", "second"}));
  EXPECT_EQ(pendingPrompt()->reason, "second");
  EXPECT_TRUE(answerPasscode("1234").taken);
  localauth::setPromptShownHandler(nullptr);
  settle();

  ASSERT_EQ(first.get().size(), 1u);
  EXPECT_FALSE(first.get()[0].success);
  EXPECT_EQ(first.get()[0].code, LAErrorUserCancel);
  ASSERT_EQ(second.get().size(), 1u);
  EXPECT_TRUE(second.get()[0].success);
}

TEST_F(Evaluate, FifthWrongPasscodeEndsThePrompt) {
  Replies replies;
  evaluate(newContext(), "reason", replies.block());
  EXPECT_EQ(answerPasscode("0000").message, "wrong passcode, 4 attempts left");
  EXPECT_EQ(answerPasscode("").message, "error: no passcode entered");  // no attempt
  EXPECT_EQ(answerPasscode("99").message, "wrong passcode, 3 attempts left");
  EXPECT_EQ(answerPasscode("12345").message, "wrong passcode, 2 attempts left");
  EXPECT_EQ(answerPasscode("4321").message, "wrong passcode, 1 attempt left");
  settle();
  EXPECT_TRUE(replies.get().empty());
  ASSERT_TRUE(pendingPrompt());
  EXPECT_EQ(answerPasscode("1111").message,
            "wrong passcode, authentication failed; try again in 1 minute");
  EXPECT_FALSE(pendingPrompt());
  settle();
  ASSERT_EQ(replies.get().size(), 1u);
  EXPECT_FALSE(replies.get()[0].success);
  EXPECT_EQ(replies.get()[0].code, LAErrorAuthenticationFailed);

  // The prompt's own count starts afresh, once the device lets its owner try again.
  evaluate(newContext(), "again", replies.block());
  ASSERT_EQ(device::advanceClock(60), "");
  EXPECT_EQ(answerPasscode("0000").message,
            "wrong passcode, 4 attempts left; try again in 5 minutes");
  ASSERT_EQ(device::advanceClock(300), "");
  EXPECT_TRUE(answerPasscode("1234").taken);
  settle();
  ASSERT_EQ(replies.get().size(), 2u);
  EXPECT_TRUE(replies.get()[1].success);
}

TEST_F(Evaluate, WithoutPasscodeRepliesNoWithoutAPrompt) {
  testing_support::configure("");
  Replies replies;
  evaluate(newContext(), "reason", replies.block());
  EXPECT_EQ(promptCount(), 0u);
  settle();
  ASSERT_EQ(replies.get().size(), 1u);
  EXPECT_FALSE(replies.get()[0].success);
  EXPECT_EQ(replies.get()[0].code, LAErrorPasscodeNotSet);
  EXPECT_FALSE(replies.get()[0].onMainThread);
}

TEST_F(Evaluate, RefusedRequestsAreAnsweredNotShown) {
  Replies replies;
  evaluate(newContext(), "", replies.block());
  msg<void>(newContext(), "evaluatePolicy:localizedReason:reply:"_sel, 2L, static_cast<id>(nullptr),
            static_cast<id>(replies.block().get()));
  msg<void>(newContext(), "evaluatePolicy:localizedReason:reply:"_sel, 2L,
            static_cast<id>("reason"_ns), static_cast<id>(nullptr));
  EXPECT_EQ(promptCount(), 0u);
  settle();
  ASSERT_EQ(replies.get().size(), 2u);
  EXPECT_EQ(replies.get()[0].code, LAErrorInvalidRequest);
  EXPECT_EQ(replies.get()[1].code, LAErrorInvalidRequest);
}

}  // namespace
