#include "tests/phone/macho_chains.h"

#include <llvm/BinaryFormat/MachO.h>

#include <algorithm>
#include <string>
#include <vector>

namespace velmo::phone::macho_detail {
namespace {

namespace M = llvm::MachO;

constexpr size_t kMaxFixups = 1u << 20;
constexpr size_t kMaxSymbolLength = 4096;
// The fixed part of dyld_chained_starts_in_segment, before page_start[].
constexpr size_t kStartsInSegmentHead = offsetof(M::dyld_chained_starts_in_segment, page_start);
constexpr uint32_t kMaxImports = 1u << 20;

uint64_t Bits(uint64_t value, unsigned low, unsigned count) {
  return (value >> low) & ((uint64_t{1} << count) - 1);
}

int64_t SignExtend(uint64_t value, unsigned bits) {
  uint64_t sign = uint64_t{1} << (bits - 1);
  return static_cast<int64_t>((value ^ sign) - sign);
}

struct Import {
  std::string symbol;
  int library = 0;
  bool weak_import = false;
  int64_t addend = 0;
};

class Decoder {
 public:
  Decoder(std::span<const uint8_t> payload, const Bytes& file, MachOImage& image)
      : payload_(payload), data_(payload), file_(file), image_(image) {}

  void Run() {
    auto header = data_.Read<M::dyld_chained_fixups_header>(0, "the chained fixups header");
    if (header.fixups_version != 0)
      Fail("chained fixups version " + std::to_string(header.fixups_version));
    if (header.symbols_format != M::DYLD_CHAINED_SYMBOL_UNCOMPRESSED)
      Fail("compressed chained-fixup symbols (format " + std::to_string(header.symbols_format) +
           ")");
    Imports(header);
    Starts(header.starts_offset);
  }

 private:
  void Imports(const M::dyld_chained_fixups_header& h) {
    if (h.imports_count > kMaxImports) Fail("too many chained imports");
    size_t entry = 0;
    switch (h.imports_format) {
      case M::DYLD_CHAINED_IMPORT:
        entry = sizeof(M::dyld_chained_import);
        break;
      case M::DYLD_CHAINED_IMPORT_ADDEND:
        entry = sizeof(M::dyld_chained_import_addend);
        break;
      case M::DYLD_CHAINED_IMPORT_ADDEND64:
        entry = sizeof(M::dyld_chained_import_addend64);
        break;
      default:
        Fail("unknown chained imports format " + std::to_string(h.imports_format));
    }
    if (!data_.Contains(h.imports_offset, uint64_t{h.imports_count} * entry))
      Fail("the chained imports lie outside the chained fixups");
    if (h.symbols_offset > payload_.size()) Fail("the chained symbols lie outside the fixups");
    auto symbols = payload_.subspan(h.symbols_offset);
    for (uint32_t i = 0; i < h.imports_count; ++i) {
      uint64_t at = h.imports_offset + uint64_t{i} * entry;
      uint64_t ordinal, name_offset;
      Import imp;
      if (h.imports_format == M::DYLD_CHAINED_IMPORT_ADDEND64) {
        auto e = data_.Read<M::dyld_chained_import_addend64>(at, "a chained import");
        if (e.reserved != 0) Fail("a chained import's reserved bits are set");
        ordinal = e.lib_ordinal > 0xfff0 ? static_cast<uint64_t>(SignExtend(e.lib_ordinal, 16))
                                         : e.lib_ordinal;
        imp.weak_import = e.weak_import;
        name_offset = e.name_offset;
        imp.addend = static_cast<int64_t>(e.addend);
      } else {
        auto e = data_.Read<M::dyld_chained_import>(at, "a chained import");
        ordinal = e.lib_ordinal > 0xf0 ? static_cast<uint64_t>(SignExtend(e.lib_ordinal, 8))
                                       : e.lib_ordinal;
        imp.weak_import = e.weak_import;
        name_offset = e.name_offset;
        if (h.imports_format == M::DYLD_CHAINED_IMPORT_ADDEND)
          imp.addend = data_.Read<M::dyld_chained_import_addend>(at, "a chained import").addend;
      }
      int library = static_cast<int>(static_cast<int64_t>(ordinal));
      // 0 is the image itself; -1 the main executable, -2 a flat lookup, -3
      // a lookup of a weak definition.
      if (library < M::BIND_SPECIAL_DYLIB_WEAK_LOOKUP ||
          (library > 0 && static_cast<size_t>(library) > image_.libraries.size()))
        Fail("chained import " + std::to_string(i) + " names library ordinal " +
             std::to_string(library) + ", which no LC_LOAD_DYLIB has");
      imp.library = library;
      if (name_offset >= symbols.size())
        Fail("chained import " + std::to_string(i) + "'s name lies outside the symbols");
      auto rest = symbols.subspan(name_offset);
      auto end = std::find(rest.begin(), rest.end(), 0);
      if (end == rest.end())
        Fail("chained import " + std::to_string(i) + "'s name is unterminated");
      if (end - rest.begin() > static_cast<ptrdiff_t>(kMaxSymbolLength))
        Fail("chained import " + std::to_string(i) + "'s name is too long");
      imp.symbol.assign(rest.begin(), end);
      if (imp.symbol.empty()) Fail("chained import " + std::to_string(i) + " has no name");
      imports_.push_back(std::move(imp));
    }
  }

  void Starts(uint32_t starts_offset) {
    uint32_t count = data_.Read<uint32_t>(starts_offset, "the chained starts");
    if (count > image_.segments.size())
      Fail("the chained starts name " + std::to_string(count) + " segments, the image has " +
           std::to_string(image_.segments.size()));
    for (uint32_t i = 0; i < count; ++i) {
      uint32_t offset = data_.Read<uint32_t>(starts_offset + 4 + 4ull * i, "the chained starts");
      if (offset != 0) Segment(i, uint64_t{starts_offset} + offset);
    }
  }

  void Segment(uint32_t index, uint64_t at) {
    const MachOSegment& seg = image_.segments[index];
    auto s = data_.Read<M::dyld_chained_starts_in_segment>(at, "a segment's chained starts");
    if (s.size < kStartsInSegmentHead + 2ull * s.page_count ||
        !data_.Contains(at, kStartsInSegmentHead + 2ull * s.page_count))
      Fail("segment " + seg.name + "'s chained starts run past their size");
    if (s.page_size != 0x1000 && s.page_size != 0x4000)
      Fail("segment " + seg.name + "'s chained page size " + std::to_string(s.page_size));
    if (s.segment_offset != seg.address - image_.base_address)
      Fail("segment " + seg.name + "'s chained starts give the offset " + Hex(s.segment_offset) +
           ", not the segment's");
    if (uint64_t{s.page_count} * s.page_size > seg.size + s.page_size - 1)
      Fail("segment " + seg.name + "'s chained starts have more pages than the segment");
    const bool arm64e = image_.architecture == Architecture::kArm64e;
    switch (s.pointer_format) {
      case M::DYLD_CHAINED_PTR_ARM64E:
        if (!arm64e) Fail("DYLD_CHAINED_PTR_ARM64E chains in an arm64 image");
        break;
      case M::DYLD_CHAINED_PTR_64:
      case M::DYLD_CHAINED_PTR_64_OFFSET:
        if (arm64e)
          Fail("chain format " + std::to_string(s.pointer_format) +
               " in an arm64e image, which takes only DYLD_CHAINED_PTR_ARM64E");
        break;
      default:
        Fail("unsupported chain format " + std::to_string(s.pointer_format) + " in segment " +
             seg.name);
    }
    for (uint16_t page = 0; page < s.page_count; ++page) {
      uint16_t start =
          data_.Read<uint16_t>(at + kStartsInSegmentHead + 2ull * page, "a page start");
      if (start == M::DYLD_CHAINED_PTR_START_NONE) continue;
      if (start & M::DYLD_CHAINED_PTR_START_MULTI)
        Fail("a page with several chain starts, which 64-bit formats do not have");
      Chain(seg, s.pointer_format, uint64_t{page} * s.page_size, start, s.page_size);
    }
  }

  // Walks one page's chain from `start`; every link stays inside the page
  // and the segment's file bytes.
  void Chain(const MachOSegment& seg, uint16_t format, uint64_t page_offset, uint64_t start,
             uint64_t page_size) {
    const uint64_t stride = format == M::DYLD_CHAINED_PTR_ARM64E ? 8 : 4;
    uint64_t offset = start;
    for (;;) {
      if (offset % stride != 0 || offset >= page_size || page_offset + offset + 8 > seg.file_size)
        Fail("a chain in segment " + seg.name + " reaches " + Hex(page_offset + offset) +
             ", outside its page or the segment's file bytes");
      if (image_.rebases.size() + image_.binds.size() >= kMaxFixups) Fail("too many fixups");
      uint64_t address = seg.address + page_offset + offset;
      uint64_t raw =
          file_.Read<uint64_t>(seg.file_offset + page_offset + offset, "a chained fixup");
      uint64_t next = format == M::DYLD_CHAINED_PTR_ARM64E ? Arm64e(address, raw)
                                                           : Plain64(address, raw, format);
      if (next == 0) return;
      offset += next * stride;
    }
  }

  // DYLD_CHAINED_PTR_64 and _64_OFFSET: dyld_chained_ptr_64_bind / _rebase.
  uint64_t Plain64(uint64_t address, uint64_t raw, uint16_t format) {
    if (raw >> 63) {
      M::dyld_chained_ptr_64_bind b;
      memcpy(&b, &raw, 8);
      if (b.reserved != 0) Fail("a chained bind at " + Hex(address) + " has reserved bits set");
      Bind(address, b.ordinal, b.addend, {});
      return b.next;
    }
    M::dyld_chained_ptr_64_rebase r;
    memcpy(&r, &raw, 8);
    if (r.reserved != 0) Fail("a chained rebase at " + Hex(address) + " has reserved bits set");
    uint64_t target =
        format == M::DYLD_CHAINED_PTR_64_OFFSET ? image_.base_address + r.target : r.target;
    Rebase(address, target, static_cast<uint8_t>(r.high8), {});
    return r.next;
  }

  // DYLD_CHAINED_PTR_ARM64E, whose four layouts (dyld_chained_ptr_arm64e_*
  // in the loader's headers; LLVM names only the format) share the top
  // bits: auth (63), bind (62), next (51-61, in 8-byte strides).
  uint64_t Arm64e(uint64_t address, uint64_t raw) {
    const bool auth = Bits(raw, 63, 1), bind = Bits(raw, 62, 1);
    const uint64_t next = Bits(raw, 51, 11);
    MachOPointerAuth scheme;
    if (auth) {
      scheme.authenticated = true;
      scheme.discriminator = static_cast<uint16_t>(Bits(raw, 32, 16));
      scheme.address_diversity = Bits(raw, 48, 1);
      scheme.key = static_cast<uint8_t>(Bits(raw, 49, 2));
    }
    if (bind) {
      // ordinal 0-15, zero 16-31; a plain bind's addend 32-50 (signed),
      // an auth bind has none.
      if (Bits(raw, 16, 16) != 0)
        Fail("an arm64e chained bind at " + Hex(address) + " has its zero bits set");
      int64_t addend = auth ? 0 : SignExtend(Bits(raw, 32, 19), 19);
      Bind(address, Bits(raw, 0, 16), addend, scheme);
    } else if (auth) {
      // target 0-31: an offset from the image's start.
      Rebase(address, image_.base_address + Bits(raw, 0, 32), 0, scheme);
    } else {
      // target 0-42: an unslid address; high8 43-50.
      Rebase(address, Bits(raw, 0, 43), static_cast<uint8_t>(Bits(raw, 43, 8)), scheme);
    }
    return next;
  }

  void Rebase(uint64_t address, uint64_t target, uint8_t high8, MachOPointerAuth auth) {
    const MachOSegment& last =
        *std::max_element(image_.segments.begin(), image_.segments.end(),
                          [](auto& a, auto& b) { return a.address < b.address; });
    // One past the image's end is a valid target (the end of a section).
    if (target < image_.base_address || target > last.address + last.size)
      Fail("a chained rebase at " + Hex(address) + " targets " + Hex(target) +
           ", outside the image");
    image_.rebases.push_back({address, target, high8, auth});
  }

  void Bind(uint64_t address, uint64_t ordinal, int64_t addend, MachOPointerAuth auth) {
    if (ordinal >= imports_.size())
      Fail("a chained bind at " + Hex(address) + " names import " + std::to_string(ordinal) +
           " of " + std::to_string(imports_.size()));
    const Import& imp = imports_[ordinal];
    MachOBind b;
    b.address = address;
    b.symbol = imp.symbol;
    b.addend = imp.addend + addend;
    b.library = imp.library;
    b.weak_import = imp.weak_import;
    b.auth = auth;
    image_.binds.push_back(std::move(b));
  }

  std::span<const uint8_t> payload_;
  Bytes data_;
  const Bytes& file_;
  MachOImage& image_;
  std::vector<Import> imports_;
};

}  // namespace

void DecodeChainedFixups(std::span<const uint8_t> payload, const Bytes& file, MachOImage& image) {
  Decoder(payload, file, image).Run();
}

}  // namespace velmo::phone::macho_detail
