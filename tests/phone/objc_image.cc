#include "tests/phone/objc_image.h"

#include <vector>

namespace velmo::phone {
namespace {

constexpr std::string_view kClassPrefix = "_OBJC_CLASS_$_";
constexpr std::string_view kMetaclassPrefix = "_OBJC_METACLASS_$_";
// Longer than any selector a method could have; bounds the read of a name.
constexpr size_t kMaxSelectorLength = 4096;

std::string Hex(uint64_t v) {
  char text[24];
  snprintf(text, sizeof text, "0x%llx", static_cast<unsigned long long>(v));
  return text;
}

// The sections of that name in any segment (the linker chooses __DATA or
// __DATA_CONST), each checked to hold whole pointers.
std::vector<const MachOSection*> PointerSections(const LoadedImage& image, std::string_view name,
                                                 uint64_t record_size) {
  std::vector<const MachOSection*> found;
  for (const MachOSection& s : image.image.sections) {
    if (s.name != name) continue;
    if (s.size % record_size != 0)
      throw ModelError(image.name + ": " + s.segment + "," + s.name + " is " +
                       std::to_string(s.size) + " bytes, not a whole number of " +
                       std::to_string(record_size) + "-byte records");
    found.push_back(&s);
  }
  return found;
}

// The image info's records: lld 14 writes one per object file, later
// linkers merge them into one; the runtime reads the first. Every record
// must be version 0 and agree with the first.
bool CheckImageInfo(const Emulator& emu, const LoadedImage& image) {
  std::vector<const MachOSection*> sections = PointerSections(image, "__objc_imageinfo", 8);
  if (sections.empty()) return false;
  uint64_t first = emu.Read64(image.Slid(sections[0]->address));
  for (const MachOSection* s : sections) {
    if (s->size == 0) throw ModelError(image.name + ": __objc_imageinfo is empty");
    for (uint64_t at = 0; at < s->size; at += 8) {
      uint64_t record = emu.Read64(image.Slid(s->address + at));
      if ((record & 0xffffffff) != 0)
        throw ModelError(image.name + ": __objc_imageinfo has version " +
                         std::to_string(record & 0xffffffff) + ", not 0");
      if (record != first)
        throw ModelError(image.name + ": __objc_imageinfo records disagree (" + Hex(record) +
                         " after " + Hex(first) + ")");
    }
  }
  return true;
}

// The unique selector for the reference at `slot`, which must point at a
// NUL-terminated name inside the image.
uint64_t SelectorFor(Runtime& rt, const LoadedImage& image, uint64_t slot) {
  const Emulator& emu = rt.emulator();
  uint64_t name = emu.Read64(slot);
  auto refuse = [&](const std::string& why) -> uint64_t {
    throw ModelError(image.name + ": the selector reference at " + Hex(slot) + " " + why);
  };
  if (!image.Contains(name)) return refuse("points outside the image (" + Hex(name) + ")");
  std::string text;
  for (;;) {
    if (text.size() > kMaxSelectorLength) return refuse("names no selector: no end in sight");
    if (!image.Contains(name + text.size()))
      return refuse("names no selector: it runs off the image");
    char c;
    emu.Read(name + text.size(), &c, 1);
    if (c == '\0') break;
    text.push_back(c);
  }
  if (text.empty()) return refuse("names an empty selector");
  return rt.Sel(text);
}

}  // namespace

std::optional<uint64_t> ObjcClassSymbol(const Runtime& runtime, const std::string& macho_symbol) {
  bool meta = macho_symbol.starts_with(kMetaclassPrefix);
  if (!meta && !macho_symbol.starts_with(kClassPrefix)) return std::nullopt;
  ObjcClass* cls = runtime.FindClass(
      std::string_view(macho_symbol).substr((meta ? kMetaclassPrefix : kClassPrefix).size()));
  if (!cls) return std::nullopt;
  return meta ? cls->meta->address : cls->address;
}

void MapObjcMetadata(Runtime& rt, const LoadedImage& image) {
  Emulator& emu = rt.emulator();
  if (!CheckImageInfo(emu, image)) return;
  // Classes, categories and protocols an image defines are realized by the
  // runtime from their lists; the model does not, and says so rather than
  // leave them unattached.
  for (const char* list : {"__objc_classlist", "__objc_nlclslist", "__objc_catlist",
                           "__objc_nlcatlist", "__objc_protolist"})
    for (const MachOSection* s : PointerSections(image, list, 8))
      if (s->size != 0)
        throw ModelError(image.name + ": defines Objective-C metadata the model does not map (" +
                         s->segment + "," + s->name + ")");
  for (const MachOSection* s : PointerSections(image, "__objc_selrefs", 8)) {
    for (uint64_t at = 0; at < s->size; at += 8) {
      uint64_t slot = image.Slid(s->address + at);
      emu.Write64(slot, SelectorFor(rt, image, slot));
    }
  }
  for (const MachOSection* s : PointerSections(image, "__objc_classrefs", 8)) {
    for (uint64_t at = 0; at < s->size; at += 8) {
      uint64_t slot = image.Slid(s->address + at);
      uint64_t cls = emu.Read64(slot);
      if (cls != 0 && !rt.ClassAt(cls))
        throw ModelError(image.name + ": the class reference at " + Hex(slot) + " holds " +
                         emu.Describe(cls) + ", which is not a class");
    }
  }
}

}  // namespace velmo::phone
