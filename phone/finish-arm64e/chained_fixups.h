// Chained fixups: the pointers in an image's data that the loader fills in,
// each stored in place as a link of a per-page chain (LC_DYLD_CHAINED_FIXUPS).
//
// DecodeChainedFixups() reads every chain of an image in the formats
// DYLD_CHAINED_PTR_64, DYLD_CHAINED_PTR_64_OFFSET and DYLD_CHAINED_PTR_ARM64E,
// checking every field against the image, and refuses any other format.
// EncodeArm64eChains() writes a set of fixups back over the same pages as
// DYLD_CHAINED_PTR_ARM64E chains, refusing a fixup whose target, addend or
// spacing does not fit that format's fields. Both work on a MachOFile the
// caller owns; neither keeps a reference to it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "phone/finish-arm64e/macho_file.h"

namespace velmo::arm64e {

// How the loader signs a pointer: one of the four keys (0 IA, 1 IB, 2 DA,
// 3 DB), whether the storage address is blended into the modifier, and a
// 16-bit discriminator.
struct AuthScheme {
  uint8_t key = 0;
  bool address_diversity = false;
  uint16_t discriminator = 0;
  friend bool operator==(const AuthScheme&, const AuthScheme&) = default;
};

struct ChainedImport {
  std::string name;
  int library = 0;  // the dylib ordinal (or a special, negative one)
  bool weak = false;
  int64_t addend = 0;
  friend bool operator==(const ChainedImport&, const ChainedImport&) = default;
};

struct ChainedFixup {
  uint64_t address = 0;  // where the pointer is stored, an image address
  bool bind = false;
  uint64_t target = 0;  // a rebase's target, an (unslid) image address
  uint8_t high8 = 0;    // a rebase's top byte
  uint32_t import = 0;  // a bind's index into ChainedFixups::imports
  int64_t addend = 0;   // a bind's own addend (the import's is separate)
  std::optional<AuthScheme> auth;
  friend bool operator==(const ChainedFixup&, const ChainedFixup&) = default;
};

struct ChainedFixups {
  uint16_t pointer_format = 0;  // the same for every segment
  std::vector<ChainedImport> imports;
  std::vector<ChainedFixup> fixups;  // in address order
};

ChainedFixups DecodeChainedFixups(const MachOFile& file);

// Rewrites the image's chains as DYLD_CHAINED_PTR_ARM64E with exactly
// `fixups` (each in a page that has chain starts today, in address order),
// and marks every segment's starts with that format. Pointers that are no
// longer fixups keep their bytes; the caller clears them.
void EncodeArm64eChains(MachOFile& file, const std::vector<ChainedFixup>& fixups);

// A fixup as one line, for messages and test output.
std::string Describe(const ChainedFixup& fixup, const ChainedFixups& all);

}  // namespace velmo::arm64e
