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
    std::span<const uint8_t> bytes(data, size);
    MachOImage image =
        MachOImage::Parse(MachOImage::SelectSlice(bytes, velmo::phone::Architecture::kArm64e));
    auto holds_pointer = [&](uint64_t address) {
      const auto* s = image.SegmentAt(address);
      return s && address - s->address + 8 <= s->size;
    };
    for (const auto& r : image.rebases)
      if (!holds_pointer(r.address)) abort();
    for (const auto& b : image.binds)
      if (!holds_pointer(b.address)) abort();
    for (const auto& init : image.initializers)
      if (init.is_slot ? !holds_pointer(init.address) : !image.SegmentAt(init.address)) abort();
  } catch (const velmo::phone::MachOError&) {
  }
  return 0;
}
