// FinishArm64e: turns an arm64 image, linked from arm64e code with chained
// fixups, into the arm64e image the phone's loader takes.
//
// The compile step leaves one record per signed pointer in the section
// __DATA,__auth_records (see record_signed_pointers.py): 16 bytes each,
//   { uint64 location; uint16 discriminator; uint8 key; uint8 flags; uint32 0 }
// where `location` is a pointer to the signed pointer (so a rebase fixup of
// its own), key is 0 IA, 1 IB, 2 DA, 3 DB and flags bit 0 blends in the
// storage address. The step then
//   - re-encodes every chain as DYLD_CHAINED_PTR_ARM64E, each recorded
//     location as an authenticated rebase or bind with its scheme, every
//     other fixup as it was;
//   - drops the records' own fixups and zeroes the records;
//   - sets the header's cpusubtype to arm64e with the versioned pointer
//     authentication ABI, version 0;
//   - makes the ad-hoc signature's page hashes again.
// Anything it does not understand is refused with a FinishError; the input
// is never changed in place.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace velmo::arm64e {

inline constexpr char kRecordsSection[] = "__auth_records";

struct SignedPointerRecord {
  uint64_t location;
  uint16_t discriminator;
  uint8_t key;
  uint8_t flags;  // bit 0: address diversity
  uint32_t reserved;
};
static_assert(sizeof(SignedPointerRecord) == 16);

struct FinishReport {
  size_t fixups = 0;  // in the finished image
  size_t auth_rebases = 0;
  size_t auth_binds = 0;
};

std::vector<uint8_t> FinishArm64e(std::vector<uint8_t> image, FinishReport* report = nullptr);

}  // namespace velmo::arm64e
