#include "tests/phone/image_loader.h"

#include <fstream>
#include <iterator>

namespace velmo::phone {

uint64_t LoadedImage::Symbol(const std::string& macho_symbol) const {
  auto address = image.ExportAddress(macho_symbol);
  if (!address) throw EmulationError(name + " exports no symbol " + macho_symbol);
  return Slid(*address);
}

bool LoadedImage::Contains(uint64_t address) const {
  for (const MachOSegment& s : image.segments)
    if (address >= Slid(s.address) && address - Slid(s.address) < s.size) return true;
  return false;
}

std::vector<uint8_t> ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw EmulationError("cannot open " + path);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

LoadedImage LoadImage(Emulator& emu, const std::string& name, std::span<const uint8_t> bytes,
                      uint64_t load_address, const SymbolResolver& resolve) {
  LoadedImage loaded;
  loaded.name = name;
  loaded.image = MachOImage::Parse(bytes);
  loaded.load_address = load_address;
  if (load_address % 0x4000 != 0) throw EmulationError("load address not page-aligned");
  const MachOImage& image = loaded.image;

  for (const MachOSegment& s : image.segments) {
    uint64_t at = loaded.Slid(s.address);
    uint64_t size = (s.size + 0xfff) & ~uint64_t{0xfff};
    if (emu.IsMapped(at, 1) || emu.IsMapped(at + size - 1, 1))
      throw EmulationError(name + ": segment " + s.name + " would overlap memory already in use");
    emu.Map(at, size, s.protection);
    emu.Write(at, bytes.data() + s.file_offset, s.file_size);
    if (s.protection & UC_PROT_EXEC) {
      if (loaded.code_begin == 0 || at < loaded.code_begin) loaded.code_begin = at;
      loaded.code_end = std::max(loaded.code_end, at + s.size);
      emu.CountRange(at, at + s.size, name);
    }
  }
  const uint64_t slide = load_address - image.base_address;
  for (uint64_t address : image.rebases) {
    uint64_t at = loaded.Slid(address);
    emu.Write64(at, emu.Read64(at) + slide);
  }
  for (const MachOBind& b : image.binds) {
    // A weak bind would let another image's definition win; this image's own stands.
    if (b.kind == MachOBind::Kind::kWeak) continue;
    std::optional<uint64_t> target = resolve(b.symbol);
    uint64_t value;
    if (target) {
      value = *target + b.addend;
    } else if (b.weak_import) {
      value = 0;
    } else {
      value = emu.PoisonAddress(b.symbol) + b.addend;
      loaded.missing_imports.push_back(b.symbol);
    }
    emu.Write64(loaded.Slid(b.address), value);
  }
  return loaded;
}

void RunInitializers(Emulator& emu, const LoadedImage& image) {
  for (uint64_t slot : image.image.initializer_slots) {
    uint64_t fn = emu.Read64(image.Slid(slot));
    if (fn < image.code_begin || fn >= image.code_end)
      throw EmulationError(image.name + ": an initializer points outside its code (" +
                           emu.Describe(fn) + ")");
    emu.Call(fn, {});
  }
}

}  // namespace velmo::phone
