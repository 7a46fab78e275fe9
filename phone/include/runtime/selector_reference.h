// Selectors as compiled Objective-C reaches them: one selector reference per
// spelling, a pointer in __DATA,__objc_selrefs that starts out holding the
// address of the name in __TEXT,__objc_methname. When the runtime maps an
// image that carries __objc_imageinfo it replaces every such reference with
// the unique selector of its name, before any code of the image runs (the
// image's initializers included). A send then loads its selector with two
// instructions (adrp, ldr), with no check and no call.
//
// Every translation unit that names a selector emits its reference as a weak
// definition; the linker keeps one per spelling. The image info is one weak
// definition too, so the image carries exactly one. Nothing here is written
// by the library; the runtime writes the references once, at load.
#pragma once

#include <stdint.h>

#include "runtime/objc.h"

namespace objc {

// Hidden, so that a send reaches its reference directly rather than through
// the global offset table.
template <char... Cs>
struct __attribute__((visibility("hidden"))) SelectorReference {
  __attribute__((section(
      "__TEXT,__objc_methname,cstring_literals"))) static constexpr char name[] = {Cs..., '\0'};
  __attribute__((section(
      "__DATA,__objc_selrefs,literal_pointers,no_dead_strip"))) static const char* reference;
};

template <char... Cs>
constinit const char* SelectorReference<Cs...>::reference = SelectorReference<Cs...>::name;

// The selector of a spelling, as the runtime left it in its reference.
template <char... Cs>
inline SEL selector() {
  return reinterpret_cast<SEL>(SelectorReference<Cs...>::reference);
}

// Marks the image as holding Objective-C metadata, which is what makes the
// runtime fix up its selector references. Version 0; the flags the compiler
// writes for an iOS image (class properties in categories).
struct ImageInfo {
  uint32_t version;
  uint32_t flags;
};
[[gnu::used]] __attribute__((section(
    "__DATA,__objc_imageinfo,regular,no_dead_strip"))) inline constinit ImageInfo imageInfo{0, 64};

}  // namespace objc
