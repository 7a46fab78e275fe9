// The decoder of LC_DYLD_CHAINED_FIXUPS for the Mach-O parser: the imports
// table (DYLD_CHAINED_IMPORT, _ADDEND, _ADDEND64) and each segment's chains
// in DYLD_CHAINED_PTR_64, DYLD_CHAINED_PTR_64_OFFSET or
// DYLD_CHAINED_PTR_ARM64E (the only format an arm64e image may use, and one
// an arm64 image may not). Every location becomes a MachORebase or a
// MachOBind of `image`, whose segments and libraries are already parsed.
// Every offset, count, ordinal and target is checked against the payload,
// the file and the image; anything else is refused with a MachOError.
#pragma once

#include <cstdint>
#include <span>

#include "tests/phone/macho_image.h"
#include "tests/phone/macho_reader.h"

namespace velmo::phone::macho_detail {

void DecodeChainedFixups(std::span<const uint8_t> payload, const Bytes& file, MachOImage& image);

}  // namespace velmo::phone::macho_detail
