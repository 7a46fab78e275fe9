#include "tests/phone/pointer_auth.h"

#include <cstdio>

namespace velmo::phone {

uint64_t PointerAuth::Authenticate(uint64_t pointer, const PointerScheme& scheme, uint64_t storage,
                                   const std::string& what) const {
  if (!enabled_) return pointer;
  if (auto plain = emu_.Authenticate(pointer, scheme.key, Modifier(scheme, storage))) return *plain;
  char where[80];
  snprintf(where, sizeof where, " (0x%llx, stored at 0x%llx)",
           static_cast<unsigned long long>(pointer), static_cast<unsigned long long>(storage));
  throw EmulationError(what + where + " is not signed as " + scheme.rule);
}

}  // namespace velmo::phone
