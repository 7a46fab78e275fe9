#include "phone/finish-arm64e/finish.h"

#include <llvm/BinaryFormat/MachO.h>

#include <algorithm>
#include <map>

#include "phone/finish-arm64e/chained_fixups.h"
#include "phone/finish-arm64e/code_signature.h"
#include "phone/finish-arm64e/macho_file.h"

namespace velmo::arm64e {
namespace {

namespace M = llvm::MachO;

constexpr uint8_t kAddressDiversity = 1;

}  // namespace

std::vector<uint8_t> FinishArm64e(std::vector<uint8_t> bytes, FinishReport* report) {
  MachOFile file = MachOFile::Open(std::move(bytes));
  if (file.arm64e()) Refuse("the image is already arm64e");
  CodeSignature signature = ReadAdHocSignature(file);
  if (!StalePages(file, signature).empty())
    Refuse("the code signature's page hashes do not match the image (changed after linking?)");
  ChainedFixups chains = DecodeChainedFixups(file);
  if (chains.pointer_format == M::DYLD_CHAINED_PTR_ARM64E)
    Refuse("the image's chains are already arm64e");

  std::map<uint64_t, ChainedFixup*> at;
  for (ChainedFixup& f : chains.fixups) at[f.address] = &f;

  // Each record names, through its own rebase, a pointer that is a fixup.
  std::vector<uint64_t> record_slots;
  if (const Section* records = file.FindSection(kRecordsSection)) {
    if (records->size % sizeof(SignedPointerRecord) != 0 || records->address % 8 != 0)
      Refuse("the signed-pointer records are not a whole number of 16-byte records");
    const uint64_t begin = records->address, end = records->address + records->size;
    for (const ChainedFixup& f : chains.fixups)
      if (f.address >= begin && f.address < end &&
          (f.address - begin) % sizeof(SignedPointerRecord) != 0)
        Refuse("a fixup at " + Hex(f.address) + " lies inside a signed-pointer record");
    for (uint64_t r = begin; r < end; r += sizeof(SignedPointerRecord)) {
      auto record = file.Read<SignedPointerRecord>(
          file.FileOffsetOf(r, sizeof(SignedPointerRecord), "a record"), "a signed-pointer record");
      auto self = at.find(r);
      if (self != at.end() && self->second->bind)
        Refuse("the signed-pointer record at " + Hex(r) + " is bound to " +
               chains.imports.at(self->second->import).name +
               " by name (an exported weak definition?), not to a place in the image");
      if (self == at.end() || self->second->high8 != 0)
        Refuse("the signed-pointer record at " + Hex(r) + " names no pointer of the image");
      const uint64_t location = self->second->target;
      if (record.key > 3 || (record.flags & ~kAddressDiversity) != 0 || record.reserved != 0)
        Refuse("the signed-pointer record at " + Hex(r) + " has an unknown key or flags");
      auto target = at.find(location);
      if (target == at.end() || (location >= begin && location < end))
        Refuse("the signed-pointer record at " + Hex(r) + " names " + Hex(location) +
               ", which is no fixup");
      // A pointer in data the linker kept one copy of (a template's static,
      // say) is named by the record of every object that had a copy.
      AuthScheme scheme{record.key, (record.flags & kAddressDiversity) != 0, record.discriminator};
      if (target->second->auth && *target->second->auth != scheme)
        Refuse("two signed-pointer records name the pointer at " + Hex(location) +
               " with different schemes");
      target->second->auth = scheme;
      record_slots.push_back(r);
    }
  }

  std::vector<ChainedFixup> kept;
  for (const ChainedFixup& f : chains.fixups)
    if (!std::binary_search(record_slots.begin(), record_slots.end(), f.address)) kept.push_back(f);
  EncodeArm64eChains(file, kept);
  if (const Section* records = file.FindSection(kRecordsSection))
    memset(file.MutableData(records->file_offset, records->size, "the signed-pointer records"), 0,
           records->size);
  file.set_cpu_subtype(M::CPU_SUBTYPE_ARM64E_WITH_PTRAUTH_VERSION(0, false));
  RehashPages(file, signature);

  if (report) {
    report->fixups = kept.size();
    report->auth_rebases =
        std::count_if(kept.begin(), kept.end(), [](auto& f) { return f.auth && !f.bind; });
    report->auth_binds =
        std::count_if(kept.begin(), kept.end(), [](auto& f) { return f.auth && f.bind; });
  }
  return std::move(file).Release();
}

}  // namespace velmo::arm64e
