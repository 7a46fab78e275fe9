// Foundation: the smallest model of the strings, numbers and dictionaries
// a loaded image exchanges with its host, and C++ helpers that make them.
//
// NSString keeps its text beside the object; a constant CFString in the
// image (__DATA,__cfstring: {isa, flags, bytes, length}, isa bound to
// ___CFConstantStringClassReference) is recognised as a string in place,
// 8-bit or UTF-16. NSNumber holds a BOOL, an integer or a double.
// NSDictionary holds retained keys and values; a key matches when it is
// the same object or a string with the same text.
//
// The helpers return autoreleased objects (an autorelease pool must be
// open), so that a test owns nothing it has to release by hand. Used from
// one thread, with the Runtime it was made with.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "tests/phone/objc_runtime.h"

namespace velmo::phone {

class Foundation {
 public:
  explicit Foundation(Runtime& runtime);

  uint64_t String(const std::string& text);
  uint64_t Bool(bool value);
  uint64_t Integer(int64_t value);
  uint64_t Double(double value);
  uint64_t Dictionary(const std::vector<std::pair<std::string, uint64_t>>& entries);

  // The text of an NSString or constant CFString; nullopt for anything else.
  std::optional<std::string> Text(uint64_t object) const;
  // An NSNumber's value; nullopt for anything else.
  std::optional<std::variant<bool, int64_t, double>> Number(uint64_t object) const;
  // A dictionary's value for a string key (0 when absent).
  uint64_t Lookup(uint64_t dictionary, const std::string& key) const;

 private:
  struct StringData {
    std::string text;
    uint64_t utf8 = 0;  // the emulated copy UTF8String handed out, freed with the string
  };
  using NumberData = std::variant<bool, int64_t, double>;
  using DictionaryData = std::vector<std::pair<uint64_t, uint64_t>>;
  uint64_t MakeString(const std::string& text);  // retained (+1)
  uint64_t MakeNumber(NumberData value);         // +1
  bool KeysMatch(uint64_t a, uint64_t b) const;

  Runtime& rt_;
  uint64_t constant_string_class_;
};

}  // namespace velmo::phone
