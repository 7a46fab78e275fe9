#include "phone/finish-arm64e/code_signature.h"

#include <endian.h>
#include <llvm/BinaryFormat/MachO.h>
#include <openssl/sha.h>

#include <algorithm>

namespace velmo::arm64e {
namespace {

namespace M = llvm::MachO;

uint32_t Big32(uint32_t v) { return be32toh(v); }

void PageHash(const MachOFile& file, const CodeSignature& s, uint32_t page,
              uint8_t out[SHA256_DIGEST_LENGTH]) {
  uint64_t begin = uint64_t{page} * s.page_size;
  uint64_t length = std::min<uint64_t>(s.page_size, s.code_limit - begin);
  SHA256(file.bytes().data() + begin, length, out);
}

}  // namespace

CodeSignature ReadAdHocSignature(const MachOFile& file) {
  const LinkeditData* lc = file.code_signature();
  if (!lc) Refuse("the image has no code signature; link it with -adhoc_codesign");
  const uint64_t blob = lc->data_offset;
  auto super = file.Read<M::CS_SuperBlob>(blob, "the code signature");
  if (Big32(super.magic) != M::CSMAGIC_EMBEDDED_SIGNATURE)
    Refuse("the code signature is not an embedded signature");
  uint32_t length = Big32(super.length), count = Big32(super.count);
  if (length > lc->data_size || length < sizeof super ||
      (length - sizeof super) / sizeof(M::CS_BlobIndex) < count)
    Refuse("the code signature's blobs lie outside it");
  std::optional<uint32_t> directory;
  for (uint32_t i = 0; i < count; ++i) {
    auto index = file.Read<M::CS_BlobIndex>(blob + sizeof super + i * sizeof(M::CS_BlobIndex),
                                            "a signature index");
    uint32_t type = Big32(index.type), offset = Big32(index.offset);
    if (type == M::CSSLOT_SIGNATURESLOT)
      Refuse("the code signature is not ad hoc (it has a CMS signature)");
    if (type == M::CSSLOT_CODEDIRECTORY)
      directory = offset;
    else if (type >= M::CSSLOT_ALTERNATE_CODEDIRECTORIES &&
             type < M::CSSLOT_ALTERNATE_CODEDIRECTORY_LIMIT)
      Refuse("the code signature has alternate code directories");
  }
  if (!directory) Refuse("the code signature has no code directory");
  if (*directory > length || length - *directory < sizeof(M::CS_CodeDirectory))
    Refuse("the code directory lies outside the code signature");
  const uint64_t cd_at = blob + *directory;
  auto cd = file.Read<M::CS_CodeDirectory>(cd_at, "the code directory");
  if (Big32(cd.magic) != M::CSMAGIC_CODEDIRECTORY)
    Refuse("the code directory has a bad magic number");
  if (!(Big32(cd.flags) & M::CS_ADHOC)) Refuse("the code signature is not ad hoc");
  if (cd.hashType != M::CS_HASHTYPE_SHA256 || cd.hashSize != SHA256_DIGEST_LENGTH)
    Refuse("the code directory does not hash with SHA-256");
  if (cd.pageSize < 12 || cd.pageSize > 16)
    Refuse("the code directory's page size is not one the phone uses");
  CodeSignature s;
  s.page_size = 1u << cd.pageSize;
  s.pages = Big32(cd.nCodeSlots);
  s.code_limit = Big32(cd.codeLimit);
  if (s.code_limit != lc->data_offset)
    Refuse("the code signature does not cover the image up to itself");
  if (s.pages != (uint64_t{s.code_limit} + s.page_size - 1) / s.page_size)
    Refuse("the code directory has the wrong number of page hashes");
  uint32_t cd_length = Big32(cd.length), hash_offset = Big32(cd.hashOffset);
  if (cd_length > length - *directory || hash_offset > cd_length ||
      (cd_length - hash_offset) / SHA256_DIGEST_LENGTH < s.pages)
    Refuse("the page hashes lie outside the code directory");
  s.hashes = cd_at + hash_offset;
  return s;
}

std::vector<uint32_t> StalePages(const MachOFile& file, const CodeSignature& s) {
  std::vector<uint32_t> stale;
  for (uint32_t page = 0; page < s.pages; ++page) {
    uint8_t hash[SHA256_DIGEST_LENGTH];
    PageHash(file, s, page, hash);
    if (memcmp(hash, file.bytes().data() + s.hashes + uint64_t{page} * sizeof hash, sizeof hash) !=
        0)
      stale.push_back(page);
  }
  return stale;
}

void RehashPages(MachOFile& file, const CodeSignature& s) {
  for (uint32_t page = 0; page < s.pages; ++page) {
    uint8_t hash[SHA256_DIGEST_LENGTH];
    PageHash(file, s, page, hash);
    memcpy(file.MutableData(s.hashes + uint64_t{page} * sizeof hash, sizeof hash, "a page hash"),
           hash, sizeof hash);
  }
}

}  // namespace velmo::arm64e
