// The image's ad-hoc code signature (LC_CODE_SIGNATURE): a SuperBlob whose
// CodeDirectory holds one SHA-256 hash per page of the signed range, which
// is everything in the file before the signature itself. An ad-hoc
// signature has no certificate, so once the image's bytes change only those
// page hashes need to be made again.
//
// ReadAdHocSignature() refuses a missing signature, one that is not ad hoc
// (or carries a CMS blob), one hashed with anything but SHA-256 and one
// whose layout does not match the file. Uses OpenSSL's SHA-256.
#pragma once

#include <cstdint>
#include <vector>

#include "phone/finish-arm64e/macho_file.h"

namespace velmo::arm64e {

struct CodeSignature {
  uint64_t hashes = 0;      // file offset of page 0's hash
  uint32_t pages = 0;       // nCodeSlots
  uint32_t page_size = 0;   // bytes
  uint32_t code_limit = 0;  // end of the signed range
};

CodeSignature ReadAdHocSignature(const MachOFile& file);
// The pages whose stored hash differs from their bytes' hash.
std::vector<uint32_t> StalePages(const MachOFile& file, const CodeSignature& signature);
void RehashPages(MachOFile& file, const CodeSignature& signature);

}  // namespace velmo::arm64e
