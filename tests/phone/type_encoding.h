// Objective-C type encodings ("v@:", "B16@0:8q", "{CGSize=dd}@:") parsed
// into what the arm64 calling convention needs: for each value, whether it
// travels in general registers, floating-point registers (one or a
// homogeneous aggregate of up to four doubles) or both halves of a 16-byte
// integer pair, and its size on the stack. Offsets and qualifiers are
// skipped. Types the convention passes by reference (large structs) are
// refused with an EmulationError, so nothing is ever guessed.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace velmo::phone {

struct TypeCode {
  enum class Class { kVoid, kInteger, kFloat, kDouble, kDoubles, kIntegerPair };
  char code = 'v';     // the leading character: v B c i s l q C I S L Q f d @ # : * ^ ? {
  bool block = false;  // "@?"
  Class cls = Class::kVoid;
  int size = 0;     // bytes: 1, 2, 4, 8 or 16; doubles * 8 for kDoubles
  int doubles = 0;  // kDoubles: how many
  bool is_signed = false;
  std::string text;  // the encoding of this one type
};

struct Signature {
  TypeCode result;
  std::vector<TypeCode> args;
  std::string text;  // without offsets
};

// Parses a whole signature: the result type, then each argument.
Signature ParseSignature(std::string_view encoding);

// The encoding with the frame offsets (digits) that the compiler writes
// into block and method signatures removed: "v12@?0B8" -> "v@?B".
std::string StripOffsets(std::string_view encoding);

}  // namespace velmo::phone
