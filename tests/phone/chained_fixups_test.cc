// The loader on chained fixups and fat files: the probe linked with
// ld64.lld-22 -fixup_chains, the same image re-encoded here in
// DYLD_CHAINED_PTR_ARM64E (plain and auth fixups) as an arm64e image, fat
// files of both, and damaged copies, each refused by name.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <llvm/BinaryFormat/MachO.h>

#include <algorithm>
#include <cstring>

#include "tests/phone/image_loader.h"
#include "tests/phone/macho_image.h"
#include "tests/phone/phone_fixture.h"

namespace velmo::phone {
namespace {

namespace M = llvm::MachO;
using ::testing::HasSubstr;

template <typename T>
T Get(const std::vector<uint8_t>& bytes, size_t offset) {
  T value;
  memcpy(&value, bytes.data() + offset, sizeof value);
  return value;
}
template <typename T>
void Put(std::vector<uint8_t>& bytes, size_t offset, T value) {
  memcpy(bytes.data() + offset, &value, sizeof value);
}

// Where the chained-fixups payload and its per-segment pointer formats are.
struct ChainLayout {
  size_t payload = 0;
  std::vector<size_t> format_fields;  // file offsets of each segment's pointer_format
};

ChainLayout FindChains(const std::vector<uint8_t>& bytes) {
  ChainLayout layout;
  auto header = Get<M::mach_header_64>(bytes, 0);
  size_t offset = sizeof header;
  for (uint32_t i = 0; i < header.ncmds; ++i) {
    auto lc = Get<M::load_command>(bytes, offset);
    if (lc.cmd == M::LC_DYLD_CHAINED_FIXUPS)
      layout.payload = Get<M::linkedit_data_command>(bytes, offset).dataoff;
    offset += lc.cmdsize;
  }
  auto fixups = Get<M::dyld_chained_fixups_header>(bytes, layout.payload);
  size_t starts = layout.payload + fixups.starts_offset;
  uint32_t count = Get<uint32_t>(bytes, starts);
  for (uint32_t i = 0; i < count; ++i)
    if (uint32_t seg = Get<uint32_t>(bytes, starts + 4 + 4 * i))
      layout.format_fields.push_back(starts + seg +
                                     offsetof(M::dyld_chained_starts_in_segment, pointer_format));
  return layout;
}

size_t FileOffset(const MachOImage& image, uint64_t address) {
  const MachOSegment* s = image.SegmentAt(address);
  return s->file_offset + (address - s->address);
}

// The schemes the re-encoded image gives its first rebase and first bind.
const MachOPointerAuth kRebaseScheme{true, 0, true, 0x1234};  // IA, blended
const MachOPointerAuth kBindScheme{true, 2, false, 0x6ae1};   // DA, no address

class ChainedFixupsTest : public PhoneTest {
 protected:
  void SetUp() override {
    PhoneTest::SetUp();
    chained_ = ReadFileBytes(ImagePath("probe_chained.dylib"));
    opcodes_ = ReadFileBytes(ImagePath("probe.dylib"));
  }

  // The chained probe re-encoded as an arm64e image: every chain in
  // DYLD_CHAINED_PTR_ARM64E (8-byte strides), the first rebase and the
  // first bind authenticated.
  std::vector<uint8_t> Arm64e() const {
    std::vector<uint8_t> out = chained_;
    MachOImage image = MachOImage::Parse(chained_);
    auto next = [&](uint64_t raw) {
      uint64_t four_byte_strides = (raw >> 51) & 0xfff;
      EXPECT_EQ(four_byte_strides % 2, 0u);
      return (four_byte_strides / 2) << 51;
    };
    for (size_t i = 0; i < image.rebases.size(); ++i) {
      const MachORebase& r = image.rebases[i];
      size_t at = FileOffset(image, r.address);
      uint64_t raw = Get<uint64_t>(out, at), value = next(raw);
      if (i == 0)
        value |= (1ull << 63) | (uint64_t{kRebaseScheme.key} << 49) | (1ull << 48) |
                 (uint64_t{kRebaseScheme.discriminator} << 32) | (r.target - image.base_address);
      else
        value |= r.target;
      Put(out, at, value);
    }
    for (size_t i = 0; i < image.binds.size(); ++i) {
      size_t at = FileOffset(image, image.binds[i].address);
      uint64_t raw = Get<uint64_t>(out, at);
      uint64_t value = next(raw) | (1ull << 62) | (raw & 0xffff);
      if (i == 0)
        value |= (1ull << 63) | (uint64_t{kBindScheme.key} << 49) |
                 (uint64_t{kBindScheme.discriminator} << 32);
      else
        value |= ((raw >> 24) & 0xff) << 32;  // the inline addend
      Put(out, at, value);
    }
    for (size_t field : FindChains(out).format_fields)
      Put<uint16_t>(out, field, M::DYLD_CHAINED_PTR_ARM64E);
    Put<uint32_t>(out, offsetof(M::mach_header_64, cpusubtype), CpuSubtype(Architecture::kArm64e));
    return out;
  }

  static std::string Refusal(const std::vector<uint8_t>& bytes) {
    try {
      MachOImage::Parse(bytes);
    } catch (const MachOError& e) {
      return e.what();
    }
    return "accepted";
  }

  std::vector<uint8_t> chained_, opcodes_;
};

std::vector<std::string> Symbols(const MachOImage& image) {
  std::vector<std::string> names;
  for (const MachOBind& b : image.binds)
    // The lazy binder is an opcode image's alone.
    if (b.kind != MachOBind::Kind::kWeak && b.symbol != "dyld_stub_binder")
      names.push_back(b.symbol);
  std::sort(names.begin(), names.end());
  names.erase(std::unique(names.begin(), names.end()), names.end());
  return names;
}

TEST_F(ChainedFixupsTest, TheChainedProbeDecodesAndRunsAsItsOpcodeTwin) {
  MachOImage chained = MachOImage::Parse(chained_), opcodes = MachOImage::Parse(opcodes_);
  EXPECT_TRUE(chained.chained_fixups);
  EXPECT_EQ(Symbols(chained), Symbols(opcodes));
  EXPECT_FALSE(chained.rebases.empty());
  for (const MachORebase& r : chained.rebases) {
    EXPECT_NE(chained.SegmentAt(r.target), nullptr);
    EXPECT_FALSE(r.auth.authenticated);
  }
  ASSERT_EQ(chained.initializers.size(), 1u);
  EXPECT_FALSE(chained.initializers[0].is_slot) << "ld64.lld-22 writes __init_offsets";
  for (const auto& [name, e] : opcodes.exports) EXPECT_TRUE(chained.exports.count(name)) << name;

  // Loaded: the initializer from __init_offsets ran, binds and rebases hold.
  phone.objc.DefineClass("PRBHost").ClassMethod("startWithScale:", "v#:d",
                                                [](Msg&) -> Value { return {}; });
  phone.objc.DefineClass("PRBBase");
  LoadedImage& probe = phone.LoadBytes("probe_chained.dylib", chained_);
  EXPECT_EQ(phone.emu.Read32(probe.Symbol("_probe_loaded")), 1u);
  EXPECT_EQ(probe.missing_imports, std::vector<std::string>{"_probe_missing_function"});
}

TEST_F(ChainedFixupsTest, TheOffsetAndVmaddrFormatsDecodeAlike) {
  MachOImage original = MachOImage::Parse(chained_);
  std::vector<uint8_t> other = chained_;
  ChainLayout layout = FindChains(other);
  for (size_t field : layout.format_fields) {
    uint16_t format = Get<uint16_t>(other, field);
    ASSERT_TRUE(format == M::DYLD_CHAINED_PTR_64 || format == M::DYLD_CHAINED_PTR_64_OFFSET);
    Put<uint16_t>(
        other, field,
        format == M::DYLD_CHAINED_PTR_64 ? M::DYLD_CHAINED_PTR_64_OFFSET : M::DYLD_CHAINED_PTR_64);
  }
  // A library's image starts at 0, so its targets read the same either way.
  ASSERT_EQ(original.base_address, 0u);
  MachOImage decoded = MachOImage::Parse(other);
  ASSERT_EQ(decoded.rebases.size(), original.rebases.size());
  for (size_t i = 0; i < decoded.rebases.size(); ++i)
    EXPECT_EQ(decoded.rebases[i].target, original.rebases[i].target);
}

TEST_F(ChainedFixupsTest, Arm64eChainsCarryTheirSchemesAndTheLoaderSignsThemAsTheCpuChecks) {
  std::vector<uint8_t> bytes = Arm64e();
  MachOImage original = MachOImage::Parse(chained_), image = MachOImage::Parse(bytes);
  EXPECT_EQ(image.architecture, Architecture::kArm64e);
  ASSERT_EQ(image.rebases.size(), original.rebases.size());
  ASSERT_EQ(image.binds.size(), original.binds.size());
  for (size_t i = 0; i < image.rebases.size(); ++i) {
    EXPECT_EQ(image.rebases[i].address, original.rebases[i].address);
    EXPECT_EQ(image.rebases[i].target, original.rebases[i].target);
    EXPECT_EQ(image.rebases[i].auth, i == 0 ? kRebaseScheme : MachOPointerAuth{});
  }
  for (size_t i = 0; i < image.binds.size(); ++i) {
    EXPECT_EQ(image.binds[i].symbol, original.binds[i].symbol);
    EXPECT_EQ(image.binds[i].auth, i == 0 ? kBindScheme : MachOPointerAuth{});
  }

  phone.SetArchitecture(Architecture::kArm64e);
  LoadedImage& probe = phone.LoadBytes("probe.arm64e", bytes, false);
  const MachORebase& r = image.rebases[0];
  const uint64_t slot = probe.Slid(r.address), value = phone.emu.Read64(slot);
  EXPECT_NE(value, probe.Slid(r.target)) << "the auth rebase was stored unsigned";
  // autia with the slot blended into 0x1234 strips it; any other modifier or key fails.
  const uint64_t modifier = (slot & 0xffffffffffff) | (0x1234ull << 48);
  EXPECT_EQ(phone.emu.Authenticate(value, 0, modifier), probe.Slid(r.target));
  EXPECT_EQ(phone.emu.Authenticate(value, 0, 0x1234), std::nullopt) << "without the address";
  EXPECT_EQ(phone.emu.Authenticate(value, 0, modifier + 8), std::nullopt) << "another slot";
  EXPECT_EQ(phone.emu.Authenticate(value, 1, modifier), std::nullopt) << "key IB";
  // The auth bind: DA, 0x6AE1, no address.
  const uint64_t bound = phone.emu.Read64(probe.Slid(image.binds[0].address));
  auto target = phone.emu.Authenticate(bound, 2, 0x6ae1);
  ASSERT_TRUE(target.has_value());
  EXPECT_EQ(*target, phone.objc.Resolve(image.binds[0].symbol)
                         .value_or(phone.emu.PoisonAddress(image.binds[0].symbol)));
  // A plain rebase stays plain.
  const MachORebase& plain = image.rebases[1];
  EXPECT_EQ(phone.emu.Read64(probe.Slid(plain.address)), probe.Slid(plain.target));
}

TEST_F(ChainedFixupsTest, ChainsThatDoNotFitTheImageAreRefused) {
  const std::vector<uint8_t> arm64e = Arm64e();
  ChainLayout layout = FindChains(chained_);
  MachOImage image = MachOImage::Parse(chained_);
  auto damaged = [&](const std::vector<uint8_t>& from, auto damage) {
    std::vector<uint8_t> bytes = from;
    damage(bytes);
    return Refusal(bytes);
  };
  EXPECT_THAT(damaged(arm64e,
                      [](auto& b) {
                        Put<uint32_t>(b, offsetof(M::mach_header_64, cpusubtype),
                                      M::CPU_SUBTYPE_ARM64_ALL);
                      }),
              HasSubstr("DYLD_CHAINED_PTR_ARM64E chains in an arm64 image"));
  EXPECT_THAT(damaged(chained_,
                      [](auto& b) {
                        Put<uint32_t>(b, offsetof(M::mach_header_64, cpusubtype),
                                      CpuSubtype(Architecture::kArm64e));
                      }),
              HasSubstr("takes only DYLD_CHAINED_PTR_ARM64E"));
  EXPECT_THAT(damaged(chained_, [&](auto& b) { Put<uint16_t>(b, layout.format_fields[0], 3); }),
              HasSubstr("unsupported chain format 3"));
  EXPECT_THAT(
      damaged(chained_,
              [&](auto& b) {
                Put<uint32_t>(
                    b, layout.payload + offsetof(M::dyld_chained_fixups_header, imports_format), 9);
              }),
      HasSubstr("unknown chained imports format 9"));
  const size_t bind = FileOffset(image, image.binds[0].address);
  EXPECT_THAT(damaged(chained_,
                      [&](auto& b) {
                        Put<uint64_t>(b, bind, (Get<uint64_t>(b, bind) & ~0xffffffull) | 0xfffff);
                      }),
              HasSubstr("names import 1048575"));
  const size_t rebase = FileOffset(image, image.rebases[0].address);
  EXPECT_THAT(damaged(chained_,
                      [&](auto& b) {
                        Put<uint64_t>(b, rebase, Get<uint64_t>(b, rebase) | 0xfffffffffull);
                      }),
              HasSubstr("outside the image"));
  const size_t arm64e_bind = FileOffset(image, image.binds[1].address);
  EXPECT_THAT(damaged(arm64e,
                      [&](auto& b) {
                        Put<uint64_t>(b, arm64e_bind, Get<uint64_t>(b, arm64e_bind) | (1ull << 20));
                      }),
              HasSubstr("has its zero bits set"));
  // A page start past its page.
  const size_t page_start = layout.format_fields[0] -
                            offsetof(M::dyld_chained_starts_in_segment, pointer_format) +
                            offsetof(M::dyld_chained_starts_in_segment, page_start);
  EXPECT_THAT(damaged(chained_, [&](auto& b) { Put<uint16_t>(b, page_start, 0x7ff8); }),
              HasSubstr("outside its page"));
}

// A fat file of `slices` (cpusubtype, bytes), 16 KiB aligned.
std::vector<uint8_t> Fat(const std::vector<std::pair<uint32_t, std::vector<uint8_t>>>& slices,
                         bool wide = false) {
  std::vector<uint8_t> out(0x4000);
  auto be32 = [&](size_t at, uint32_t v) { Put(out, at, __builtin_bswap32(v)); };
  auto be64 = [&](size_t at, uint64_t v) { Put(out, at, __builtin_bswap64(v)); };
  be32(0, wide ? M::FAT_MAGIC_64 : M::FAT_MAGIC);
  be32(4, static_cast<uint32_t>(slices.size()));
  size_t entry = wide ? sizeof(M::fat_arch_64) : sizeof(M::fat_arch);
  for (size_t i = 0; i < slices.size(); ++i) {
    size_t at = 8 + i * entry, offset = out.size();
    be32(at, M::CPU_TYPE_ARM64);
    be32(at + 4, slices[i].first);
    if (wide) {
      be64(at + 8, offset);
      be64(at + 16, slices[i].second.size());
      be32(at + 24, 14);
    } else {
      be32(at + 8, static_cast<uint32_t>(offset));
      be32(at + 12, static_cast<uint32_t>(slices[i].second.size()));
      be32(at + 16, 14);
    }
    out.insert(out.end(), slices[i].second.begin(), slices[i].second.end());
    out.resize((out.size() + 0x3fff) & ~size_t{0x3fff});
  }
  return out;
}

TEST_F(ChainedFixupsTest, AFatFileGivesEachProcessItsSlice) {
  const std::vector<uint8_t> arm64e = Arm64e();
  for (bool wide : {false, true}) {
    std::vector<uint8_t> fat =
        Fat({{0, chained_}, {CpuSubtype(Architecture::kArm64e), arm64e}}, wide);
    auto arm64_slice = MachOImage::SelectSlice(fat, Architecture::kArm64);
    auto arm64e_slice = MachOImage::SelectSlice(fat, Architecture::kArm64e);
    EXPECT_TRUE(
        std::equal(arm64_slice.begin(), arm64_slice.end(), chained_.begin(), chained_.end()));
    EXPECT_TRUE(std::equal(arm64e_slice.begin(), arm64e_slice.end(), arm64e.begin(), arm64e.end()));
  }
  // A thin file is its own slice; an arm64e process refuses a thin arm64 image.
  EXPECT_EQ(MachOImage::SelectSlice(chained_, Architecture::kArm64e).size(), chained_.size());
  phone.SetArchitecture(Architecture::kArm64e);
  EXPECT_THAT([&] { phone.LoadBytes("thin", chained_, false); },
              ::testing::ThrowsMessage<EmulationError>(HasSubstr("is not arm64e")));
  LoadedImage& loaded = phone.LoadBytes("fat", Fat({{0, chained_}, {0x80000002, arm64e}}), false);
  EXPECT_EQ(loaded.image.architecture, Architecture::kArm64e);
}

TEST_F(ChainedFixupsTest, MalformedFatFilesAreRefused) {
  const std::vector<uint8_t> good = Fat({{0, chained_}, {0x80000002, Arm64e()}});
  auto refusal = [&](auto damage, Architecture arch = Architecture::kArm64) -> std::string {
    std::vector<uint8_t> bytes = good;
    damage(bytes);
    try {
      MachOImage::SelectSlice(bytes, arch);
    } catch (const MachOError& e) {
      return e.what();
    }
    return "accepted";
  };
  auto be32 = [](std::vector<uint8_t>& b, size_t at, uint32_t v) {
    Put(b, at, __builtin_bswap32(v));
  };
  EXPECT_THAT(refusal([&](auto& b) { be32(b, 4, 0); }), HasSubstr("with 0 slices"));
  EXPECT_THAT(refusal([&](auto& b) { be32(b, 4, 1000); }), HasSubstr("with 1000 slices"));
  EXPECT_THAT(refusal([&](auto& b) { be32(b, 8 + 12, 0x7fffffff); }),
              HasSubstr("lies outside the file"));
  EXPECT_THAT(refusal([&](auto& b) { be32(b, 8 + 20 + 8, 0x4000); }),
              HasSubstr("overlaps another slice"));
  EXPECT_THAT(refusal([&](auto& b) { be32(b, 8 + 4, 1); }),
              HasSubstr("disagrees with its fat entry"));
  EXPECT_THAT(refusal([&](auto& b) { be32(b, 8 + 20 + 4, 0); }),
              HasSubstr("two fat slices of the same architecture"));
  EXPECT_THAT(refusal([&](auto& b) { be32(b, 8 + 16, 15); }), HasSubstr("not aligned"));
  EXPECT_THAT(refusal([&](auto& b) { be32(b, 4, 1); }, Architecture::kArm64e),
              HasSubstr("has no arm64e slice"));
  EXPECT_THAT(refusal([&](auto& b) { b.resize(12); }), HasSubstr("outside the file"));
}

}  // namespace
}  // namespace velmo::phone
