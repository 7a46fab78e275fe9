#include "phone/finish-arm64e/chained_fixups.h"

#include <llvm/BinaryFormat/MachO.h>

#include <cstddef>

namespace velmo::arm64e {
namespace {

namespace M = llvm::MachO;

// The DYLD_CHAINED_PTR_ARM64E pointer layouts, which LLVM's MachO.h names
// (the format's constant) but does not lay out: a rebase target is an image
// address, an authenticated rebase's an offset from the image's start; an
// authenticated bind carries no addend. 8-byte stride.
struct Arm64eRebase {
  uint64_t target : 43, high8 : 8, next : 11, bind : 1, auth : 1;
};
struct Arm64eBind {
  uint64_t ordinal : 16, zero : 16, addend : 19, next : 11, bind : 1, auth : 1;
};
struct Arm64eAuthRebase {
  uint64_t target : 32, diversity : 16, addr_div : 1, key : 2, next : 11, bind : 1, auth : 1;
};
struct Arm64eAuthBind {
  uint64_t ordinal : 16, zero : 16, diversity : 16, addr_div : 1, key : 2, next : 11, bind : 1,
      auth : 1;
};
static_assert(sizeof(Arm64eRebase) == 8 && sizeof(Arm64eBind) == 8 &&
              sizeof(Arm64eAuthRebase) == 8 && sizeof(Arm64eAuthBind) == 8);
static_assert(sizeof(M::dyld_chained_ptr_64_rebase) == 8 &&
              sizeof(M::dyld_chained_ptr_64_bind) == 8);

constexpr size_t kMaxFixups = 1u << 20;
constexpr uint64_t kStartsFixedSize = offsetof(M::dyld_chained_starts_in_segment, page_start);

template <typename T>
T As(uint64_t raw) {
  T value;
  memcpy(&value, &raw, sizeof value);
  return value;
}
template <typename T>
uint64_t Raw(const T& value) {
  uint64_t raw;
  memcpy(&raw, &value, sizeof raw);
  return raw;
}

uint64_t Stride(uint16_t format) { return format == M::DYLD_CHAINED_PTR_ARM64E ? 8 : 4; }

// One segment's chain starts, where they are in the file.
struct SegmentStarts {
  size_t segment = 0;
  uint64_t offset = 0;  // file offset of the dyld_chained_starts_in_segment
  M::dyld_chained_starts_in_segment fixed{};
};

struct Layout {
  uint64_t data = 0;  // file offset of the fixups payload
  uint32_t size = 0;
  M::dyld_chained_fixups_header header{};
  std::vector<SegmentStarts> starts;
};

Layout ReadLayout(const MachOFile& file) {
  const LinkeditData* lc = file.chained_fixups();
  if (!lc)
    Refuse("the image has no chained fixups (LC_DYLD_CHAINED_FIXUPS); link it with -fixup_chains");
  Layout layout{lc->data_offset, lc->data_size, {}, {}};
  if (layout.size < sizeof(M::dyld_chained_fixups_header))
    Refuse("the chained fixups header is cut short");
  layout.header =
      file.Read<M::dyld_chained_fixups_header>(layout.data, "the chained fixups header");
  const auto& h = layout.header;
  if (h.fixups_version != 0)
    Refuse("unknown chained fixups version " + std::to_string(h.fixups_version));
  if (h.symbols_format != 0) Refuse("compressed chained-fixup symbols are not supported");
  if (h.starts_offset > layout.size || layout.size - h.starts_offset < 4)
    Refuse("the chain starts lie outside the fixups data");
  const uint64_t image_starts = layout.data + h.starts_offset;
  uint32_t seg_count = file.Read<uint32_t>(image_starts, "the chain starts' segment count");
  if (seg_count != file.segments().size())
    Refuse("the chain starts name " + std::to_string(seg_count) + " segments; the image has " +
           std::to_string(file.segments().size()));
  if ((layout.size - h.starts_offset - 4) / 4 < seg_count) Refuse("the chain starts are cut short");
  for (uint32_t i = 0; i < seg_count; ++i) {
    uint32_t info = file.Read<uint32_t>(image_starts + 4 + 4 * i, "a segment's chain start offset");
    if (info == 0) continue;
    if (info > layout.size - h.starts_offset ||
        layout.size - h.starts_offset - info < kStartsFixedSize)
      Refuse("segment " + file.segments()[i].name + "'s chain starts lie outside the fixups data");
    SegmentStarts s;
    s.segment = i;
    s.offset = image_starts + info;
    memcpy(&s.fixed, file.bytes().data() + s.offset, kStartsFixedSize);
    const Segment& segment = file.segments()[i];
    if (s.fixed.size < kStartsFixedSize + 2ull * s.fixed.page_count ||
        s.fixed.size > layout.size - h.starts_offset - info)
      Refuse("segment " + segment.name + "'s chain starts have a bad size");
    if (s.fixed.page_size != 0x1000 && s.fixed.page_size != 0x4000)
      Refuse("segment " + segment.name + "'s chains have page size " + Hex(s.fixed.page_size));
    uint16_t f = s.fixed.pointer_format;
    if (f != M::DYLD_CHAINED_PTR_64 && f != M::DYLD_CHAINED_PTR_64_OFFSET &&
        f != M::DYLD_CHAINED_PTR_ARM64E)
      Refuse("segment " + segment.name + "'s chains are in pointer format " + std::to_string(f) +
             ", which this step does not convert");
    if (!layout.starts.empty() && f != layout.starts.front().fixed.pointer_format)
      Refuse("the segments' chains are in different pointer formats");
    if (s.fixed.segment_offset != segment.address - file.base_address())
      Refuse("segment " + segment.name + "'s chain starts give the wrong segment offset");
    const uint64_t covered = uint64_t{s.fixed.page_count} * s.fixed.page_size;
    if (covered < segment.file_size || covered >= segment.size + s.fixed.page_size)
      Refuse("segment " + segment.name + "'s chain starts cover the wrong number of pages");
    layout.starts.push_back(s);
  }
  return layout;
}

std::vector<ChainedImport> ReadImports(const MachOFile& file, const Layout& layout) {
  const auto& h = layout.header;
  uint64_t entry = h.imports_format == M::DYLD_CHAINED_IMPORT ? sizeof(M::dyld_chained_import)
                   : h.imports_format == M::DYLD_CHAINED_IMPORT_ADDEND
                       ? sizeof(M::dyld_chained_import_addend)
                   : h.imports_format == M::DYLD_CHAINED_IMPORT_ADDEND64
                       ? sizeof(M::dyld_chained_import_addend64)
                       : 0;
  if (entry == 0) Refuse("unknown chained imports format " + std::to_string(h.imports_format));
  if (h.imports_offset > layout.size || (layout.size - h.imports_offset) / entry < h.imports_count)
    Refuse("the chained imports lie outside the fixups data");
  if (h.symbols_offset > layout.size) Refuse("the chained symbols lie outside the fixups data");
  std::vector<ChainedImport> imports;
  for (uint32_t i = 0; i < h.imports_count; ++i) {
    uint64_t at = layout.data + h.imports_offset + i * entry;
    ChainedImport import;
    uint64_t name = 0;
    if (h.imports_format == M::DYLD_CHAINED_IMPORT) {
      auto v = file.Read<M::dyld_chained_import>(at, "a chained import");
      import.library = static_cast<int8_t>(v.lib_ordinal), import.weak = v.weak_import,
      name = v.name_offset;
    } else if (h.imports_format == M::DYLD_CHAINED_IMPORT_ADDEND) {
      auto v = file.Read<M::dyld_chained_import_addend>(at, "a chained import");
      import.library = static_cast<int8_t>(v.lib_ordinal), import.weak = v.weak_import,
      name = v.name_offset;
      import.addend = v.addend;
    } else {
      auto v = file.Read<M::dyld_chained_import_addend64>(at, "a chained import");
      import.library = static_cast<int16_t>(v.lib_ordinal), import.weak = v.weak_import,
      name = v.name_offset;
      import.addend = static_cast<int64_t>(v.addend);
    }
    uint64_t symbols = layout.size - h.symbols_offset;
    const char* text =
        reinterpret_cast<const char*>(file.bytes().data() + layout.data + h.symbols_offset);
    if (name >= symbols)
      Refuse("chained import " + std::to_string(i) + "'s name lies outside the symbols");
    size_t length = strnlen(text + name, symbols - name);
    if (length == symbols - name)
      Refuse("chained import " + std::to_string(i) + "'s name is not terminated");
    import.name.assign(text + name, length);
    imports.push_back(std::move(import));
  }
  return imports;
}

ChainedFixup DecodePointer(uint64_t raw, uint16_t format, uint64_t base, uint64_t* next) {
  ChainedFixup f;
  if (format == M::DYLD_CHAINED_PTR_ARM64E) {
    auto r = As<Arm64eRebase>(raw);
    *next = r.next;
    f.bind = r.bind;
    if (r.auth && r.bind) {
      auto b = As<Arm64eAuthBind>(raw);
      if (b.zero) Refuse("an authenticated bind has bits set where zeros belong");
      f.import = b.ordinal;
      f.auth = AuthScheme{static_cast<uint8_t>(b.key), b.addr_div != 0,
                          static_cast<uint16_t>(b.diversity)};
    } else if (r.auth) {
      auto a = As<Arm64eAuthRebase>(raw);
      f.target = base + a.target;
      f.auth = AuthScheme{static_cast<uint8_t>(a.key), a.addr_div != 0,
                          static_cast<uint16_t>(a.diversity)};
    } else if (r.bind) {
      auto b = As<Arm64eBind>(raw);
      if (b.zero) Refuse("a bind has bits set where zeros belong");
      f.import = b.ordinal;
      f.addend = static_cast<int64_t>(uint64_t{b.addend} << 45) >> 45;  // 19 bits, signed
    } else {
      f.target = r.target;
      f.high8 = r.high8;
    }
    return f;
  }
  auto r = As<M::dyld_chained_ptr_64_rebase>(raw);
  *next = r.next;
  f.bind = r.bind;
  if (r.bind) {
    auto b = As<M::dyld_chained_ptr_64_bind>(raw);
    if (b.reserved) Refuse("a bind has reserved bits set");
    f.import = b.ordinal;
    f.addend = b.addend;
  } else {
    if (r.reserved) Refuse("a rebase has reserved bits set");
    f.target = format == M::DYLD_CHAINED_PTR_64_OFFSET ? base + r.target : r.target;
    f.high8 = r.high8;
  }
  return f;
}

bool InImage(const MachOFile& file, uint64_t address) {
  for (const Segment& s : file.segments())
    if (address >= s.address && address - s.address <= s.size) return true;
  return false;
}

}  // namespace

ChainedFixups DecodeChainedFixups(const MachOFile& file) {
  Layout layout = ReadLayout(file);
  ChainedFixups all;
  all.imports = ReadImports(file, layout);
  all.pointer_format = layout.starts.empty() ? uint16_t{M::DYLD_CHAINED_PTR_64}
                                             : layout.starts.front().fixed.pointer_format;
  for (const SegmentStarts& s : layout.starts) {
    const Segment& segment = file.segments()[s.segment];
    const uint64_t stride = Stride(s.fixed.pointer_format);
    for (uint16_t page = 0; page < s.fixed.page_count; ++page) {
      uint16_t start =
          file.Read<uint16_t>(s.offset + kStartsFixedSize + 2 * page, "a page's chain start");
      if (start == M::DYLD_CHAINED_PTR_START_NONE) continue;
      if (start & M::DYLD_CHAINED_PTR_START_MULTI)
        Refuse("segment " + segment.name +
               " has a page with several chain starts (a 32-bit format)");
      for (uint64_t offset = start;;) {
        uint64_t in_segment = uint64_t{page} * s.fixed.page_size + offset;
        if (offset + 8 > s.fixed.page_size || in_segment + 8 > segment.file_size)
          Refuse("a chain in segment " + segment.name + " runs past its page");
        if (all.fixups.size() == kMaxFixups) Refuse("the image has too many fixups");
        uint64_t raw = file.Read<uint64_t>(segment.file_offset + in_segment, "a chained pointer");
        uint64_t next = 0;
        ChainedFixup f = DecodePointer(raw, s.fixed.pointer_format, file.base_address(), &next);
        f.address = segment.address + in_segment;
        if (f.bind && f.import >= all.imports.size())
          Refuse("the pointer at " + Hex(f.address) + " binds import " + std::to_string(f.import) +
                 " of " + std::to_string(all.imports.size()));
        if (!f.bind && !InImage(file, f.target))
          Refuse("the pointer at " + Hex(f.address) + " points outside the image (" +
                 Hex(f.target) + ")");
        all.fixups.push_back(f);
        if (next == 0) break;
        offset += next * stride;
      }
    }
  }
  return all;
}

void EncodeArm64eChains(MachOFile& file, const std::vector<ChainedFixup>& fixups) {
  Layout layout = ReadLayout(file);
  size_t k = 0;
  for (const SegmentStarts& s : layout.starts) {
    const Segment& segment = file.segments()[s.segment];
    for (uint16_t page = 0; page < s.fixed.page_count; ++page) {
      const uint64_t page_address = segment.address + uint64_t{page} * s.fixed.page_size;
      uint16_t start = M::DYLD_CHAINED_PTR_START_NONE;
      for (size_t first = k;
           k < fixups.size() && fixups[k].address < page_address + s.fixed.page_size; ++k) {
        const ChainedFixup& f = fixups[k];
        if (f.address < page_address)
          Refuse("the fixup at " + Hex(f.address) + " is in no page with chains");
        uint64_t offset = f.address - page_address;
        if (offset % 8 != 0)
          Refuse("the pointer at " + Hex(f.address) +
                 " is not 8-byte aligned, as ARM64E chains need");
        uint64_t next = 0;
        if (k + 1 < fixups.size() && fixups[k + 1].address < page_address + s.fixed.page_size) {
          uint64_t gap = fixups[k + 1].address - f.address;
          if (gap % 8 != 0 || gap / 8 >= (1u << 11))
            Refuse("the pointers at " + Hex(f.address) + " and " + Hex(fixups[k + 1].address) +
                   " are too far apart for an ARM64E chain");
          next = gap / 8;
        }
        if (k == first) start = static_cast<uint16_t>(offset);
        uint64_t raw;
        if (f.bind && f.auth) {
          if (f.addend != 0)
            Refuse("the signed pointer at " + Hex(f.address) + " binds with addend " +
                   std::to_string(f.addend) + ", which an ARM64E authenticated bind cannot carry");
          if (f.import >= (1u << 16))
            Refuse("the pointer at " + Hex(f.address) + " binds an import past 65535");
          raw = Raw(Arm64eAuthBind{f.import, 0, f.auth->discriminator, f.auth->address_diversity,
                                   f.auth->key, next, 1, 1});
        } else if (f.bind) {
          if (f.import >= (1u << 16))
            Refuse("the pointer at " + Hex(f.address) + " binds an import past 65535");
          if (f.addend < -(1 << 18) || f.addend >= (1 << 18))
            Refuse("the pointer at " + Hex(f.address) +
                   " binds with an addend that does not fit 19 bits");
          raw = Raw(Arm64eBind{f.import, 0, static_cast<uint64_t>(f.addend) & 0x7ffff, next, 1, 0});
        } else if (f.auth) {
          uint64_t offset_from_base = f.target - file.base_address();
          if (f.target < file.base_address() || offset_from_base >= (1ull << 32) || f.high8 != 0)
            Refuse("the signed pointer at " + Hex(f.address) + " has a target (" + Hex(f.target) +
                   ") that does not fit an ARM64E authenticated rebase");
          raw = Raw(Arm64eAuthRebase{offset_from_base, f.auth->discriminator,
                                     f.auth->address_diversity, f.auth->key, next, 0, 1});
        } else {
          if (f.target >= (1ull << 43))
            Refuse("the pointer at " + Hex(f.address) + " has a target that does not fit 43 bits");
          raw = Raw(Arm64eRebase{f.target, f.high8, next, 0, 0});
        }
        file.Write(file.FileOffsetOf(f.address, 8, "a chained pointer"), raw, "a chained pointer");
      }
      file.Write(s.offset + kStartsFixedSize + 2 * page, start, "a page's chain start");
    }
    M::dyld_chained_starts_in_segment fixed = s.fixed;
    fixed.pointer_format = M::DYLD_CHAINED_PTR_ARM64E;
    memcpy(file.MutableData(s.offset, kStartsFixedSize, "a segment's chain starts"), &fixed,
           kStartsFixedSize);
  }
  if (k != fixups.size())
    Refuse("the fixup at " + Hex(fixups[k].address) + " is in no page with chains");
}

std::string Describe(const ChainedFixup& f, const ChainedFixups& all) {
  static const char* const kKeys[] = {"IA", "IB", "DA", "DB"};
  std::string text = Hex(f.address) + (f.bind ? " bind " + all.imports.at(f.import).name
                                              : " rebase " + Hex(f.target));
  if (f.bind && f.addend) text += " + " + std::to_string(f.addend);
  if (f.auth)
    text += std::string(" auth ") + kKeys[f.auth->key & 3] +
            (f.auth->address_diversity ? " addr" : "") + " " + Hex(f.auth->discriminator);
  return text;
}

}  // namespace velmo::arm64e
