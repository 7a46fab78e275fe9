// The emulator on hand-assembled arm64 code: calls into C++ and back,
// nested to several levels, the registers a call into C++ leaves behind,
// exact instruction counts, and the failures it must name.
#include "tests/phone/emulator.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace velmo::phone {
namespace {

using ::testing::HasSubstr;

constexpr uint64_t kCode = 0x100000000;
constexpr uint32_t kSaveFrame = 0xa9bf7bfd;     // stp x29, x30, [sp, #-16]!
constexpr uint32_t kRestoreFrame = 0xa8c17bfd;  // ldp x29, x30, [sp], #16
constexpr uint32_t kRet = 0xd65f03c0;
constexpr uint32_t kBlrX16 = 0xd63f0200;
constexpr uint32_t kAddX0One = 0x91000400;     // add x0, x0, #1
constexpr uint32_t kMovX19Seven = 0xd28000f3;  // mov x19, #7
constexpr uint32_t kMovX19Zero = 0xd2800013;   // mov x19, #0
constexpr uint32_t kAddX0X19 = 0x8b130000;     // add x0, x0, x19
constexpr uint32_t kBranchSelf = 0x14000000;   // b .
constexpr uint32_t kLoadX0 = 0xf9400000;       // ldr x0, [x0]

class EmulatorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    emu_.Map(kCode, 0x10000, UC_PROT_READ | UC_PROT_EXEC);
    emu_.CountRange(kCode, kCode + 0x10000, "code");
  }

  // Places a function at kCode + offset: `before`, a call to `target`
  // through x16, then `after`, in a frame; the target's address follows the
  // code as a literal.
  uint64_t Function(uint64_t offset, uint64_t target, std::vector<uint32_t> before = {},
                    std::vector<uint32_t> after = {}) {
    std::vector<uint32_t> code{kSaveFrame};
    code.insert(code.end(), before.begin(), before.end());
    size_t load = code.size();
    code.push_back(0);  // ldr x16, literal: patched below
    code.push_back(kBlrX16);
    code.insert(code.end(), after.begin(), after.end());
    code.push_back(kRestoreFrame);
    code.push_back(kRet);
    if (code.size() % 2) code.push_back(0);
    size_t literal = code.size();
    code.push_back(static_cast<uint32_t>(target));
    code.push_back(static_cast<uint32_t>(target >> 32));
    code[load] = 0x58000010 | static_cast<uint32_t>(((literal - load) & 0x7ffff) << 5);
    emu_.Write(kCode + offset, code.data(), code.size() * 4);
    return kCode + offset;
  }

  uint64_t Raw(uint64_t offset, std::vector<uint32_t> code) {
    emu_.Write(kCode + offset, code.data(), code.size() * 4);
    return kCode + offset;
  }

  std::string Failure(uint64_t address, RegisterArgs args = {}) {
    try {
      emu_.Call(address, args);
    } catch (const EmulationError& e) {
      return e.what();
    }
    return "(no failure)";
  }

  Emulator emu_;
};

TEST_F(EmulatorTest, ACallIntoCppReturnsToTheCaller) {
  uint64_t twice = emu_.AddTrap("twice", [](Trap& t) { t.Return(t.x(0) * 2); });
  uint64_t f = Function(0, twice, {}, {kAddX0One});
  RegisterArgs args;
  args.x[0] = 20;
  RegisterResult r = emu_.Call(f, args);
  EXPECT_EQ(r.x0, 41u);
  // stp, ldr, blr, add, ldp, ret: the trap itself is not an instruction of the code.
  EXPECT_EQ(r.instructions, 6u);
  EXPECT_EQ(emu_.Call(f, args).instructions, 6u);
}

TEST_F(EmulatorTest, CallsNestAndEachLevelKeepsItsRegisters) {
  // inner: x0 + 5 via a trap, clobbering x19 on the way (the outer level's
  // registers are restored whatever the nested code did).
  uint64_t plus_five = emu_.AddTrap("plus_five", [](Trap& t) { t.Return(t.x(0) + 5); });
  uint64_t inner = Function(0x100, plus_five, {kMovX19Zero});
  int depth_seen = 0;
  uint64_t reenter = emu_.AddTrap("reenter", [&](Trap& t) {
    RegisterArgs args;
    args.x[0] = t.x(0) * 10;
    depth_seen = t.emulator().depth();
    t.Return(t.emulator().Call(inner, args).x0);
  });
  // outer: x19 = 7; x0 = reenter(x0) + x19
  uint64_t outer = Function(0x200, reenter, {kMovX19Seven}, {kAddX0X19});
  RegisterArgs args;
  args.x[0] = 3;
  EXPECT_EQ(emu_.Call(outer, args).x0, 3u * 10 + 5 + 7);
  EXPECT_EQ(depth_seen, 1);
  EXPECT_EQ(emu_.depth(), 0);
}

TEST_F(EmulatorTest, RegistersACallMayClobberArePoisoned) {
  uint64_t nothing = emu_.AddTrap("nothing", [](Trap&) {});
  uint64_t f = Function(0, nothing);
  RegisterArgs args;
  args.x[0] = 1;
  args.d[0] = 2.0;
  RegisterResult r = emu_.Call(f, args);
  EXPECT_TRUE(IsPoisonX(r.x0));
  EXPECT_TRUE(IsPoisonX(r.x1));
  EXPECT_TRUE(IsPoisonD(r.d[0]));

  uint64_t half = emu_.AddTrap("half", [](Trap& t) { t.ReturnDouble({t.d(0) / 2}, 1); });
  RegisterResult h = emu_.Call(Function(0x100, half), args);
  EXPECT_EQ(h.d[0], 1.0);
  EXPECT_TRUE(IsPoisonX(h.x0));
  EXPECT_TRUE(IsPoisonD(h.d[1]));
}

TEST_F(EmulatorTest, ATailCallFromCppContinuesWithTheSameArguments) {
  uint64_t add_one = Raw(0x300, {kAddX0One, kRet});
  uint64_t forward = emu_.AddTrap("forward", [&](Trap& t) { t.Jump(add_one); });
  RegisterArgs args;
  args.x[0] = 9;
  EXPECT_EQ(emu_.Call(Function(0, forward), args).x0, 10u);
}

TEST_F(EmulatorTest, FailuresNameTheirCauseAndLeaveTheEmulatorUsable) {
  RegisterArgs args;
  args.x[0] = 0x1234;
  EXPECT_THAT(Failure(Raw(0x400, {kLoadX0, kRet}), args),
              HasSubstr("memory fault: read of unmapped memory at 0x1234 (8 bytes) by code+0x400"));

  emu_.SetInstructionLimit(10000);
  EXPECT_THAT(Failure(Raw(0x500, {kBranchSelf})), HasSubstr("runaway emulation"));

  uint64_t missing = emu_.PoisonAddress("_CFMissing");
  EXPECT_THAT(Failure(Function(0x600, missing)),
              HasSubstr("the import _CFMissing, which the model does not provide"));

  uint64_t throws =
      emu_.AddTrap("throws", [](Trap&) { throw std::runtime_error("the model says no"); });
  std::string message = Failure(Function(0x700, throws));
  EXPECT_THAT(message, HasSubstr("the model says no"));
  EXPECT_THAT(message, HasSubstr("in throws, called from code+0x"));

  EXPECT_THAT(Failure(Function(0x800, 0x70000000 + 4 * 1000)),
              HasSubstr("which no model function owns"));

  EXPECT_EQ(emu_.depth(), 0);
  uint64_t twice = emu_.AddTrap("twice", [](Trap& t) { t.Return(t.x(0) * 2); });
  args.x[0] = 4;
  EXPECT_EQ(emu_.Call(Function(0x900, twice), args).x0, 8u);
}

TEST_F(EmulatorTest, TheHeapHandsOutZeroedBlocksAndCatchesBadFrees) {
  uint64_t a = emu_.Alloc(24);
  uint64_t b = emu_.Alloc(1);
  EXPECT_EQ(a % 16, 0u);
  EXPECT_GE(b, a + 24);
  EXPECT_EQ(emu_.Read64(a + 16), 0u);
  emu_.Write64(a, 0x1122334455667788);
  emu_.Free(a);
  EXPECT_EQ(emu_.Read64(a), 0xa5a5a5a5a5a5a5a5u);  // freed memory is never handed out again
  EXPECT_THROW(emu_.Free(a), EmulationError);
  EXPECT_THROW(emu_.Free(b + 8), EmulationError);
  EXPECT_EQ(emu_.LiveBlockCount(), 1u);
  EXPECT_THROW(emu_.Read64(0x10), EmulationError);
  EXPECT_THROW(emu_.ReadCString(0), EmulationError);
}

// The benchmark states how many of arm64e's counted instructions sign or
// authenticate; the words are llvm-mc's encodings.
TEST(PointerAuthenticationTest, RecognisesEveryFormTheCompilerEmitsAndNothingElse) {
  for (uint32_t word : {0xd503237fu /* pacibsp */,
                        0xd65f0fffu /* retab */,
                        0xd50323ffu /* autibsp */,
                        0xdac123f0u /* paciza x16 */,
                        0xdac10041u /* pacia x1, x2 */,
                        0xdac133e8u /* autiza x8 */,
                        0xdac11841u /* autda x1, x2 */,
                        0xdac143e0u /* xpaci x0 */,
                        0xd50320ffu /* xpaclri */,
                        0x9ac23020u /* pacga */,
                        0xd71f0a11u /* braa x16, x17 */,
                        0xd61f0a1fu /* braaz x16 */,
                        0xd73f0909u /* blraa x8, x9 */,
                        0xd63f091fu /* blraaz x8 */,
                        0xd63f0c3fu /* blrabz x1 */,
                        0xd65f0bffu /* retaa */,
                        0xf8201420u /* ldraa x0, [x1, #8] */,
                        0xf8ffec20u /* ldrab pre-index */,
                        0xd503211fu /* pacia1716 */,
                        0xd50321dfu /* autib1716 */})
    EXPECT_TRUE(IsPointerAuthentication(word)) << std::hex << word;
  for (uint32_t word : {0xd65f03c0u /* ret */, 0xd61f0200u /* br x16 */, 0xd63f0100u /* blr x8 */,
                        0xf9400020u /* ldr x0, [x1] */, 0xf8626820u /* ldr x0, [x1, x2] */,
                        0xd503201fu /* nop */, 0xd503245fu /* bti c */, 0xaa0103e0u /* mov */,
                        0xf8200041u /* ldadd */, 0xdac00020u /* rbit */, 0xdac01020u /* clz */})
    EXPECT_FALSE(IsPointerAuthentication(word)) << std::hex << word;
}

}  // namespace
}  // namespace velmo::phone
