// LoadImage: maps a parsed Mach-O image into an Emulator at a load address,
// applies its rebases, binds and lazy binds (all bound at load, so that the
// lazy-binding helper is never needed), and counts the instructions run in
// its executable segments. A symbol the resolver does not know is bound to
// a poison address that fails on use, naming the symbol; a weak import
// nobody provides is bound to NULL, as the phone's loader does.
// RunInitializers() then calls the pointers in __mod_init_func, in order.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "tests/phone/emulator.h"
#include "tests/phone/macho_image.h"

namespace velmo::phone {

using SymbolResolver = std::function<std::optional<uint64_t>(const std::string& macho_symbol)>;

struct LoadedImage {
  std::string name;
  MachOImage image;
  uint64_t load_address = 0;                 // where the image's base_address is mapped
  uint64_t code_begin = 0, code_end = 0;     // the executable segment(s), slid
  std::vector<std::string> missing_imports;  // bound to poison addresses

  // The slid address of an image address.
  uint64_t Slid(uint64_t image_address) const {
    return image_address - image.base_address + load_address;
  }
  // An exported symbol's address (Mach-O name, e.g. "_reloadSettings"); throws when missing.
  uint64_t Symbol(const std::string& macho_symbol) const;
  bool Contains(uint64_t address) const;
};

// Reads a whole file; throws EmulationError when it cannot.
std::vector<uint8_t> ReadFileBytes(const std::string& path);

LoadedImage LoadImage(Emulator& emu, const std::string& name, std::span<const uint8_t> bytes,
                      uint64_t load_address, const SymbolResolver& resolve);

void RunInitializers(Emulator& emu, const LoadedImage& image);

}  // namespace velmo::phone
