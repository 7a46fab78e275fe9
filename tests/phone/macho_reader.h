// Helpers shared by the Mach-O parser's files: the failure every refusal
// throws, and a reader of plain structures at checked offsets of a file.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <span>
#include <string>

#include "tests/phone/macho_image.h"

namespace velmo::phone::macho_detail {

[[noreturn]] inline void Fail(const std::string& what) {
  throw MachOError("malformed Mach-O: " + what);
}

inline std::string Hex(uint64_t v) {
  char text[24];
  snprintf(text, sizeof text, "0x%llx", static_cast<unsigned long long>(v));
  return text;
}

// A fixed-size name field (segname, sectname): up to 16 bytes, NUL-padded.
inline std::string FixedName(const char (&field)[16]) {
  return std::string(field, strnlen(field, sizeof field));
}

// Reads plain structures from the file at checked offsets.
class Bytes {
 public:
  explicit Bytes(std::span<const uint8_t> bytes) : bytes_(bytes) {}
  size_t size() const { return bytes_.size(); }
  bool Contains(uint64_t offset, uint64_t length) const {
    return offset <= bytes_.size() && length <= bytes_.size() - offset;
  }
  template <typename T>
  T Read(uint64_t offset, const char* what) const {
    if (!Contains(offset, sizeof(T))) Fail(std::string(what) + " lies outside the file");
    T value;
    memcpy(&value, bytes_.data() + offset, sizeof(T));
    return value;
  }
  std::span<const uint8_t> Slice(uint64_t offset, uint64_t length, const char* what) const {
    if (!Contains(offset, length)) Fail(std::string(what) + " lies outside the file");
    return bytes_.subspan(offset, length);
  }

 private:
  std::span<const uint8_t> bytes_;
};

}  // namespace velmo::phone::macho_detail
