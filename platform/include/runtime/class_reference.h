// "NSBundle"_cls, the class of that name, as the simulated device resolves
// every class: by name, through objc_getClass (nullptr when the process has
// no such class). The phone's header of the same name reaches the classes
// of linked frameworks through class references instead.
#pragma once

#include "platform/objc/runtime.h"

namespace objc {

template <char... Cs>
inline constexpr char className[] = {Cs..., '\0'};

}  // namespace objc

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wpedantic"
#if defined(__clang__)
#pragma GCC diagnostic ignored "-Wgnu-string-literal-operator-template"
#endif
template <class C, C... Cs>
Class operator""_cls() {
  return objc_getClass(objc::className<Cs...>);
}
#pragma GCC diagnostic pop
