// MachOImage: what a test needs to know about an arm64 or arm64e Mach-O
// library (MH_DYLIB or MH_BUNDLE) in order to load it: its segments and
// sections, the libraries it links, its rebases and binds (decoded from the
// opcode streams of LC_DYLD_INFO / LC_DYLD_INFO_ONLY, or from the chains of
// LC_DYLD_CHAINED_FIXUPS in the formats DYLD_CHAINED_PTR_64, _64_OFFSET and
// ARM64E, with the pointer-authentication scheme of each auth fixup), its
// exports (from the export trie) and its initializers (__mod_init_func
// pointers or __init_offsets offsets).
//
// SelectSlice() picks one architecture's slice out of a fat file (or takes
// a thin file as it is), refusing a malformed fat header.
//
// Parse() reads untrusted bytes: every offset, size, count and address is
// checked against the file and the image's own segments, and anything it
// cannot vouch for is refused with a MachOError naming what is wrong. It
// never reads outside the bytes it is given. Addresses are the image's own
// (unslid) virtual addresses. A MachOImage is a plain value; it keeps no
// reference to the bytes it was parsed from.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace velmo::phone {

class MachOError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct MachOSection {
  std::string segment;
  std::string name;
  uint64_t address = 0;
  uint64_t size = 0;
  uint32_t type = 0;        // flags & SECTION_TYPE
  bool executable = false;  // S_ATTR_PURE_INSTRUCTIONS or S_ATTR_SOME_INSTRUCTIONS
};

struct MachOSegment {
  std::string name;
  uint64_t address = 0;
  uint64_t size = 0;  // vmsize
  uint64_t file_offset = 0;
  uint64_t file_size = 0;
  uint32_t protection = 0;  // initprot: VM_PROT_READ | VM_PROT_WRITE | VM_PROT_EXECUTE
};

// How a fixup's pointer is signed: the key (0 IA, 1 IB, 2 DA, 3 DB),
// whether the storage address is blended into the modifier, and the 16-bit
// discriminator. `authenticated` is false for a plain pointer.
struct MachOPointerAuth {
  bool authenticated = false;
  uint8_t key = 0;
  bool address_diversity = false;
  uint16_t discriminator = 0;
  bool operator==(const MachOPointerAuth&) const = default;
};

// A pointer-sized location the loader must fill with `target` (an unslid
// address inside the image) plus the slide, with `high8` in its top byte.
struct MachORebase {
  uint64_t address = 0;
  uint64_t target = 0;
  uint8_t high8 = 0;
  MachOPointerAuth auth;
};

// A pointer-sized location the loader must fill with the address of an
// imported symbol (plus addend). `library` is the dylib ordinal (1-based
// into MachOImage::libraries; 0 for the image itself, negative for the
// special ordinals).
struct MachOBind {
  enum class Kind { kNonLazy, kLazy, kWeak };
  uint64_t address = 0;
  std::string symbol;
  int64_t addend = 0;
  int library = 0;
  bool weak_import = false;
  Kind kind = Kind::kNonLazy;
  MachOPointerAuth auth;  // an arm64e auth bind's scheme (its addend is 0)
};

// An initializer: a slot in __mod_init_func holding the pointer to call
// (read after fixups), or, from __init_offsets, the function itself.
struct MachOInitializer {
  uint64_t address = 0;
  bool is_slot = false;
};

struct MachOExport {
  uint64_t address = 0;  // offset from the image's first segment
  uint64_t flags = 0;
};

// The architectures of the phone's libraries (a slice's cpusubtype).
enum class Architecture { kArm64, kArm64e };
const char* ArchitectureName(Architecture arch);  // "arm64", "arm64e"
uint32_t CpuSubtype(Architecture arch);           // 0, 0x80000002

struct MachOImage {
  uint32_t file_type = 0;  // MH_DYLIB or MH_BUNDLE
  Architecture architecture = Architecture::kArm64;
  bool chained_fixups = false;         // LC_DYLD_CHAINED_FIXUPS rather than opcode streams
  std::string install_name;            // LC_ID_DYLIB, empty for a bundle
  std::vector<std::string> libraries;  // LC_LOAD_DYLIB and kin, in ordinal order
  std::vector<MachOSegment> segments;
  std::vector<MachOSection> sections;
  std::vector<MachORebase> rebases;
  std::vector<MachOBind> binds;  // non-lazy, lazy and weak
  std::map<std::string, MachOExport> exports;
  std::vector<MachOInitializer> initializers;  // in order
  uint64_t base_address = 0;                   // the lowest segment address

  // Parses an image. Throws MachOError when the bytes are not a well-formed
  // arm64 (CPU_SUBTYPE_ARM64_ALL) or arm64e (0x80000002) MH_DYLIB or
  // MH_BUNDLE; an arm64e image must have its fixups in ARM64E chains, an
  // arm64 image must not.
  static MachOImage Parse(std::span<const uint8_t> bytes);
  // The bytes of `arch`'s slice of a fat file, or the whole of a thin file.
  // Throws MachOError when a fat header is malformed, a slice lies outside
  // the file or overlaps another, a slice's header disagrees with its fat
  // entry, or the file has no slice of `arch`.
  static std::span<const uint8_t> SelectSlice(std::span<const uint8_t> file, Architecture arch);

  const MachOSegment* SegmentAt(uint64_t address) const;
  const MachOSection* FindSection(std::string_view segment, std::string_view name) const;
  std::optional<uint64_t> ExportAddress(const std::string& symbol) const;
};

}  // namespace velmo::phone
