// The platform model's checks of signed pointers in an arm64e process: a
// block's invoke and isa, an IMP and a constant string's isa must be signed
// as the platform signs them, or the call fails naming the pointer; in an
// arm64 process the same unsigned pointers pass.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/phone/phone_fixture.h"

namespace velmo::phone {
namespace {

using ::testing::HasSubstr;

class PointerAuthTest : public PhoneTest {
 protected:
  void SetUp() override {
    PhoneTest::SetUp();
    phone.SetArchitecture(Architecture::kArm64e);
    code_ = phone.objc.Resolve("_objc_retain").value();  // any code address stands in
  }

  // Calls a model C function as emulated code would.
  uint64_t CallModel(const std::string& symbol, std::vector<uint64_t> args) {
    RegisterArgs r;
    for (size_t i = 0; i < args.size(); ++i) r.x[i] = args[i];
    return phone.emu.Call(phone.objc.Resolve(symbol).value(), r).x0;
  }
  std::string Failure(const std::string& symbol, std::vector<uint64_t> args) {
    try {
      CallModel(symbol, std::move(args));
    } catch (const EmulationError& e) {
      return e.what();
    }
    return "accepted";
  }
  uint64_t Sign(uint64_t pointer, const PointerScheme& scheme, uint64_t storage) {
    return phone.objc.pac.Sign(pointer, scheme, storage);
  }

  // A global block {isa, flags, reserved, invoke, descriptor} whose isa and
  // invoke are stored as given (signed for their places by default).
  uint64_t GlobalBlock(std::optional<uint64_t> isa = {}, std::optional<uint64_t> invoke = {}) {
    uint64_t descriptor = phone.emu.Alloc(16);
    phone.emu.Write64(descriptor + 8, 32);
    uint64_t block = phone.emu.Alloc(32);
    uint64_t cls = phone.objc.Resolve("__NSConcreteGlobalBlock").value();
    phone.emu.Write64(block, isa.value_or(Sign(cls, kIsaScheme, block)));
    phone.emu.Write64(block + 8, 1u << 28);
    phone.emu.Write64(block + 16, invoke.value_or(Sign(code_, kBlockFunctionScheme, block + 16)));
    phone.emu.Write64(block + 24, descriptor);
    return block;
  }

  uint64_t code_ = 0;
};

TEST_F(PointerAuthTest, TheCpuSignsAndAnAuthenticationWithAnotherModifierOrKeyFails) {
  const uint64_t p = code_, m = 0x0000123456789abc;
  const uint64_t signed_p = phone.emu.Sign(p, 0, m);
  EXPECT_NE(signed_p, p);
  EXPECT_EQ(phone.emu.Authenticate(signed_p, 0, m), p);
  EXPECT_EQ(phone.emu.Authenticate(signed_p, 0, m ^ 1), std::nullopt);
  EXPECT_EQ(phone.emu.Authenticate(signed_p, 2, m), std::nullopt);
  EXPECT_EQ(phone.emu.Authenticate(p, 0, m), std::nullopt) << "an unsigned pointer";
  EXPECT_EQ(PointerAuth::Modifier(kIsaScheme, 0xffff000012345678), 0x6ae1000012345678u);
}

TEST_F(PointerAuthTest, ABlockIsCheckedWhereItIsHandedOver) {
  EXPECT_EQ(CallModel("__Block_copy", {GlobalBlock()}) != 0, true);
  EXPECT_THAT(Failure("__Block_copy", {GlobalBlock({}, code_)}),
              HasSubstr("the invoke pointer of the block given to _Block_copy"));
  EXPECT_THAT(Failure("__Block_copy", {GlobalBlock({}, code_)}),
              HasSubstr("is not signed as the blocks runtime signs it"));
  // Signed without its storage address.
  EXPECT_THAT(Failure("__Block_copy", {GlobalBlock({}, Sign(code_, kFunctionPointerScheme, 0))}),
              HasSubstr("the invoke pointer"));
  uint64_t cls = phone.objc.Resolve("__NSConcreteGlobalBlock").value();
  PointerScheme wrong = kIsaScheme;
  wrong.discriminator = 0x1234;
  uint64_t block = phone.emu.Alloc(8);  // any address: the isa is signed for another place
  EXPECT_THAT(Failure("__Block_copy", {GlobalBlock(Sign(cls, wrong, block))}),
              HasSubstr("the isa of the block given to _Block_copy"));
  uint64_t queue = phone.objc.Resolve("__dispatch_main_q").value();
  EXPECT_THAT(Failure("_dispatch_async", {queue, GlobalBlock({}, code_)}),
              HasSubstr("the invoke pointer of the block given to dispatch_async"));
}

TEST_F(PointerAuthTest, AnImpMustBeAPlainSignedFunctionPointer) {
  uint64_t cls = phone.objc.DefineClass("PRBTarget").address();
  uint64_t types = phone.emu.Alloc(8);
  phone.emu.Write(types, "v@:", 4);
  uint64_t sel = phone.objc.Sel("poke");
  EXPECT_THAT(Failure("_class_addMethod", {cls, sel, code_, types}),
              HasSubstr("the IMP given to class_addMethod for -[PRBTarget poke]"));
  // Signed with address diversity, as a block function would be.
  uint64_t slot = phone.emu.Alloc(8);
  EXPECT_THAT(
      Failure("_MSHookMessageEx", {cls, sel, Sign(code_, kBlockFunctionScheme, slot), slot}),
      HasSubstr("the replacement IMP given to MSHookMessageEx for PRBTarget poke"));
  EXPECT_EQ(
      CallModel("_class_addMethod", {cls, sel, Sign(code_, kFunctionPointerScheme, 0), types}) &
          0xff,
      1u);
  EXPECT_EQ(phone.objc.Lookup(&phone.objc.Class("PRBTarget"), sel), code_) << "kept plain";
  // The original handed back is signed as a plain function pointer.
  uint64_t other = phone.objc.Resolve("_objc_release").value();
  CallModel("_MSHookMessageEx", {cls, sel, Sign(other, kFunctionPointerScheme, 0), slot});
  EXPECT_EQ(phone.emu.Authenticate(phone.emu.Read64(slot), 0, 0), code_);
}

TEST_F(PointerAuthTest, AConstantStringsIsaIsAuthenticated) {
  auto constant = [&](uint16_t discriminator) {
    uint64_t text = phone.emu.Alloc(8);
    phone.emu.Write(text, "locked", 6);
    uint64_t s = phone.emu.Alloc(32);
    PointerScheme scheme = kIsaScheme;
    scheme.discriminator = discriminator;
    uint64_t cls = phone.objc.Resolve("___CFConstantStringClassReference").value();
    phone.emu.Write64(s, Sign(cls, scheme, s));
    phone.emu.Write64(s + 8, 0x7c8);
    phone.emu.Write64(s + 16, text);
    phone.emu.Write64(s + 24, 6);
    return s;
  };
  EXPECT_EQ(phone.objc.StringValue(constant(0x6ae1)), "locked");
  EXPECT_THAT([&] { phone.objc.StringValue(constant(0x6ae2)); },
              ::testing::ThrowsMessage<EmulationError>(
                  HasSubstr("the isa of the __NSCFConstantString at")));
}

TEST(PointerAuthArm64Test, AnArm64ProcessSignsAndChecksNothing) {
  PhoneModel phone;
  uint64_t code = phone.objc.Resolve("_objc_retain").value();
  EXPECT_EQ(phone.objc.pac.Sign(code, kFunctionPointerScheme, 0), code);
  EXPECT_EQ(phone.objc.pac.Authenticate(code, kBlockFunctionScheme, 8, "x"), code);
  uint64_t cls = phone.objc.DefineClass("PRBTarget").address();
  uint64_t types = phone.emu.Alloc(8);
  phone.emu.Write(types, "v@:", 4);
  RegisterArgs r;
  r.x = {cls, phone.objc.Sel("poke"), code, types};
  EXPECT_EQ(phone.emu.Call(phone.objc.Resolve("_class_addMethod").value(), r).x0 & 0xff, 1u);
}

}  // namespace
}  // namespace velmo::phone
