#include "phone/finish-arm64e/finish.h"

#include <endian.h>
#include <gtest/gtest.h>
#include <llvm/BinaryFormat/MachO.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>

#include "phone/finish-arm64e/chained_fixups.h"
#include "phone/finish-arm64e/code_signature.h"
#include "phone/finish-arm64e/macho_file.h"

namespace velmo::arm64e {
namespace {

namespace M = llvm::MachO;
namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

Bytes ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  EXPECT_TRUE(in) << "cannot read " << path;
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

Bytes TestImage(const std::string& name) {
  return ReadFile(std::string(FINISH_TESTDATA) + "/" + name);
}

// The records of a linked, unfinished image: location -> scheme.
std::map<uint64_t, AuthScheme> Records(const MachOFile& file, const ChainedFixups& chains,
                                       std::vector<uint64_t>* slots) {
  std::map<uint64_t, AuthScheme> records;
  const Section* section = file.FindSection(kRecordsSection);
  if (!section) return records;
  std::map<uint64_t, const ChainedFixup*> at;
  for (const ChainedFixup& f : chains.fixups) at[f.address] = &f;
  for (uint64_t r = section->address; r < section->address + section->size; r += 16) {
    auto record = file.Read<SignedPointerRecord>(file.FileOffsetOf(r, 16, "record"), "record");
    records[at.at(r)->target] =
        AuthScheme{record.key, (record.flags & 1) != 0, record.discriminator};
    slots->push_back(r);
  }
  return records;
}

// Everything a finished image must be, against the image it was made from:
// the header, every chain in the arm64e format, each recorded pointer an
// authenticated fixup with its scheme, every other fixup as it was, the
// records gone and cleared, the page hashes right. Returns the finished
// image's fixups.
ChainedFixups ExpectFinished(const Bytes& linked_bytes, const Bytes& finished_bytes) {
  MachOFile linked = MachOFile::Open(linked_bytes);
  MachOFile finished = MachOFile::Open(finished_bytes);
  ChainedFixups before = DecodeChainedFixups(linked);
  ChainedFixups after = DecodeChainedFixups(finished);
  std::vector<uint64_t> slots;
  std::map<uint64_t, AuthScheme> records = Records(linked, before, &slots);
  EXPECT_FALSE(records.empty());

  EXPECT_EQ(finished.cpu_subtype(), 0x80000002u);
  EXPECT_EQ(after.pointer_format, M::DYLD_CHAINED_PTR_ARM64E);
  EXPECT_EQ(after.imports, before.imports);
  size_t index = 0, signed_count = 0;
  for (const ChainedFixup& old : before.fixups) {
    if (std::find(slots.begin(), slots.end(), old.address) != slots.end()) continue;
    if (index == after.fixups.size()) {
      ADD_FAILURE() << "the finished image lost the fixup " << Describe(old, before);
      break;
    }
    ChainedFixup want = old;
    if (auto r = records.find(old.address); r != records.end())
      want.auth = r->second, ++signed_count;
    EXPECT_EQ(after.fixups[index], want)
        << Describe(after.fixups[index], after) << " should be " << Describe(want, before);
    ++index;
  }
  EXPECT_EQ(index, after.fixups.size()) << "the finished image has fixups the linked one had not";
  EXPECT_EQ(signed_count, records.size());
  if (const Section* section = finished.FindSection(kRecordsSection)) {
    const uint8_t* data = finished_bytes.data() + section->file_offset;
    EXPECT_TRUE(std::all_of(data, data + section->size, [](uint8_t b) { return b == 0; }));
  }
  EXPECT_TRUE(StalePages(finished, ReadAdHocSignature(finished)).empty());
  return after;
}

const ChainedFixup* BindTo(const ChainedFixups& all, const std::string& name, int64_t addend = 0) {
  for (const ChainedFixup& f : all.fixups)
    if (f.bind && all.imports[f.import].name == name && f.addend == addend) return &f;
  return nullptr;
}

TEST(FinishArm64e, SignsEachRecordedPointerWithItsSchemeAndKeepsTheRest) {
  Bytes linked = TestImage("signed.dylib");
  FinishReport report;
  Bytes finished = FinishArm64e(linked, &report);
  ChainedFixups after = ExpectFinished(linked, finished);
  // signed.cc: three function pointers, the isa, two block helpers and the
  // shared static are signed; three plain pointers are not.
  EXPECT_EQ(report.fixups, 10u);
  EXPECT_EQ(report.auth_rebases, 5u);
  EXPECT_EQ(report.auth_binds, 2u);
  const ChainedFixup* isa = BindTo(after, "_ImportedClass");
  ASSERT_TRUE(isa);
  EXPECT_EQ(isa->auth, (AuthScheme{2, true, 0x6AE1}));
  const ChainedFixup* function = BindTo(after, "_imported_function");
  ASSERT_TRUE(function);
  EXPECT_EQ(function->auth, (AuthScheme{0, false, 0}));
  const ChainedFixup* data = BindTo(after, "_imported_data", 4);
  ASSERT_TRUE(data);
  EXPECT_FALSE(data->auth);
  std::vector<AuthScheme> rebases;
  for (const ChainedFixup& f : after.fixups)
    if (!f.bind && f.auth) rebases.push_back(*f.auth);
  EXPECT_EQ(std::count(rebases.begin(), rebases.end(), AuthScheme{0, true, 0}), 1);
  EXPECT_EQ(std::count(rebases.begin(), rebases.end(), AuthScheme{1, false, 1234}), 1);
  EXPECT_EQ(std::count(rebases.begin(), rebases.end(), AuthScheme{0, false, 0}), 3);
}

// The phone build's own arm64e slices, as linked and as finished.
TEST(FinishArm64e, ThePhoneBuildsSlicesAreFinishedCompletely) {
  for (const char* name : {"Velmo.dylib", "VelmoPreferences"}) {
    SCOPED_TRACE(name);
    std::string slice = std::string(PHONE_BUILD) + "/slices/" + name + ".arm64e";
    ASSERT_TRUE(fs::exists(slice)) << slice << " is missing: make phone builds it";
    Bytes linked = ReadFile(slice + ".linked");
    Bytes finished = ReadFile(slice);
    ExpectFinished(linked, finished);
    EXPECT_EQ(FinishArm64e(linked), finished) << "the finishing step is not deterministic";
  }
}

// Each thing the step does not understand is refused, naming it.
struct Breakage {
  const char* what;
  const char* image;
  std::function<void(MachOFile&, Bytes&)> breakImage;
  const char* message;
};

uint64_t StartsOffset(const MachOFile& file) {
  const LinkeditData* lc = file.chained_fixups();
  auto header = file.Read<M::dyld_chained_fixups_header>(lc->data_offset, "header");
  uint64_t image_starts = lc->data_offset + header.starts_offset;
  for (uint32_t i = 0; i < file.segments().size(); ++i)
    if (uint32_t info = file.Read<uint32_t>(image_starts + 4 + 4 * i, "starts"))
      return image_starts + info;
  return 0;
}

// The file offset of the pointer a record names through its own rebase, or
// of the record's own slot.
uint64_t RecordSlot(const MachOFile& file) {
  return file.FindSection(kRecordsSection)->file_offset;
}
uint64_t FirstRecordedPointer(const MachOFile& file) {
  auto raw = file.Read<uint64_t>(RecordSlot(file), "record");
  return file.FileOffsetOf(raw & 0xFFFFFFFFFull, 8, "pointer");  // a DYLD_CHAINED_PTR_64 target
}

void SetBits(Bytes& bytes, uint64_t offset, int low, int count, uint64_t value) {
  uint64_t raw;
  memcpy(&raw, bytes.data() + offset, 8);
  uint64_t mask = ((uint64_t{1} << count) - 1) << low;
  raw = (raw & ~mask) | ((value << low) & mask);
  memcpy(bytes.data() + offset, &raw, 8);
}

const Breakage kBreakages[] = {
    {"a chain format it does not convert", "signed.dylib",
     [](MachOFile& f, Bytes& b) {
       uint16_t format = M::DYLD_CHAINED_PTR_32;
       memcpy(
           b.data() + StartsOffset(f) + offsetof(M::dyld_chained_starts_in_segment, pointer_format),
           &format, 2);
     },
     "pointer format 3"},
    {"a record whose location is no fixup", "signed.dylib",
     [](MachOFile& f, Bytes& b) {
       SetBits(b, RecordSlot(f), 0, 36, f.FindSection(kRecordsSection)->address + 8);
     },
     "which is no fixup"},
    {"a record's key out of range", "signed.dylib",
     [](MachOFile& f, Bytes& b) { b[RecordSlot(f) + 10] = 7; }, "unknown key"},
    {"a signed rebase whose top byte an authenticated rebase cannot hold", "signed.dylib",
     [](MachOFile& f, Bytes& b) { SetBits(b, FirstRecordedPointer(f), 36, 8, 0x80); },
     "does not fit an ARM64E authenticated rebase"},
    {"a signed bind with an addend", "addend.dylib", [](MachOFile&, Bytes&) {},
     "which an ARM64E authenticated bind cannot carry"},
    {"a record bound by name", "exported-weak.dylib", [](MachOFile&, Bytes&) {}, "by name"},
    {"no code signature", "signed.dylib",
     [](MachOFile& f, Bytes& b) {
       uint32_t other = M::LC_NOTE;
       memcpy(b.data() + f.code_signature()->command_offset, &other, 4);
     },
     "has no code signature"},
    {"a signature that is not ad hoc", "signed.dylib",
     [](MachOFile& f, Bytes& b) {
       // The first index entry's offset (big-endian) finds the code
       // directory, whose big-endian flags are at offset 12.
       uint64_t blob = f.code_signature()->data_offset;
       uint64_t cd = blob + be32toh(f.Read<uint32_t>(blob + 16, "index"));
       b[cd + 12 + 3] &= ~uint8_t{M::CS_ADHOC};
     },
     "not ad hoc"},
    {"a stale page hash", "signed.dylib",
     [](MachOFile& f, Bytes& b) { b[f.FindSection("__text")->file_offset] ^= 1; },
     "page hashes do not match"},
    {"a chain running past its page", "signed.dylib",
     [](MachOFile& f, Bytes& b) {
       // The first pointer of the __DATA page links 4095 strides on.
       SetBits(b, f.FindSection(kRecordsSection)->file_offset, 51, 12, 4095);
     },
     "runs past its page"},
};

TEST(FinishArm64e, RefusesWhatItDoesNotUnderstand) {
  for (const Breakage& breakage : kBreakages) {
    SCOPED_TRACE(breakage.what);
    Bytes bytes = TestImage(breakage.image);
    MachOFile file = MachOFile::Open(bytes);
    breakage.breakImage(file, bytes);
    // Re-signed, so that each breakage is met by its own check rather than
    // by the signature's, except where the signature is what is broken.
    if (std::string(breakage.message) != "page hashes do not match") {
      MachOFile broken = MachOFile::Open(bytes);
      if (broken.code_signature()) {
        try {
          CodeSignature signature = ReadAdHocSignature(broken);
          RehashPages(broken, signature);
          bytes = std::move(broken).Release();
        } catch (const FinishError&) {
        }
      }
    }
    try {
      FinishArm64e(bytes);
      ADD_FAILURE() << "accepted";
    } catch (const FinishError& e) {
      EXPECT_NE(std::string(e.what()).find(breakage.message), std::string::npos) << e.what();
    }
  }
}

TEST(FinishArm64e, RefusesAnImageAlreadyFinished) {
  Bytes finished = FinishArm64e(TestImage("signed.dylib"));
  EXPECT_THROW(
      {
        try {
          FinishArm64e(finished);
        } catch (const FinishError& e) {
          EXPECT_STREQ(e.what(), "the image is already arm64e");
          throw;
        }
      },
      FinishError);
}

// Every cut of the file, and every single flipped byte of its load commands
// and fixups, is refused or finished; nothing reads outside the bytes (the
// sanitizer builds run this too).
TEST(FinishArm64e, TruncatedAndCorruptedFilesAreRefusedCleanly) {
  Bytes bytes = TestImage("signed.dylib");
  for (size_t length = 0; length < bytes.size(); length += 61) {
    Bytes cut(bytes.begin(), bytes.begin() + static_cast<ptrdiff_t>(length));
    EXPECT_THROW(FinishArm64e(cut), FinishError) << length << " bytes";
  }
  MachOFile file = MachOFile::Open(bytes);
  const LinkeditData* fixups = file.chained_fixups();
  std::vector<uint64_t> offsets;
  for (uint64_t at = 0; at < 32 + 2048 && at < bytes.size(); at += 7) offsets.push_back(at);
  for (uint64_t at = fixups->data_offset; at < fixups->data_offset + fixups->data_size; ++at)
    offsets.push_back(at);
  for (uint64_t at : offsets) {
    Bytes corrupt = bytes;
    corrupt[at] ^= 0xA5;
    try {
      FinishArm64e(corrupt);
    } catch (const FinishError&) {
    }
  }
}

// The program: one error line, no output file, nothing left beside it.
int RunTool(const std::string& in, const std::string& out, std::string* error) {
  std::string command = std::string(FINISH_TOOL) + " '" + in + "' '" + out + "' 2>&1 >/dev/null";
  FILE* pipe = popen(command.c_str(), "r");
  char buffer[4096];
  size_t n = fread(buffer, 1, sizeof buffer, pipe);
  error->assign(buffer, n);
  int status = pclose(pipe);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(FinishArm64eTool, WritesTheImageOrNothing) {
  fs::path folder = fs::temp_directory_path() / ("finish-arm64e-" + std::to_string(getpid()));
  fs::create_directories(folder);
  std::string error;
  fs::path good = folder / "good.dylib";
  EXPECT_EQ(RunTool(std::string(FINISH_TESTDATA) + "/signed.dylib", good, &error), 0) << error;
  EXPECT_EQ(ReadFile(good), FinishArm64e(TestImage("signed.dylib")));

  // A refused input leaves an existing output as it was, and no temporary.
  fs::path kept = folder / "kept.dylib";
  std::ofstream(kept) << "before";
  EXPECT_EQ(RunTool(std::string(FINISH_TESTDATA) + "/addend.dylib", kept, &error), 1);
  EXPECT_EQ(error.rfind("error: ", 0), 0u) << error;
  EXPECT_EQ(std::count(error.begin(), error.end(), '\n'), 1) << error;
  EXPECT_EQ(ReadFile(kept), (Bytes{'b', 'e', 'f', 'o', 'r', 'e'}));
  fs::path none = folder / "none.dylib";
  EXPECT_EQ(RunTool(good, none, &error), 1) << "an arm64e image finished again";
  EXPECT_FALSE(fs::exists(none));
  size_t files = std::distance(fs::directory_iterator(folder), fs::directory_iterator());
  EXPECT_EQ(files, 2u) << "a temporary file was left behind";
  fs::remove_all(folder);
}

}  // namespace
}  // namespace velmo::arm64e
