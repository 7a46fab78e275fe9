// MachOImage: what a test needs to know about an arm64 Mach-O library
// (MH_DYLIB or MH_BUNDLE) in order to load it: its segments and sections,
// the libraries it links, its rebases and binds (from LC_DYLD_INFO or
// LC_DYLD_INFO_ONLY, decoded from their opcode streams), its exports (from
// the export trie) and the addresses of its initializer pointers.
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
};

struct MachOExport {
  uint64_t address = 0;  // offset from the image's first segment
  uint64_t flags = 0;
};

struct MachOImage {
  uint32_t file_type = 0;              // MH_DYLIB or MH_BUNDLE
  std::string install_name;            // LC_ID_DYLIB, empty for a bundle
  std::vector<std::string> libraries;  // LC_LOAD_DYLIB and kin, in ordinal order
  std::vector<MachOSegment> segments;
  std::vector<MachOSection> sections;
  std::vector<uint64_t> rebases;  // addresses of pointers to slide
  std::vector<MachOBind> binds;   // non-lazy, lazy and weak
  std::map<std::string, MachOExport> exports;
  std::vector<uint64_t> initializer_slots;  // each holds a pointer to call, in order
  uint64_t base_address = 0;                // the lowest segment address

  // Parses an image. Throws MachOError when the bytes are not a well-formed
  // arm64 MH_DYLIB or MH_BUNDLE.
  static MachOImage Parse(std::span<const uint8_t> bytes);

  const MachOSegment* SegmentAt(uint64_t address) const;
  const MachOSection* FindSection(std::string_view segment, std::string_view name) const;
  std::optional<uint64_t> ExportAddress(const std::string& symbol) const;
};

}  // namespace velmo::phone
