// PointerAuth: the signing rules of an arm64e process, for the loader and
// the platform model. On arm64e, Sign() signs a pointer with a scheme (key,
// whether the storage address is blended in, discriminator) using the
// emulated CPU's keys, and Authenticate() checks one and strips it, failing
// with an EmulationError that names the pointer and the rule it breaks. In
// an arm64 process nothing is signed: both hand the pointer back unchanged.
// Used from one thread, with the Emulator it was made with.
#pragma once

#include <cstdint>
#include <string>

#include "tests/phone/emulator.h"

namespace velmo::phone {

struct PointerScheme {
  uint8_t key = 0;  // 0 IA, 1 IB, 2 DA, 3 DB
  bool address_diversity = false;
  uint16_t discriminator = 0;
  const char* rule = "";  // who signs so, for messages
};

// An ordinary C function pointer, IMPs included.
inline constexpr PointerScheme kFunctionPointerScheme{
    0, false, 0, "the platform signs a function pointer (IA, no address, discriminator 0)"};
// A block's invoke and its descriptor's copy and dispose helpers.
inline constexpr PointerScheme kBlockFunctionScheme{
    0, true, 0, "the blocks runtime signs it (IA, blended with its address, discriminator 0)"};
// The isa of a block and of a constant string.
inline constexpr PointerScheme kIsaScheme{
    2, true, 0x6ae1,
    "the compiler signs an isa (DA, blended with its address, discriminator 0x6AE1)"};

class PointerAuth {
 public:
  explicit PointerAuth(Emulator& emu) : emu_(emu) {}
  bool enabled() const { return enabled_; }
  void set_enabled(bool on) { enabled_ = on; }

  // The modifier of a pointer stored at `storage`: the discriminator, with
  // the storage address's low 48 bits beneath it when the scheme says so.
  static uint64_t Modifier(const PointerScheme& scheme, uint64_t storage) {
    if (!scheme.address_diversity) return scheme.discriminator;
    return (storage & 0x0000ffffffffffffull) | (uint64_t{scheme.discriminator} << 48);
  }
  uint64_t Sign(uint64_t pointer, const PointerScheme& scheme, uint64_t storage) const {
    if (!enabled_) return pointer;
    return emu_.Sign(pointer, scheme.key, Modifier(scheme, storage));
  }
  // `what` names the pointer: "the invoke pointer of the block given to dispatch_async".
  uint64_t Authenticate(uint64_t pointer, const PointerScheme& scheme, uint64_t storage,
                        const std::string& what) const;
  // Signs the pointer at `storage` in place.
  void SignInPlace(uint64_t storage, const PointerScheme& scheme) const {
    if (enabled_) emu_.Write64(storage, Sign(emu_.Read64(storage), scheme, storage));
  }
  // The address a signed pointer carries, its signature dropped unchecked
  // (for the model's own bookkeeping, never in place of a check).
  uint64_t Strip(uint64_t pointer) const {
    return enabled_ ? pointer & ((uint64_t{1} << 39) - 1) : pointer;
  }

 private:
  Emulator& emu_;
  bool enabled_ = false;
};

}  // namespace velmo::phone
