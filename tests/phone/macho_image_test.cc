// The Mach-O parser on the probe library as built, and on damaged copies of
// it: every damage is refused with a message, none is read past.
#include "tests/phone/macho_image.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <llvm/BinaryFormat/MachO.h>

#include <algorithm>
#include <cstring>

#include "tests/phone/image_loader.h"
#include "tests/phone/phone_fixture.h"

namespace velmo::phone {
namespace {

namespace M = llvm::MachO;
using ::testing::HasSubstr;

class MachOImageTest : public PhoneTest {
 protected:
  void SetUp() override {
    PhoneTest::SetUp();
    bytes_ = ReadFileBytes(ImagePath("probe.dylib"));
  }

  // The offset of the first load command `cmd`.
  size_t Command(uint32_t cmd) const {
    size_t offset = sizeof(M::mach_header_64);
    M::mach_header_64 header;
    memcpy(&header, bytes_.data(), sizeof header);
    for (uint32_t i = 0; i < header.ncmds; ++i) {
      M::load_command lc;
      memcpy(&lc, bytes_.data() + offset, sizeof lc);
      if (lc.cmd == cmd) return offset;
      offset += lc.cmdsize;
    }
    ADD_FAILURE() << "no load command " << cmd;
    return 0;
  }
  M::dyld_info_command DyldInfo() const {
    M::dyld_info_command info;
    memcpy(&info, bytes_.data() + Command(M::LC_DYLD_INFO_ONLY), sizeof info);
    return info;
  }
  template <typename T>
  void Put(size_t offset, T value) {
    memcpy(bytes_.data() + offset, &value, sizeof value);
  }
  void PutBytes(size_t offset, std::vector<uint8_t> data) {
    std::copy(data.begin(), data.end(), bytes_.begin() + offset);
  }

  std::string Refusal() const {
    try {
      MachOImage::Parse(bytes_);
    } catch (const MachOError& e) {
      return e.what();
    }
    return "(accepted)";
  }

  std::vector<uint8_t> bytes_;
};

TEST_F(MachOImageTest, ReadsWhatTheLoaderNeeds) {
  MachOImage image = MachOImage::Parse(bytes_);
  EXPECT_EQ(image.file_type, M::MH_DYLIB);
  EXPECT_EQ(image.install_name, "/usr/lib/probe.dylib");
  EXPECT_THAT(image.libraries, ::testing::Contains("/usr/lib/libobjc.A.dylib"));
  EXPECT_THAT(image.libraries,
              ::testing::Contains("@rpath/CydiaSubstrate.framework/CydiaSubstrate"));
  EXPECT_TRUE(image.ExportAddress("_probe_bool").has_value());
  EXPECT_TRUE(image.ExportAddress("_probe_value").has_value());
  EXPECT_FALSE(image.ExportAddress("_probe").has_value());  // an inner trie node, not an export
  EXPECT_EQ(image.initializers.size(), 1u);
  EXPECT_FALSE(image.rebases.empty());
  auto bound = [&](const std::string& symbol, MachOBind::Kind kind) {
    return std::any_of(image.binds.begin(), image.binds.end(),
                       [&](const MachOBind& b) { return b.symbol == symbol && b.kind == kind; });
  };
  EXPECT_TRUE(bound("_objc_msgSend", MachOBind::Kind::kLazy));
  EXPECT_TRUE(bound("___CFConstantStringClassReference", MachOBind::Kind::kNonLazy));
  EXPECT_TRUE(bound("__dispatch_main_q", MachOBind::Kind::kNonLazy));
  for (const MachORebase& r : image.rebases) EXPECT_NE(image.SegmentAt(r.address), nullptr);
  for (const MachOBind& b : image.binds) EXPECT_NE(image.SegmentAt(b.address), nullptr);
}

TEST_F(MachOImageTest, EveryTruncationIsRefused) {
  std::vector<uint8_t> whole = bytes_;
  for (size_t size = 0; size < whole.size(); size += size < 4096 ? 1 : 509) {
    bytes_.assign(whole.begin(), whole.begin() + size);
    EXPECT_THAT(Refusal(), HasSubstr("malformed Mach-O")) << "at " << size << " bytes";
  }
}

TEST_F(MachOImageTest, DamagedHeadersAndCommandsAreRefused) {
  std::vector<uint8_t> whole = bytes_;
  auto damaged = [&](auto damage) {
    bytes_ = whole;
    damage();
    return Refusal();
  };
  EXPECT_THAT(damaged([&] { Put<uint32_t>(0, 0xcafebabe); }), HasSubstr("not a 64-bit"));
  EXPECT_THAT(damaged([&] { Put<uint32_t>(4, M::CPU_TYPE_X86_64); }), HasSubstr("not arm64"));
  EXPECT_THAT(damaged([&] { Put<uint32_t>(12, M::MH_EXECUTE); }),
              HasSubstr("neither MH_DYLIB nor MH_BUNDLE"));
  EXPECT_THAT(damaged([&] { Put<uint32_t>(16, 100000); }), HasSubstr("lies past sizeofcmds"));
  EXPECT_THAT(damaged([&] { Put<uint32_t>(sizeof(M::mach_header_64) + 4, 0); }),
              HasSubstr("bad size"));
  size_t segment = Command(M::LC_SEGMENT_64);
  EXPECT_THAT(damaged([&] {
                Put<uint64_t>(segment + offsetof(M::segment_command_64, fileoff), 1ull << 40);
              }),
              HasSubstr("lies outside the file"));
  EXPECT_THAT(
      damaged([&] { Put<uint32_t>(segment + offsetof(M::segment_command_64, nsects), 1000); }),
      HasSubstr("more sections than its command holds"));
  EXPECT_THAT(
      damaged([&] { Put<uint64_t>(segment + offsetof(M::segment_command_64, vmaddr), 0x4000); }),
      HasSubstr("overlap"));
  EXPECT_THAT(damaged([&] { Put<uint32_t>(8, 0x80000002); }),
              HasSubstr("an arm64e image with opcode fixups"));
  EXPECT_THAT(damaged([&] { Put<uint32_t>(8, 0x81000002); }),
              HasSubstr("neither arm64 nor arm64e with pointer-authentication ABI 0"));
}

TEST_F(MachOImageTest, DamagedFixupsAndExportsAreRefused) {
  std::vector<uint8_t> whole = bytes_;
  M::dyld_info_command info = DyldInfo();
  auto damaged = [&](uint32_t at, std::vector<uint8_t> data) {
    bytes_ = whole;
    PutBytes(at, std::move(data));
    return Refusal();
  };
  // Segment 0 at a far offset, then one rebase there.
  EXPECT_THAT(damaged(info.rebase_off, {0x11, 0x20, 0xff, 0xff, 0xff, 0x0f, 0x51}),
              HasSubstr("a rebase at __TEXT+0x1ffffff lies outside the segment"));
  EXPECT_THAT(damaged(info.rebase_off, {0x11, 0x2f, 0x00, 0x51}), HasSubstr("names segment 15"));
  EXPECT_THAT(damaged(info.rebase_off,
                      {0x20, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0x01}),
              HasSubstr("ULEB128 value overflows"));
  EXPECT_THAT(damaged(info.rebase_off, {0x13}), HasSubstr("rebase type 3 is not a pointer"));
  EXPECT_THAT(damaged(info.bind_off, {0x1f}),
              HasSubstr("library ordinal 15 names no LC_LOAD_DYLIB"));
  EXPECT_THAT(damaged(info.bind_off, {0x11, 0x90}),
              HasSubstr("a bind before any symbol was named"));
  EXPECT_THAT(damaged(info.lazy_bind_off + info.lazy_bind_size - 3, {0x40, '_', 'x'}),
              HasSubstr("ends in the middle of an entry"));
  // A root node with one edge back to itself.
  EXPECT_THAT(damaged(info.export_off, {0x00, 0x01, '_', 0x00, 0x00}),
              HasSubstr("reaches a node twice"));
  EXPECT_THAT(damaged(info.export_off, {0x00, 0x01, '_', 0x00, 0xff, 0xff, 0x03}),
              HasSubstr("points past the trie"));
  EXPECT_THAT(damaged(info.export_off, {0xff, 0xff, 0x03}), HasSubstr("runs past the trie"));
}

TEST_F(MachOImageTest, TheLoaderBindsWhatTheModelLacksToNamedPoison) {
  LoadedImage& image = phone.LoadBytes("probe.dylib", bytes_, false);
  EXPECT_EQ(image.missing_imports, std::vector<std::string>{"_probe_missing_function"});
  EXPECT_TRUE(image.Contains(image.Symbol("_probe_bool")));
  EXPECT_THROW(image.Symbol("_probe_nothing"), EmulationError);
  // Loading twice puts the second copy elsewhere.
  LoadedImage& second = phone.LoadBytes("probe2.dylib", bytes_, false);
  EXPECT_NE(second.load_address, image.load_address);
}

}  // namespace
}  // namespace velmo::phone
