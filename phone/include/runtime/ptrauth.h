// Pointer authentication on arm64e, and nothing on arm64: the schemes the
// platform signs its pointers with, as qualifiers for the fields that hold
// them. On arm64e every plain C function pointer (IMPs among them) is
// signed with the IA key, no storage address and discriminator 0, which the
// compiler does by default; these qualifiers name the fields that differ:
//
//   VELMO_BLOCK_FUNCTION  a block's invoke pointer and its descriptor's copy
//                         and dispose helpers: IA blended with the address
//                         the pointer is stored at, discriminator 0, as the
//                         blocks runtime stores them and _Block_copy checks;
//   VELMO_SIGNED_ISA      the isa of a stack block and of a constant string:
//                         DA blended with the isa's own address and
//                         0x6AE1, as the compiler signs them.
//
// signIsa() stores a class pointer into such an isa field at run time.
#pragma once

#if __has_feature(ptrauth_calls)
#include <ptrauth.h>
#define VELMO_BLOCK_FUNCTION __ptrauth(ptrauth_key_asia, 1, 0)
#define VELMO_SIGNED_ISA __ptrauth(ptrauth_key_asda, 1, 0x6AE1)
#else
#define VELMO_BLOCK_FUNCTION
#define VELMO_SIGNED_ISA
#endif

namespace objc {

// The value to store in the isa field at `slot` for the class `cls`.
inline void* signIsa(void* cls, void* const* slot) {
#if __has_feature(ptrauth_calls)
  return ptrauth_sign_unauthenticated(cls, ptrauth_key_asda,
                                      ptrauth_blend_discriminator(slot, 0x6AE1));
#else
  (void)slot;
  return cls;
#endif
}

}  // namespace objc
