// The model and emulator driven by the probe library and the pane bundle,
// compiled for the phone: each case checks what the phone would do, and the
// cases that make deliberate mistakes check that the model catches them.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/phone/phone_fixture.h"

namespace velmo::phone {
namespace {

using ::testing::HasSubstr;

// A host class the probe talks to, recording what it is sent.
class ProbeTest : public PhoneTest {
 protected:
  void SetUp() override {
    PhoneTest::SetUp();
    phone.objc.DefineClass("PRBHost")
        .ClassMethod("startWithScale:", "v#:d",
                     [this](Msg& m) -> Value {
                       start_scale_ = m.D(0);
                       return {};
                     })
        .Method("canDo:", "B@:q", [this](Msg& m) -> Value { return m.I(0) == can_do_; })
        .Method("setName:", "v@:@", [](Msg&) -> Value { return {}; })
        .Method("setScale:", "v@:d", [](Msg&) -> Value { return {}; })
        .Method("scaled:", "d@:d", [](Msg& m) -> Value { return m.D(0) + 0.5; })
        .Method("askWithReply:", "v@:@?", [this](Msg& m) -> Value {
          reply_ = phone.blocks.Copy(m.U(0));
          return {};
        });
    phone.objc.DefineClass("PRBBase").Method(
        "title", "@@:", [this](Msg&) -> Value { return phone.foundation.String("base title"); });
    probe_ = &phone.Load(ImagePath("probe.dylib"));
  }

  uint64_t Call(const std::string& name, std::vector<uint64_t> args = {}) {
    return phone.CallExport(*probe_, "_" + name, std::move(args)).x0;
  }
  int32_t Int(const std::string& variable) {
    return static_cast<int32_t>(phone.emu.Read32(probe_->Symbol("_" + variable)));
  }
  uint64_t NewHost() {
    return phone.objc.Autorelease(phone.objc.AllocObject(&phone.objc.Class("PRBHost")));
  }

  LoadedImage* probe_ = nullptr;
  double start_scale_ = 0;
  int64_t can_do_ = 2;
  uint64_t reply_ = 0;
};

TEST_F(ProbeTest, TheConstructorRanWithItsTypedSend) {
  EXPECT_EQ(Int("probe_loaded"), 1);
  EXPECT_EQ(start_scale_, 1.5);
  EXPECT_TRUE(probe_->missing_imports.empty() ||
              probe_->missing_imports == std::vector<std::string>{"_probe_missing_function"});
}

TEST_F(ProbeTest, BoolResultsTravelAsBoolAndAWiderReadSeesGarbage) {
  uint64_t host = NewHost();
  EXPECT_EQ(Call("probe_bool", {host}), 7u);
  can_do_ = 5;
  EXPECT_EQ(Call("probe_bool", {host}), 3u);
  // Read as long, the BOOL's undefined upper bits show.
  can_do_ = 2;
  EXPECT_NE(Call("probe_bool_as_long", {host}), 1u);
}

TEST_F(ProbeTest, AnArgumentOfTheWrongTypeIsCaught) {
  check_leaks_ = false;
  uint64_t host = NewHost();
  try {
    Call("probe_wrong_argument", {host});
    FAIL() << "a double passed for an object went unnoticed";
  } catch (const EmulationError& e) {
    EXPECT_THAT(e.what(), HasSubstr("-[PRBHost setName:]: argument 0 (type @)"));
  }
  try {
    Call("probe_int_for_double", {host});
    FAIL() << "an integer passed for a double went unnoticed";
  } catch (const EmulationError& e) {
    EXPECT_THAT(e.what(), HasSubstr("-[PRBHost setScale:]: argument 0 (type d) was never set"));
  }
}

TEST_F(ProbeTest, ADoubleGoesThroughAHookAndItsOriginal) {
  uint64_t host = NewHost();
  RegisterArgs args;
  args.x[0] = host;
  args.d[0] = 2.0;
  uint64_t scaled = probe_->Symbol("_probe_scaled");
  EXPECT_EQ(phone.emu.Call(scaled, args).d[0], 2.5);

  ObjcClass& cls = phone.objc.Class("PRBHost");
  uint64_t before = phone.objc.Lookup(&cls, phone.objc.Sel("scaled:"));
  Call("probe_hook", {cls.address});
  ASSERT_EQ(phone.objc.hooks().size(), 1u);
  EXPECT_EQ(phone.objc.hooks()[0].previous, before);
  // The slot in the image holds the previous implementation.
  EXPECT_EQ(phone.emu.Read64(probe_->Symbol("_probe_original_scaled")), before);
  EXPECT_EQ(phone.emu.Call(scaled, args).d[0], 25.0);
  // From C++, the send goes through the emulated replacement too.
  EXPECT_EQ(phone.objc.Send(host, "scaled:", {Value(1.0)}).d[0], 15.0);
}

TEST_F(ProbeTest, HookingANilClassChangesNothing) {
  Call("probe_hook", {0});
  EXPECT_TRUE(phone.objc.hooks().empty());
  EXPECT_EQ(phone.emu.Read64(probe_->Symbol("_probe_original_scaled")), 0u);
}

TEST_F(ProbeTest, AnAsyncBlockIsCopiedRunOnTheMainQueueAndDisposed) {
  Call("probe_async", {41});
  EXPECT_EQ(phone.dispatch.pending_main(), 1u);
  EXPECT_EQ(Int("probe_value"), 0);
  // One copy of the captured C++ object into the stack block, one by the
  // copy helper into the heap block.
  EXPECT_EQ(Int("probe_copies"), 2);
  int destroyed = Int("probe_destroyed");
  EXPECT_EQ(phone.dispatch.DrainMain(), 1u);
  EXPECT_EQ(Int("probe_value"), 42);
  // The dispose helper destroyed the heap block's copy.
  EXPECT_EQ(Int("probe_destroyed"), destroyed + 1);
  EXPECT_EQ(phone.blocks.live_heap_blocks(), 0u);
}

TEST_F(ProbeTest, AReplyFromAnotherQueueRunsItsWorkOnTheMainQueue) {
  uint64_t host = NewHost();
  Call("probe_ask", {host});
  ASSERT_NE(reply_, 0u);
  EXPECT_EQ(phone.blocks.SignatureOf(reply_), "v@?B");
  phone.dispatch.OffMain([&] {
    EXPECT_FALSE(phone.dispatch.on_main());
    phone.blocks.Invoke(reply_, "v@?B", {Value(true)});
  });
  EXPECT_EQ(Int("probe_value"), 0);
  phone.dispatch.DrainMain();
  EXPECT_EQ(Int("probe_value"), 42);
  phone.blocks.Release(reply_);
}

TEST_F(ProbeTest, ABlockInvokedWithAnotherSignatureIsRefused) {
  uint64_t host = NewHost();
  Call("probe_ask", {host});
  EXPECT_THROW(phone.blocks.Invoke(reply_, "v@?@", {Value(0)}), ModelError);
  phone.blocks.Release(reply_);
}

TEST_F(ProbeTest, AHeapBlockNeverReleasedIsALeak) {
  uint64_t host = NewHost();
  Call("probe_ask", {host});
  EXPECT_THAT(phone.blocks.LeakReport(), HasSubstr("leaked heap block"));
  phone.blocks.Release(reply_);
  EXPECT_EQ(phone.blocks.LeakReport(), "");
  EXPECT_THROW(phone.blocks.Release(reply_), ModelError);
}

TEST_F(ProbeTest, AClassMadeAtRunTimeKeepsItsStateInItsIvar) {
  uint64_t cls = Call("probe_make_class");
  ObjcClass* made = phone.objc.ClassAt(cls);
  ASSERT_NE(made, nullptr);
  EXPECT_EQ(made->name, "PRBCounter");
  EXPECT_EQ(made->super->name, "PRBBase");
  ASSERT_EQ(made->ivars.size(), 1u);
  EXPECT_EQ(made->ivars[0].offset, 8u);
  // A second pair of the same name is refused.
  EXPECT_EQ(Call("probe_make_class"), 0u);

  uint64_t counter = phone.objc.Send(cls, "new").u;
  phone.objc.Send(counter, "increment");
  phone.objc.Send(counter, "increment");
  EXPECT_EQ(phone.objc.Send(counter, "count").u, 2u);
  // C++ -> emulated method -> objc_msgSendSuper2 -> model method.
  EXPECT_EQ(phone.foundation.Text(phone.objc.Send(counter, "title").u), "base title");
  phone.objc.Release(counter);
}

TEST_F(ProbeTest, DarwinNotificationsAreObservedPostedAndDelivered) {
  Call("probe_observe");
  ASSERT_EQ(phone.notify.observers().size(), 1u);
  EXPECT_EQ(phone.notify.observers()[0].name, "com.example.probe/changed");
  EXPECT_EQ(phone.notify.observers()[0].suspension_behavior, 4);
  Call("probe_post");
  ASSERT_EQ(phone.notify.posts().size(), 1u);
  EXPECT_EQ(phone.notify.posts()[0].name, "com.example.probe/changed");
  EXPECT_TRUE(phone.notify.posts()[0].deliver_immediately);
  EXPECT_EQ(phone.notify.Deliver("com.example.probe/changed"), 1u);
  EXPECT_EQ(phone.notify.Deliver("other"), 0u);
  EXPECT_EQ(Int("probe_value"), 1);
}

TEST_F(ProbeTest, ASpawnIsRecordedWithItsArgumentsAndEnvironment) {
  EXPECT_EQ(Call("probe_spawn"), 4242u);
  ASSERT_EQ(phone.spawn.spawns().size(), 1u);
  const auto& s = phone.spawn.spawns()[0];
  EXPECT_EQ(s.path, "/var/jb/usr/bin/killall");
  EXPECT_EQ(s.argv, (std::vector<std::string>{"killall", "-9", "SomeApp"}));
  EXPECT_FALSE(s.envp.has_value());
  EXPECT_EQ(s.file_actions, 0u);
  phone.spawn.set_result(1);
  EXPECT_EQ(static_cast<int32_t>(Call("probe_spawn")), -1);
}

TEST_F(ProbeTest, ConstantStringsAreStringsIncludingUtf16Ones) {
  uint64_t text = Call("probe_constant");
  EXPECT_EQ(phone.foundation.Text(text), "Hidden \u2013 caf\u00e9");
  EXPECT_TRUE(phone.objc.IsKindOf(text, "NSString"));
  EXPECT_EQ(phone.objc.Send(text, "length").u, 13u);
  EXPECT_TRUE(
      phone.objc
          .Send(text, "isEqualToString:", {phone.foundation.String("Hidden \u2013 caf\u00e9")})
          .u);
}

TEST_F(ProbeTest, AutoreleasePoolsReleaseTheirObjects) {
  EXPECT_EQ(Call("probe_pool"), 1u);
  EXPECT_EQ(phone.objc.LiveObjects().size(), 0u);
}

TEST_F(ProbeTest, ALeakAndAnOverReleaseAreCaught) {
  uint64_t object = Call("probe_leak");
  EXPECT_THAT(phone.LeakReport(), HasSubstr("leaked PRBBase"));
  try {
    Call("probe_over_release", {object});
    FAIL() << "an over-release went unnoticed";
  } catch (const EmulationError& e) {
    EXPECT_THAT(e.what(), HasSubstr("objc_release: argument 0 (type @) is a deallocated PRBBase"));
  }
  EXPECT_EQ(phone.LeakReport(), "");
}

TEST_F(ProbeTest, FailuresNameWhatFailed) {
  check_leaks_ = false;
  uint64_t host = NewHost();
  auto message = [&](const std::string& name, std::vector<uint64_t> args = {}) -> std::string {
    try {
      Call(name, std::move(args));
    } catch (const EmulationError& e) {
      return e.what();
    }
    return "(no failure)";
  };
  EXPECT_THAT(message("probe_unknown_selector", {host}),
              HasSubstr("-[PRBHost noSuchMethod]: unrecognized selector"));
  EXPECT_THAT(message("probe_unknown_import"),
              HasSubstr("_probe_missing_function, which the model does not provide"));
  EXPECT_THAT(message("probe_fault"), HasSubstr("memory fault: read of unmapped memory at 0x10"));
  EXPECT_THAT(message("probe_fault"), HasSubstr("probe.dylib+0x"));
  phone.emu.SetInstructionLimit(200000);
  EXPECT_THAT(message("probe_spin"), HasSubstr("runaway emulation"));
}

TEST_F(ProbeTest, InstructionCountsAreExactAndRepeatable) {
  uint64_t host = NewHost();
  uint64_t first = phone.CallExport(*probe_, "_probe_bool", {host}).instructions;
  uint64_t second = phone.CallExport(*probe_, "_probe_bool", {host}).instructions;
  EXPECT_GT(first, 5u);
  EXPECT_LT(first, 100u);
  EXPECT_EQ(first, second);
}

class PaneTest : public PhoneTest {};

TEST_F(PaneTest, ABundleMakesASubclassWhoseMethodCallsSuper) {
  phone.objc.DefineClass("PRBController", "NSObject", 48)
      .Method("title", "@@:", [this](Msg&) -> Value { return phone.foundation.String("Root"); });
  LoadedImage& pane = phone.Load(ImagePath("pane.bundle"));
  EXPECT_EQ(pane.image.file_type, 8u);  // MH_BUNDLE
  ObjcClass& cls = phone.objc.Class("PRBPane");
  EXPECT_EQ(cls.super->name, "PRBController");
  ASSERT_EQ(cls.ivars.size(), 1u);
  EXPECT_EQ(cls.ivars[0].offset, 48u);  // after the superclass's instance, whatever its layout

  uint64_t object = phone.objc.Send(cls.address, "new").u;
  uint64_t title = phone.objc.Send(object, "title").u;
  EXPECT_EQ(phone.foundation.Text(title), "Root");
  EXPECT_EQ(phone.emu.Read64(object + 48), title);
  phone.objc.Release(object);
}

}  // namespace
}  // namespace velmo::phone
