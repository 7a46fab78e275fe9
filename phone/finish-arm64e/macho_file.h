// MachOFile: an arm64 or arm64e Mach-O image (MH_DYLIB or MH_BUNDLE) held as bytes,
// with its header, segments, sections and the load commands the finishing
// step reads. Open() reads untrusted bytes: every offset and size it keeps
// is checked against the file, and anything it cannot vouch for is refused
// with a FinishError naming what is wrong.
//
// The file owns its bytes; the parsed fields are plain values describing
// them. Read<T>() and Write<T>() check bounds on every access. Not
// thread-safe; one file is used by one thread.
#pragma once

#include <cstdint>
#include <cstring>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace velmo::arm64e {

class FinishError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

[[noreturn]] void Refuse(const std::string& what);
std::string Hex(uint64_t value);

struct Segment {
  std::string name;
  uint64_t address = 0;  // vmaddr
  uint64_t size = 0;     // vmsize
  uint64_t file_offset = 0;
  uint64_t file_size = 0;
};

struct Section {
  std::string segment;
  std::string name;
  uint64_t address = 0;
  uint64_t size = 0;
  uint32_t file_offset = 0;  // 0 for zero-fill sections
  uint32_t type = 0;         // flags & SECTION_TYPE
};

// A linkedit_data_command's payload: where in the file, and where the
// command itself is (so that its fields can be checked or rewritten).
struct LinkeditData {
  uint32_t command_offset = 0;
  uint32_t data_offset = 0;
  uint32_t data_size = 0;
};

class MachOFile {
 public:
  static MachOFile Open(std::vector<uint8_t> bytes);

  const std::vector<uint8_t>& bytes() const { return bytes_; }
  uint32_t cpu_subtype() const { return cpu_subtype_; }
  // Whether the header says arm64e (any pointer-authentication ABI).
  bool arm64e() const { return arm64e_; }
  void set_cpu_subtype(uint32_t subtype);

  const std::vector<Segment>& segments() const { return segments_; }
  const std::vector<Section>& sections() const { return sections_; }
  // The address the image's first byte is mapped at (the __TEXT segment's).
  uint64_t base_address() const { return base_address_; }
  const LinkeditData* chained_fixups() const {
    return chained_fixups_ ? &*chained_fixups_ : nullptr;
  }
  const LinkeditData* code_signature() const {
    return code_signature_ ? &*code_signature_ : nullptr;
  }

  // The section with this name in any segment, or nullptr.
  const Section* FindSection(const std::string& name) const;
  // The file offset of an image address inside a segment's file bytes, with
  // `length` bytes available there; refuses otherwise.
  uint64_t FileOffsetOf(uint64_t address, uint64_t length, const char* what) const;

  bool Contains(uint64_t offset, uint64_t length) const {
    return offset <= bytes_.size() && length <= bytes_.size() - offset;
  }
  template <typename T>
  T Read(uint64_t offset, const char* what) const {
    if (!Contains(offset, sizeof(T))) Refuse(std::string(what) + " lies outside the file");
    T value;
    memcpy(&value, bytes_.data() + offset, sizeof(T));
    return value;
  }
  template <typename T>
  void Write(uint64_t offset, const T& value, const char* what) {
    if (!Contains(offset, sizeof(T))) Refuse(std::string(what) + " lies outside the file");
    memcpy(bytes_.data() + offset, &value, sizeof(T));
  }
  uint8_t* MutableData(uint64_t offset, uint64_t length, const char* what);
  std::vector<uint8_t> Release() && { return std::move(bytes_); }

 private:
  explicit MachOFile(std::vector<uint8_t> bytes) : bytes_(std::move(bytes)) {}
  void ParseLoadCommands();

  std::vector<uint8_t> bytes_;
  uint32_t cpu_subtype_ = 0;
  bool arm64e_ = false;
  std::vector<Segment> segments_;
  std::vector<Section> sections_;
  uint64_t base_address_ = 0;
  std::optional<LinkeditData> chained_fixups_;
  std::optional<LinkeditData> code_signature_;
};

}  // namespace velmo::arm64e
