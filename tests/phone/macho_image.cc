#include "tests/phone/macho_image.h"

#include <llvm/BinaryFormat/MachO.h>

#include <algorithm>
#include <cstring>
#include <set>

#include "tests/phone/macho_chains.h"
#include "tests/phone/macho_reader.h"

namespace velmo::phone {
namespace {

namespace M = llvm::MachO;
using macho_detail::Bytes;
using macho_detail::Fail;
using macho_detail::FixedName;
using macho_detail::Hex;

// Limits that no image of ours comes near; they keep a hostile file from
// making the parser allocate or loop without bound.
constexpr uint64_t kMaxImageSpan = 256ull << 20;
constexpr size_t kMaxFixups = 1u << 20;
constexpr size_t kMaxSymbolLength = 4096;
constexpr size_t kMaxExports = 1u << 16;
constexpr uint32_t kMaxFatSlices = 16;
// The arm64e header's cpusubtype: CPU_SUBTYPE_ARM64E with the versioned
// pointer-authentication ABI, version 0 (the phone refuses other versions).
const uint32_t kArm64eSubtype = M::CPU_SUBTYPE_ARM64E_WITH_PTRAUTH_VERSION(0, false);

// A cursor over an opcode stream or the export trie.
class Stream {
 public:
  Stream(std::span<const uint8_t> data, const char* what) : data_(data), what_(what) {}
  bool AtEnd() const { return pos_ >= data_.size(); }
  size_t position() const { return pos_; }
  void Seek(size_t pos) {
    if (pos > data_.size()) Fail(std::string(what_) + ": offset past its end");
    pos_ = pos;
  }
  uint8_t Byte() {
    if (AtEnd()) Fail(std::string(what_) + " ends in the middle of an entry");
    return data_[pos_++];
  }
  uint64_t Uleb() {
    uint64_t value = 0;
    for (unsigned shift = 0;; shift += 7) {
      uint8_t b = Byte();
      if (shift > 63 || (shift == 63 && (b & 0x7e) != 0))
        Fail(std::string(what_) + ": ULEB128 value overflows 64 bits");
      value |= static_cast<uint64_t>(b & 0x7f) << shift;
      if (!(b & 0x80)) return value;
    }
  }
  int64_t Sleb() {
    uint64_t value = 0;
    unsigned shift = 0;
    uint8_t b;
    do {
      b = Byte();
      if (shift > 63) Fail(std::string(what_) + ": SLEB128 value overflows 64 bits");
      value |= static_cast<uint64_t>(b & 0x7f) << shift;
      shift += 7;
    } while (b & 0x80);
    if (shift < 64 && (b & 0x40)) value |= ~uint64_t{0} << shift;
    return static_cast<int64_t>(value);
  }
  std::string CString() {
    std::string s;
    for (;;) {
      uint8_t c = Byte();
      if (c == 0) return s;
      if (s.size() >= kMaxSymbolLength) Fail(std::string(what_) + ": name too long");
      s.push_back(static_cast<char>(c));
    }
  }

 private:
  std::span<const uint8_t> data_;
  const char* what_;
  size_t pos_ = 0;
};

class Parser {
 public:
  explicit Parser(std::span<const uint8_t> bytes) : file_(bytes) {}

  MachOImage Run() {
    auto header = file_.Read<M::mach_header_64>(0, "the header");
    if (header.magic != M::MH_MAGIC_64)
      Fail("not a 64-bit little-endian Mach-O (magic " + Hex(header.magic) + ")");
    if (header.cputype != M::CPU_TYPE_ARM64)
      Fail("not arm64 (cputype " + Hex(header.cputype) + ")");
    if (header.cpusubtype == M::CPU_SUBTYPE_ARM64_ALL)
      image_.architecture = Architecture::kArm64;
    else if (header.cpusubtype == kArm64eSubtype)
      image_.architecture = Architecture::kArm64e;
    else
      Fail("neither arm64 nor arm64e with pointer-authentication ABI 0 (cpusubtype " +
           Hex(header.cpusubtype) + ")");
    if (header.filetype != M::MH_DYLIB && header.filetype != M::MH_BUNDLE)
      Fail("neither MH_DYLIB nor MH_BUNDLE (filetype " + std::to_string(header.filetype) + ")");
    image_.file_type = header.filetype;
    const uint64_t commands_start = sizeof(M::mach_header_64);
    if (!file_.Contains(commands_start, header.sizeofcmds))
      Fail("load commands run past the end of the file");
    const uint64_t commands_end = commands_start + header.sizeofcmds;

    std::optional<M::dyld_info_command> dyld_info;
    std::optional<M::linkedit_data_command> chained, exports_trie;
    uint64_t offset = commands_start;
    for (uint32_t i = 0; i < header.ncmds; ++i) {
      if (offset + sizeof(M::load_command) > commands_end)
        Fail("load command " + std::to_string(i) + " lies past sizeofcmds");
      auto lc = file_.Read<M::load_command>(offset, "a load command");
      if (lc.cmdsize < sizeof(M::load_command) || lc.cmdsize % 8 != 0 ||
          lc.cmdsize > commands_end - offset)
        Fail("load command " + std::to_string(i) + " has a bad size " + std::to_string(lc.cmdsize));
      switch (lc.cmd) {
        case M::LC_SEGMENT_64:
          Segment(offset, lc.cmdsize);
          break;
        case M::LC_DYLD_INFO:
        case M::LC_DYLD_INFO_ONLY:
          if (dyld_info) Fail("two LC_DYLD_INFO commands");
          if (lc.cmdsize < sizeof(M::dyld_info_command)) Fail("LC_DYLD_INFO too small");
          dyld_info = file_.Read<M::dyld_info_command>(offset, "LC_DYLD_INFO");
          break;
        case M::LC_DYLD_CHAINED_FIXUPS:
          if (chained) Fail("two LC_DYLD_CHAINED_FIXUPS commands");
          chained = LinkeditData(offset, lc.cmdsize, "LC_DYLD_CHAINED_FIXUPS");
          break;
        case M::LC_DYLD_EXPORTS_TRIE:
          if (exports_trie) Fail("two LC_DYLD_EXPORTS_TRIE commands");
          exports_trie = LinkeditData(offset, lc.cmdsize, "LC_DYLD_EXPORTS_TRIE");
          break;
        case M::LC_LOAD_DYLIB:
        case M::LC_LOAD_WEAK_DYLIB:
        case M::LC_REEXPORT_DYLIB:
        case M::LC_LAZY_LOAD_DYLIB:
        case M::LC_LOAD_UPWARD_DYLIB:
          image_.libraries.push_back(DylibName(offset, lc.cmdsize));
          break;
        case M::LC_ID_DYLIB:
          image_.install_name = DylibName(offset, lc.cmdsize);
          break;
        default:
          break;
      }
      offset += lc.cmdsize;
    }
    if (image_.segments.empty()) Fail("no LC_SEGMENT_64");
    CheckSegments();
    const bool arm64e = image_.architecture == Architecture::kArm64e;
    if (dyld_info && chained) Fail("both LC_DYLD_INFO and LC_DYLD_CHAINED_FIXUPS");
    if (arm64e && dyld_info)
      Fail(
          "an arm64e image with opcode fixups (LC_DYLD_INFO), which the phone reads as another "
          "format");
    if (exports_trie && dyld_info && dyld_info->export_size != 0)
      Fail("both LC_DYLD_EXPORTS_TRIE and an export trie in LC_DYLD_INFO");
    if (chained) {
      image_.chained_fixups = true;
      macho_detail::DecodeChainedFixups(
          Info(chained->dataoff, chained->datasize, "the chained fixups"), file_, image_);
    } else if (arm64e) {
      Fail("an arm64e image without LC_DYLD_CHAINED_FIXUPS");
    }
    if (exports_trie)
      Exports(Info(exports_trie->dataoff, exports_trie->datasize, "the export trie"));
    if (dyld_info) {
      Rebases(Info(dyld_info->rebase_off, dyld_info->rebase_size, "the rebase opcodes"));
      Binds(Info(dyld_info->bind_off, dyld_info->bind_size, "the bind opcodes"),
            MachOBind::Kind::kNonLazy);
      Binds(Info(dyld_info->lazy_bind_off, dyld_info->lazy_bind_size, "the lazy bind opcodes"),
            MachOBind::Kind::kLazy);
      Binds(Info(dyld_info->weak_bind_off, dyld_info->weak_bind_size, "the weak bind opcodes"),
            MachOBind::Kind::kWeak);
      Exports(Info(dyld_info->export_off, dyld_info->export_size, "the export trie"));
    }
    Initializers();
    return std::move(image_);
  }

 private:
  std::span<const uint8_t> Info(uint32_t off, uint32_t size, const char* what) {
    if (size == 0) return {};
    return file_.Slice(off, size, what);
  }

  M::linkedit_data_command LinkeditData(uint64_t offset, uint32_t cmdsize, const char* what) {
    if (cmdsize < sizeof(M::linkedit_data_command)) Fail(std::string(what) + " too small");
    return file_.Read<M::linkedit_data_command>(offset, what);
  }

  std::string DylibName(uint64_t offset, uint32_t cmdsize) {
    if (cmdsize < sizeof(M::dylib_command)) Fail("dylib command too small");
    auto cmd = file_.Read<M::dylib_command>(offset, "a dylib command");
    if (cmd.dylib.name < sizeof(M::dylib_command) || cmd.dylib.name >= cmdsize)
      Fail("dylib name offset outside its command");
    auto field = file_.Slice(offset + cmd.dylib.name, cmdsize - cmd.dylib.name, "a dylib name");
    auto end = std::find(field.begin(), field.end(), 0);
    if (end == field.end()) Fail("dylib name not terminated inside its command");
    return std::string(field.begin(), end);
  }

  void Segment(uint64_t offset, uint32_t cmdsize) {
    if (cmdsize < sizeof(M::segment_command_64)) Fail("LC_SEGMENT_64 too small");
    auto seg = file_.Read<M::segment_command_64>(offset, "LC_SEGMENT_64");
    MachOSegment s;
    s.name = FixedName(seg.segname);
    s.address = seg.vmaddr;
    s.size = seg.vmsize;
    s.file_offset = seg.fileoff;
    s.file_size = seg.filesize;
    s.protection = static_cast<uint32_t>(seg.initprot) & 7;
    if (seg.nsects > (cmdsize - sizeof(M::segment_command_64)) / sizeof(M::section_64))
      Fail("segment " + s.name + " claims more sections than its command holds");
    if (s.size > kMaxImageSpan || s.address > kMaxImageSpan * 64)
      Fail("segment " + s.name + " is implausibly large or far");
    if (s.address % 4096 != 0) Fail("segment " + s.name + " is not page-aligned");
    if (s.file_size > s.size) Fail("segment " + s.name + " has more file bytes than memory");
    if (!file_.Contains(s.file_offset, s.file_size))
      Fail("segment " + s.name + " lies outside the file");
    for (uint32_t i = 0; i < seg.nsects; ++i) {
      auto sec = file_.Read<M::section_64>(
          offset + sizeof(M::segment_command_64) + i * sizeof(M::section_64), "a section header");
      MachOSection t;
      t.segment = s.name;
      t.name = FixedName(sec.sectname);
      t.address = sec.addr;
      t.size = sec.size;
      t.type = sec.flags & M::SECTION_TYPE;
      t.executable = (sec.flags & (M::S_ATTR_PURE_INSTRUCTIONS | M::S_ATTR_SOME_INSTRUCTIONS)) != 0;
      if (t.address < s.address || t.size > s.size || t.address - s.address > s.size - t.size)
        Fail("section " + s.name + "," + t.name + " lies outside its segment");
      image_.sections.push_back(t);
    }
    // Fixups name segments by their place among all segment commands, so
    // every one is kept; a dylib or bundle has no empty segment (only an
    // executable's __PAGEZERO is), and one here would be a damaged image.
    if (s.size == 0) Fail("segment " + s.name + " has no size");
    image_.segments.push_back(s);
  }

  void CheckSegments() {
    auto segs = image_.segments;
    std::sort(segs.begin(), segs.end(), [](auto& a, auto& b) { return a.address < b.address; });
    for (size_t i = 1; i < segs.size(); ++i)
      if (segs[i].address < segs[i - 1].address + segs[i - 1].size)
        Fail("segments " + segs[i - 1].name + " and " + segs[i].name + " overlap");
    image_.base_address = segs.front().address;
    if (segs.back().address + segs.back().size - image_.base_address > kMaxImageSpan)
      Fail("the image spans more than 256 MiB");
  }

  // The address `offset` bytes into segment `index`, checked to hold a pointer.
  uint64_t PointerSlot(uint64_t segment, uint64_t offset, const char* what) {
    if (segment >= image_.segments.size())
      Fail(std::string(what) + " names segment " + std::to_string(segment) +
           ", which does not exist");
    const MachOSegment& s = image_.segments[segment];
    if (s.size < 8 || offset > s.size - 8)
      Fail(std::string(what) + " at " + s.name + "+" + Hex(offset) + " lies outside the segment");
    return s.address + offset;
  }

  // The pointer the file holds `offset` bytes into segment `segment` (0 past
  // its file bytes, where memory is zero-filled).
  uint64_t StoredPointer(uint64_t segment, uint64_t offset) {
    const MachOSegment& s = image_.segments[segment];
    if (offset + 8 > s.file_size) return 0;
    return file_.Read<uint64_t>(s.file_offset + offset, "a rebased pointer");
  }

  void CountFixup() {
    if (image_.rebases.size() + image_.binds.size() >= kMaxFixups) Fail("too many fixups");
  }

  void Rebases(std::span<const uint8_t> data) {
    Stream in(data, "the rebase opcodes");
    uint64_t segment = ~uint64_t{0}, offset = 0;
    auto rebase = [&] {
      CountFixup();
      MachORebase r;
      r.address = PointerSlot(segment, offset, "a rebase");
      r.target = StoredPointer(segment, offset);
      image_.rebases.push_back(r);
    };
    while (!in.AtEnd()) {
      uint8_t byte = in.Byte();
      uint8_t imm = byte & M::REBASE_IMMEDIATE_MASK;
      switch (byte & M::REBASE_OPCODE_MASK) {
        case M::REBASE_OPCODE_DONE:
          return;
        case M::REBASE_OPCODE_SET_TYPE_IMM:
          if (imm != M::REBASE_TYPE_POINTER)
            Fail("rebase type " + std::to_string(imm) + " is not a pointer");
          break;
        case M::REBASE_OPCODE_SET_SEGMENT_AND_OFFSET_ULEB:
          segment = imm;
          offset = in.Uleb();
          break;
        case M::REBASE_OPCODE_ADD_ADDR_ULEB:
          offset += in.Uleb();
          break;
        case M::REBASE_OPCODE_ADD_ADDR_IMM_SCALED:
          offset += imm * 8ull;
          break;
        case M::REBASE_OPCODE_DO_REBASE_IMM_TIMES:
          for (int i = 0; i < imm; ++i, offset += 8) rebase();
          break;
        case M::REBASE_OPCODE_DO_REBASE_ULEB_TIMES: {
          uint64_t times = in.Uleb();
          for (uint64_t i = 0; i < times; ++i, offset += 8) rebase();
          break;
        }
        case M::REBASE_OPCODE_DO_REBASE_ADD_ADDR_ULEB:
          rebase();
          offset += 8 + in.Uleb();
          break;
        case M::REBASE_OPCODE_DO_REBASE_ULEB_TIMES_SKIPPING_ULEB: {
          uint64_t times = in.Uleb(), skip = in.Uleb();
          for (uint64_t i = 0; i < times; ++i, offset += 8 + skip) rebase();
          break;
        }
        default:
          Fail("unknown rebase opcode " + Hex(byte));
      }
    }
  }

  void Binds(std::span<const uint8_t> data, MachOBind::Kind kind) {
    const char* what = kind == MachOBind::Kind::kLazy   ? "the lazy bind opcodes"
                       : kind == MachOBind::Kind::kWeak ? "the weak bind opcodes"
                                                        : "the bind opcodes";
    Stream in(data, what);
    uint64_t segment = ~uint64_t{0}, offset = 0;
    MachOBind current;
    current.kind = kind;
    bool have_symbol = false;
    auto bind = [&] {
      if (!have_symbol) Fail(std::string(what) + ": a bind before any symbol was named");
      CountFixup();
      MachOBind b = current;
      b.address = PointerSlot(segment, offset, "a bind");
      image_.binds.push_back(std::move(b));
    };
    while (!in.AtEnd()) {
      uint8_t byte = in.Byte();
      uint8_t imm = byte & M::BIND_IMMEDIATE_MASK;
      switch (byte & M::BIND_OPCODE_MASK) {
        case M::BIND_OPCODE_DONE:
          // The lazy stream ends each entry with DONE; the others end there.
          if (kind != MachOBind::Kind::kLazy) return;
          break;
        case M::BIND_OPCODE_SET_DYLIB_ORDINAL_IMM:
          SetLibrary(current, imm);
          break;
        case M::BIND_OPCODE_SET_DYLIB_ORDINAL_ULEB: {
          uint64_t ordinal = in.Uleb();
          if (ordinal > 0xffff)
            Fail("library ordinal " + std::to_string(ordinal) + " out of range");
          SetLibrary(current, static_cast<int>(ordinal));
          break;
        }
        case M::BIND_OPCODE_SET_DYLIB_SPECIAL_IMM:
          // Sign-extends the four-bit immediate: 0, -1 or -2.
          current.library = imm == 0 ? 0 : static_cast<int>(static_cast<int8_t>(0xf0 | imm));
          if (current.library < M::BIND_SPECIAL_DYLIB_FLAT_LOOKUP)
            Fail("unknown special library ordinal");
          break;
        case M::BIND_OPCODE_SET_SYMBOL_TRAILING_FLAGS_IMM:
          current.symbol = in.CString();
          current.weak_import = (imm & M::BIND_SYMBOL_FLAGS_WEAK_IMPORT) != 0;
          have_symbol = true;
          break;
        case M::BIND_OPCODE_SET_TYPE_IMM:
          if (imm != M::BIND_TYPE_POINTER)
            Fail("bind type " + std::to_string(imm) + " is not a pointer");
          break;
        case M::BIND_OPCODE_SET_ADDEND_SLEB:
          current.addend = in.Sleb();
          break;
        case M::BIND_OPCODE_SET_SEGMENT_AND_OFFSET_ULEB:
          segment = imm;
          offset = in.Uleb();
          break;
        case M::BIND_OPCODE_ADD_ADDR_ULEB:
          offset += in.Uleb();
          break;
        case M::BIND_OPCODE_DO_BIND:
          bind();
          offset += 8;
          break;
        case M::BIND_OPCODE_DO_BIND_ADD_ADDR_ULEB:
          bind();
          offset += 8 + in.Uleb();
          break;
        case M::BIND_OPCODE_DO_BIND_ADD_ADDR_IMM_SCALED:
          bind();
          offset += 8 + imm * 8ull;
          break;
        case M::BIND_OPCODE_DO_BIND_ULEB_TIMES_SKIPPING_ULEB: {
          uint64_t times = in.Uleb(), skip = in.Uleb();
          for (uint64_t i = 0; i < times; ++i, offset += 8 + skip) bind();
          break;
        }
        default:
          Fail(std::string(what) + ": unknown opcode " + Hex(byte));
      }
    }
  }

  void SetLibrary(MachOBind& bind, int ordinal) {
    if (ordinal < 1 || static_cast<size_t>(ordinal) > image_.libraries.size())
      Fail("library ordinal " + std::to_string(ordinal) + " names no LC_LOAD_DYLIB");
    bind.library = ordinal;
  }

  void Exports(std::span<const uint8_t> trie) {
    if (trie.empty()) return;
    std::set<size_t> visited;
    struct Pending {
      size_t node;
      std::string prefix;
    };
    std::vector<Pending> work{{0, ""}};
    Stream in(trie, "the export trie");
    while (!work.empty()) {
      Pending p = std::move(work.back());
      work.pop_back();
      // Each node is visited once: a trie whose edges loop or share a node is refused.
      if (!visited.insert(p.node).second) Fail("the export trie reaches a node twice");
      in.Seek(p.node);
      uint64_t info_size = in.Uleb();
      size_t info_start = in.position();
      if (info_size > trie.size() - info_start) Fail("an export trie node runs past the trie");
      if (info_size > 0) {
        MachOExport e;
        e.flags = in.Uleb();
        if (e.flags & M::EXPORT_SYMBOL_FLAGS_REEXPORT) {
          in.Uleb();
          in.CString();
        } else {
          e.address = in.Uleb();
          if (e.flags & M::EXPORT_SYMBOL_FLAGS_STUB_AND_RESOLVER) in.Uleb();
        }
        if (in.position() != info_start + info_size)
          Fail("an export's information has the wrong size");
        if (image_.exports.size() >= kMaxExports) Fail("too many exports");
        if (!(e.flags & M::EXPORT_SYMBOL_FLAGS_REEXPORT)) image_.exports[p.prefix] = e;
      }
      in.Seek(info_start + info_size);
      uint8_t children = in.Byte();
      for (uint8_t i = 0; i < children; ++i) {
        std::string edge = in.CString();
        uint64_t child = in.Uleb();
        if (child >= trie.size()) Fail("an export trie edge points past the trie");
        if (p.prefix.size() + edge.size() > kMaxSymbolLength) Fail("an exported name is too long");
        work.push_back({static_cast<size_t>(child), p.prefix + edge});
      }
    }
  }

  void Initializers() {
    for (const MachOSection& s : image_.sections) {
      if (s.type == M::S_INIT_FUNC_OFFSETS) {
        InitOffsets(s);
        continue;
      }
      if (s.type != M::S_MOD_INIT_FUNC_POINTERS) continue;
      if (s.size % 8 != 0 || s.address % 8 != 0) Fail("__mod_init_func is not a list of pointers");
      const MachOSegment* seg = image_.SegmentAt(s.address);
      if (!seg || s.address + s.size > seg->address + seg->file_size)
        Fail("__mod_init_func lies outside its segment's file bytes");
      for (uint64_t a = s.address; a < s.address + s.size; a += 8)
        image_.initializers.push_back({a, true});
    }
  }

  // __init_offsets: 32-bit offsets from the image's start, each naming a
  // function in the image's code; no fixups apply to them.
  void InitOffsets(const MachOSection& s) {
    if (s.size % 4 != 0 || s.address % 4 != 0) Fail("__init_offsets is not a list of offsets");
    const MachOSegment* seg = image_.SegmentAt(s.address);
    if (!seg || s.address + s.size > seg->address + seg->file_size)
      Fail("__init_offsets lies outside its segment's file bytes");
    for (uint64_t a = s.address; a < s.address + s.size; a += 4) {
      uint32_t off = file_.Read<uint32_t>(seg->file_offset + (a - seg->address), "__init_offsets");
      uint64_t target = image_.base_address + off;
      const MachOSection* code = SectionAt(target);
      if (!code || !code->executable || target % 4 != 0)
        Fail("an initializer offset " + Hex(off) + " names no code in the image");
      image_.initializers.push_back({target, false});
    }
  }

  const MachOSection* SectionAt(uint64_t address) const {
    for (const MachOSection& s : image_.sections)
      if (address >= s.address && address - s.address < s.size) return &s;
    return nullptr;
  }

  Bytes file_;
  MachOImage image_;
};

}  // namespace

MachOImage MachOImage::Parse(std::span<const uint8_t> bytes) { return Parser(bytes).Run(); }

const char* ArchitectureName(Architecture arch) {
  return arch == Architecture::kArm64e ? "arm64e" : "arm64";
}

uint32_t CpuSubtype(Architecture arch) {
  return arch == Architecture::kArm64e ? kArm64eSubtype : M::CPU_SUBTYPE_ARM64_ALL;
}

std::span<const uint8_t> MachOImage::SelectSlice(std::span<const uint8_t> file, Architecture arch) {
  Bytes in(file);
  // The fat header and its entries are big-endian.
  auto be32 = [&](uint64_t at) {
    return __builtin_bswap32(in.Read<uint32_t>(at, "the fat header"));
  };
  auto be64 = [&](uint64_t at) {
    return __builtin_bswap64(in.Read<uint64_t>(at, "the fat header"));
  };
  const uint32_t magic = be32(0);
  if (magic != M::FAT_MAGIC && magic != M::FAT_MAGIC_64) return file;
  const bool wide = magic == M::FAT_MAGIC_64;
  const uint32_t count = be32(4);
  if (count == 0 || count > kMaxFatSlices)
    Fail("a fat file with " + std::to_string(count) + " slices");
  const uint64_t entry = wide ? sizeof(M::fat_arch_64) : sizeof(M::fat_arch);
  const uint64_t entries_end = sizeof(M::fat_header) + count * entry;
  struct Slice {
    uint32_t cputype, cpusubtype;
    uint64_t offset, size;
  };
  std::vector<Slice> slices;
  for (uint32_t i = 0; i < count; ++i) {
    uint64_t at = sizeof(M::fat_header) + i * entry;
    Slice s{be32(at), be32(at + 4), 0, 0};
    uint32_t align;
    if (wide) {
      s.offset = be64(at + 8);
      s.size = be64(at + 16);
      align = be32(at + 24);
    } else {
      s.offset = be32(at + 8);
      s.size = be32(at + 12);
      align = be32(at + 16);
    }
    const std::string name = "fat slice " + std::to_string(i);
    if (align > 15 || s.offset % (uint64_t{1} << align) != 0)
      Fail(name + " is not aligned as its entry says");
    if (s.offset < entries_end || !in.Contains(s.offset, s.size) ||
        s.size < sizeof(M::mach_header_64))
      Fail(name + " lies outside the file or over the fat header");
    for (const Slice& other : slices) {
      if (s.offset < other.offset + other.size && other.offset < s.offset + s.size)
        Fail(name + " overlaps another slice");
      if (s.cputype == other.cputype && s.cpusubtype == other.cpusubtype)
        Fail("two fat slices of the same architecture");
    }
    auto header = in.Read<M::mach_header_64>(s.offset, "a fat slice's header");
    if (header.magic != M::MH_MAGIC_64 || header.cputype != s.cputype ||
        header.cpusubtype != s.cpusubtype)
      Fail(name + "'s header disagrees with its fat entry (cputype " + Hex(header.cputype) +
           ", cpusubtype " + Hex(header.cpusubtype) + ")");
    slices.push_back(s);
  }
  for (const Slice& s : slices)
    if (s.cputype == M::CPU_TYPE_ARM64 && s.cpusubtype == CpuSubtype(arch))
      return file.subspan(s.offset, s.size);
  throw MachOError(std::string("the fat file has no ") + ArchitectureName(arch) + " slice");
}

const MachOSegment* MachOImage::SegmentAt(uint64_t address) const {
  for (const MachOSegment& s : segments)
    if (address >= s.address && address - s.address < s.size) return &s;
  return nullptr;
}

const MachOSection* MachOImage::FindSection(std::string_view segment, std::string_view name) const {
  for (const MachOSection& s : sections)
    if (s.segment == segment && s.name == name) return &s;
  return nullptr;
}

std::optional<uint64_t> MachOImage::ExportAddress(const std::string& symbol) const {
  auto it = exports.find(symbol);
  if (it == exports.end()) return std::nullopt;
  return base_address + it->second.address;
}

}  // namespace velmo::phone
