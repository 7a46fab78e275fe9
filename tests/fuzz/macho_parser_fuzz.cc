// The test loader's Mach-O parser on arbitrary bytes: it either refuses
// them with a MachOError or returns an image whose every fixup and
// initializer slot lies inside one of its segments.
#include <cstdint>
#include <cstdlib>
#include <span>

#include "tests/phone/macho_image.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using velmo::phone::MachOImage;
  try {
    MachOImage image = MachOImage::Parse(std::span<const uint8_t>(data, size));
    auto holds_pointer = [&](uint64_t address) {
      const auto* s = image.SegmentAt(address);
      return s && address - s->address + 8 <= s->size;
    };
    for (uint64_t r : image.rebases)
      if (!holds_pointer(r)) abort();
    for (const auto& b : image.binds)
      if (!holds_pointer(b.address)) abort();
    for (uint64_t slot : image.initializer_slots)
      if (!holds_pointer(slot)) abort();
  } catch (const velmo::phone::MachOError&) {
  }
  return 0;
}
