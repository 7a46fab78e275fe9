#include "platform/substrate/substrate.h"

#include <gtest/gtest.h>

#include "platform/objc/nsobject.h"

namespace {

struct Base : NSObject {};

long (*g_original)(id, SEL, long) = nullptr;

long replacement(id self, SEL sel, long x) { return 1000 + g_original(self, sel, x); }

Class makeFamily(const char* base, const char* derived, const char* leaf, bool derived_overrides) {
  Class b = objc::defineClass<Base>(base, objc::nsobjectClass());
  addMethod(
      b, "value:"_sel, +[](id, SEL, long x) -> long { return x; });
  Class d = objc::defineClass<Base>(derived, b);
  if (derived_overrides)
    addMethod(
        d, "value:"_sel, +[](id, SEL, long x) -> long { return 2 * x; });
  objc::defineClass<Base>(leaf, d);
  return d;
}

long send(const char* cls, long x) {
  Strong<objc_object> obj = allocInit(objc_getClass(cls));
  return msg<long>(obj, "value:"_sel, x);
}

TEST(Substrate, NilClassDoesNothingAndLeavesTheSlotEmpty) {
  g_original = nullptr;
  size_t before = substrate::installedHooks().size();
  MSHookMessageEx(objc_getClass("NotInThisProcess"), "value:"_sel, &replacement, &g_original);
  EXPECT_EQ(g_original, nullptr);
  EXPECT_EQ(substrate::installedHooks().size(), before);
}

TEST(Substrate, OwnMethodIsReplacedAndTheSlotCallsTheOldOne) {
  Class d = makeFamily("SBase1", "SDerived1", "SLeaf1", true);
  EXPECT_EQ(send("SDerived1", 5), 10);  // caches the old implementation
  MSHookMessageEx(d, "value:"_sel, &replacement, &g_original);
  ASSERT_NE(g_original, nullptr);
  EXPECT_EQ(send("SDerived1", 5), 1010);
  EXPECT_EQ(send("SLeaf1", 5), 1010);  // subclass that does not override
  EXPECT_EQ(send("SBase1", 5), 5);     // superclass untouched
  auto last = substrate::installedHooks().back();
  EXPECT_EQ(last.className, "SDerived1");
  EXPECT_EQ(last.selector, "value:");
}

TEST(Substrate, InheritedMethodIsOverriddenOnTheNamedClassOnly) {
  Class d = makeFamily("SBase2", "SDerived2", "SLeaf2", false);
  Class sibling = objc::defineClass<Base>("SSibling2", objc_getClass("SBase2"));
  (void)sibling;
  EXPECT_EQ(send("SLeaf2", 3), 3);
  MSHookMessageEx(d, "value:"_sel, &replacement, &g_original);
  EXPECT_EQ(send("SDerived2", 3), 1003);  // the slot holds the inherited implementation
  EXPECT_EQ(send("SLeaf2", 3), 1003);
  EXPECT_EQ(send("SBase2", 3), 3);
  EXPECT_EQ(send("SSibling2", 3), 3);
}

using SubstrateDeathTest = ::testing::Test;

TEST(SubstrateDeathTest, WrongSignatureOrMissingMethodFailsLoudly) {
  Class d = makeFamily("SBase3", "SDerived3", "SLeaf3", true);
  int (*wrong_old)(id, SEL, int) = nullptr;
  int (*wrong)(id, SEL, int) = +[](id, SEL, int) { return 0; };
  EXPECT_DEATH(MSHookMessageEx(d, "value:"_sel, wrong, &wrong_old), "value:");
  EXPECT_DEATH(MSHookMessageEx(d, "missing:"_sel, &replacement, &g_original), "no such method");
}

}  // namespace
