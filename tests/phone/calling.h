// The arm64 (Apple) calling convention between the model and emulated code:
// a Value is one argument or result as C++ sees it, and these functions move
// Values in and out of registers and the stack according to a Signature.
//
// Apple's variant: arguments that do not fit in x0-x7 / d0-d7 go on the
// stack at their natural alignment (not in 8-byte slots); the caller widens
// arguments narrower than 32 bits to 32 bits.
#pragma once

#include <array>
#include <concepts>
#include <cstdint>
#include <vector>

#include "tests/phone/emulator.h"
#include "tests/phone/type_encoding.h"

namespace velmo::phone {

// One argument or result: an integer, pointer, object, selector or BOOL in
// `u` (and `u2` for the second word of a 16-byte integer struct), a float
// or double in d[0], a struct of doubles (CGSize, CGRect) in d[0..3].
struct Value {
  uint64_t u = 0, u2 = 0;
  std::array<double, 4> d{};

  Value() = default;
  template <typename T>
  requires std::integral<T> || std::is_enum_v<T> Value(T v) : u(static_cast<uint64_t>(v)) {}
  Value(double v) : d{v, 0, 0, 0} {}
  static Value Doubles(double a, double b = 0, double c = 0, double e = 0) {
    Value v;
    v.d = {a, b, c, e};
    return v;
  }
  static Value Pair(uint64_t first, uint64_t second) {
    Value v(first);
    v.u2 = second;
    return v;
  }
};

// The arguments of a call stopped at `trap`, one Value per signature
// argument (self and _cmd included for a method).
std::vector<Value> DecodeArgs(const Trap& trap, const Signature& sig);

// Registers and stack for calling emulated code with `args`.
RegisterArgs EncodeArgs(const Signature& sig, const std::vector<Value>& args);

// Writes `value` as the result of the trap's call. Narrow integer results
// get poison in their upper 32 bits, which the convention leaves undefined,
// so that a caller reading a BOOL as a wider type sees the mistake.
void WriteResult(Trap& trap, const TypeCode& type, const Value& value);

// The result of an emulated call, read as `type`.
Value ReadResult(const TypeCode& type, const RegisterResult& result);

}  // namespace velmo::phone
