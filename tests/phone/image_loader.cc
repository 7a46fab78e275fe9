#include "tests/phone/image_loader.h"

#include <fstream>
#include <iterator>

#include "tests/phone/pointer_auth.h"

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
  // An auth fixup is signed with the CPU's keys as the phone's loader does:
  // its key, and its discriminator blended with the slot's address when
  // the fixup says so.
  auto store = [&](uint64_t at, uint64_t value, const MachOPointerAuth& auth) {
    if (auth.authenticated) {
      if (image.architecture != Architecture::kArm64e)
        throw EmulationError(name + ": an authenticated fixup in an arm64 image");
      PointerScheme scheme{auth.key, auth.address_diversity, auth.discriminator, ""};
      value = emu.Sign(value, auth.key, PointerAuth::Modifier(scheme, at));
    }
    emu.Write64(at, value);
  };
  for (const MachORebase& r : image.rebases)
    store(loaded.Slid(r.address), loaded.Slid(r.target) | (uint64_t{r.high8} << 56), r.auth);
  for (const MachOBind& b : image.binds) {
    // A weak bind would let another image's definition win; this image's own stands.
    if (b.kind == MachOBind::Kind::kWeak) continue;
    std::optional<uint64_t> target = resolve(b.symbol);
    // A chained lookup of a weak definition falls back to the image's own.
    if (!target && b.library == -3)
      if (auto own = image.ExportAddress(b.symbol)) target = loaded.Slid(*own);
    uint64_t value;
    if (target) {
      value = *target + b.addend;
    } else if (b.weak_import) {
      value = 0;
    } else {
      value = emu.PoisonAddress(b.symbol) + b.addend;
      loaded.missing_imports.push_back(b.symbol);
    }
    store(loaded.Slid(b.address), value, b.auth);
  }
  return loaded;
}

void RunInitializers(Emulator& emu, const LoadedImage& image) {
  // On arm64e the phone's loader signs each initializer before its call; a
  // call from here needs no signature.
  for (const MachOInitializer& init : image.image.initializers) {
    uint64_t fn = init.is_slot ? emu.Read64(image.Slid(init.address)) : image.Slid(init.address);
    if (fn < image.code_begin || fn >= image.code_end)
      throw EmulationError(image.name + ": an initializer points outside its code (" +
                           emu.Describe(fn) + ")");
    emu.Call(fn, {});
  }
}

}  // namespace velmo::phone
