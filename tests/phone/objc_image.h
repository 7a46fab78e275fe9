// What the phone's Objective-C runtime does to an image as it is mapped,
// before any of its code runs:
//
//   ObjcClassSymbol   answers the loader for a class symbol
//                     (_OBJC_CLASS_$_Name, _OBJC_METACLASS_$_Name) with the
//                     model's class of that name, as the framework that
//                     defines it would; nullopt for any other symbol and for
//                     a class the process does not have.
//   MapObjcMetadata   for an image that carries __objc_imageinfo: each
//                     selector reference (__objc_selrefs) is replaced by the
//                     unique selector of the name it points at, and each
//                     class reference (__objc_classrefs) must hold a class
//                     (or nil, for a weak import nobody provides). An image
//                     without image info is left as it is, as the runtime
//                     leaves it, so its references still hold names.
//
// Anything the runtime could not make sense of (image info that is not
// version 0, or records that disagree; a selector reference that does not
// point at a name inside the image; a class reference that holds something
// other than a class) is refused with a ModelError naming the image and the
// slot. Used from one thread, with the Runtime's Emulator.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "tests/phone/image_loader.h"
#include "tests/phone/objc_runtime.h"

namespace velmo::phone {

std::optional<uint64_t> ObjcClassSymbol(const Runtime& runtime, const std::string& macho_symbol);

void MapObjcMetadata(Runtime& runtime, const LoadedImage& image);

}  // namespace velmo::phone
