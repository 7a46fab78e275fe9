#include "phone/finish-arm64e/macho_file.h"

#include <llvm/BinaryFormat/MachO.h>

#include <cstdio>

namespace velmo::arm64e {
namespace {

namespace M = llvm::MachO;

std::string FixedName(const char (&field)[16]) {
  return std::string(field, strnlen(field, sizeof field));
}

}  // namespace

void Refuse(const std::string& what) { throw FinishError(what); }

std::string Hex(uint64_t value) {
  char text[24];
  snprintf(text, sizeof text, "0x%llx", static_cast<unsigned long long>(value));
  return text;
}

MachOFile MachOFile::Open(std::vector<uint8_t> bytes) {
  MachOFile file(std::move(bytes));
  if (file.bytes_.size() < 4) Refuse("the file is too short to be a Mach-O image");
  uint32_t magic = file.Read<uint32_t>(0, "the magic number");
  if (magic == M::FAT_MAGIC || magic == M::FAT_CIGAM || magic == M::FAT_MAGIC_64 ||
      magic == M::FAT_CIGAM_64)
    Refuse("a fat file: finish the arm64e image before the slices are joined");
  if (magic != M::MH_MAGIC_64) Refuse("not a 64-bit little-endian Mach-O image");
  auto header = file.Read<M::mach_header_64>(0, "the Mach-O header");
  if (header.cputype != M::CPU_TYPE_ARM64) Refuse("not an arm64 image");
  file.cpu_subtype_ = header.cpusubtype;
  uint32_t subtype = header.cpusubtype & ~M::CPU_SUBTYPE_MASK;
  if (subtype == M::CPU_SUBTYPE_ARM64E)
    file.arm64e_ = true;
  else if (subtype != M::CPU_SUBTYPE_ARM64_ALL)
    Refuse("unknown arm64 cpusubtype " + Hex(header.cpusubtype));
  if (header.filetype != M::MH_DYLIB && header.filetype != M::MH_BUNDLE)
    Refuse("neither a dylib nor a bundle");
  file.ParseLoadCommands();
  return file;
}

void MachOFile::ParseLoadCommands() {
  auto header = Read<M::mach_header_64>(0, "the Mach-O header");
  const uint64_t begin = sizeof(M::mach_header_64);
  if (!Contains(begin, header.sizeofcmds)) Refuse("the load commands run past the end of the file");
  const uint64_t end = begin + header.sizeofcmds;
  uint64_t at = begin;
  bool have_base = false;
  for (uint32_t i = 0; i < header.ncmds; ++i) {
    if (end - at < sizeof(M::load_command))
      Refuse("load command " + std::to_string(i) + " is cut short");
    auto command = Read<M::load_command>(at, "a load command");
    if (command.cmdsize < sizeof(M::load_command) || command.cmdsize % 8 != 0 ||
        command.cmdsize > end - at)
      Refuse("load command " + std::to_string(i) + " has a bad size");
    switch (command.cmd) {
      case M::LC_SEGMENT_64: {
        if (command.cmdsize < sizeof(M::segment_command_64))
          Refuse("a segment command is cut short");
        auto segment = Read<M::segment_command_64>(at, "a segment command");
        if (command.cmdsize !=
            sizeof(M::segment_command_64) + uint64_t{segment.nsects} * sizeof(M::section_64))
          Refuse("segment " + FixedName(segment.segname) + " has a bad size for its sections");
        if (!Contains(segment.fileoff, segment.filesize))
          Refuse("segment " + FixedName(segment.segname) + " lies outside the file");
        if (segment.filesize > segment.vmsize)
          Refuse("segment " + FixedName(segment.segname) + " is larger in the file than in memory");
        Segment s{FixedName(segment.segname), segment.vmaddr, segment.vmsize, segment.fileoff,
                  segment.filesize};
        if (segment.fileoff == 0 && segment.filesize != 0) {
          base_address_ = segment.vmaddr;
          have_base = true;
        }
        for (uint32_t k = 0; k < segment.nsects; ++k) {
          auto section = Read<M::section_64>(
              at + sizeof(M::segment_command_64) + k * sizeof(M::section_64), "a section");
          Section t{FixedName(section.segname),
                    FixedName(section.sectname),
                    section.addr,
                    section.size,
                    section.offset,
                    section.flags & M::SECTION_TYPE};
          if (t.address < s.address || t.size > s.size || t.address - s.address > s.size - t.size)
            Refuse("section " + t.name + " lies outside its segment");
          bool zero_fill = t.type == M::S_ZEROFILL || t.type == M::S_GB_ZEROFILL ||
                           t.type == M::S_THREAD_LOCAL_ZEROFILL;
          if (!zero_fill && t.size != 0 &&
              (t.file_offset != s.file_offset + (t.address - s.address) ||
               t.address - s.address + t.size > s.file_size))
            Refuse("section " + t.name + " is not where its segment puts it in the file");
          sections_.push_back(t);
        }
        segments_.push_back(s);
        break;
      }
      case M::LC_DYLD_INFO:
      case M::LC_DYLD_INFO_ONLY: {
        if (command.cmdsize < sizeof(M::dyld_info_command))
          Refuse("a dyld info command is cut short");
        auto info = Read<M::dyld_info_command>(at, "the dyld info command");
        if (info.rebase_size || info.bind_size || info.weak_bind_size || info.lazy_bind_size)
          Refuse("the image has opcode fixups (LC_DYLD_INFO); link it with -fixup_chains");
        break;
      }
      case M::LC_DYLD_CHAINED_FIXUPS:
      case M::LC_CODE_SIGNATURE: {
        if (command.cmdsize < sizeof(M::linkedit_data_command))
          Refuse("a linkedit command is cut short");
        auto data = Read<M::linkedit_data_command>(at, "a linkedit command");
        if (!Contains(data.dataoff, data.datasize))
          Refuse("a linkedit command's data lies outside the file");
        auto& slot = command.cmd == M::LC_CODE_SIGNATURE ? code_signature_ : chained_fixups_;
        if (slot) Refuse("two commands of the same kind (" + Hex(command.cmd) + ")");
        slot = LinkeditData{static_cast<uint32_t>(at), data.dataoff, data.datasize};
        break;
      }
      default:
        break;
    }
    at += command.cmdsize;
  }
  if (!have_base) Refuse("no segment maps the start of the file");
}

void MachOFile::set_cpu_subtype(uint32_t subtype) {
  auto header = Read<M::mach_header_64>(0, "the Mach-O header");
  header.cpusubtype = subtype;
  Write(0, header, "the Mach-O header");
  cpu_subtype_ = subtype;
}

const Section* MachOFile::FindSection(const std::string& name) const {
  for (const Section& s : sections_)
    if (s.name == name) return &s;
  return nullptr;
}

uint64_t MachOFile::FileOffsetOf(uint64_t address, uint64_t length, const char* what) const {
  for (const Segment& s : segments_) {
    if (address < s.address || address - s.address >= s.file_size) continue;
    if (length > s.file_size - (address - s.address)) break;
    return s.file_offset + (address - s.address);
  }
  Refuse(std::string(what) + " at " + Hex(address) + " is not in the image's file bytes");
}

uint8_t* MachOFile::MutableData(uint64_t offset, uint64_t length, const char* what) {
  if (!Contains(offset, length)) Refuse(std::string(what) + " lies outside the file");
  return bytes_.data() + offset;
}

}  // namespace velmo::arm64e
