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
  uint64_t Array(const std::vector<uint64_t>& items);
  // An object that lives as long as the model (a framework's shared
  // instance, or a string it holds), left out of leak reports.
  uint64_t Immortal(uint64_t object);

  // The process's main bundle (+[NSBundle mainBundle]) and a bundle with an
  // information dictionary (0: none), as the loader would make them.
  void SetMainBundle(const std::string& identifier, uint64_t info = 0);
  uint64_t Bundle(const std::string& identifier, uint64_t info);
  // CoreFoundation's kCFBooleanTrue and kCFBooleanFalse.
  uint64_t Boolean(bool value) const { return value ? true_ : false_; }

  // The text of an NSString or constant CFString; nullopt for anything else.
  std::optional<std::string> Text(uint64_t object) const;
  // An NSNumber's value; nullopt for anything else.
  std::optional<std::variant<bool, int64_t, double>> Number(uint64_t object) const;
  // A dictionary's value for a string key (0 when absent).
  uint64_t Lookup(uint64_t dictionary, const std::string& key) const;
  // A dictionary's entries (keys as text) and an array's items.
  std::vector<std::pair<std::string, uint64_t>> Entries(uint64_t dictionary) const;
  std::vector<uint64_t> Items(uint64_t array) const;
  bool IsDictionary(uint64_t object) const;
  bool IsArray(uint64_t object) const;

 private:
  struct StringData {
    std::string text;
    uint64_t utf8 = 0;  // the emulated copy UTF8String handed out, freed with the string
  };
  using NumberData = std::variant<bool, int64_t, double>;
  using DictionaryData = std::vector<std::pair<uint64_t, uint64_t>>;
  uint64_t MakeString(const std::string& text);                     // retained (+1)
  uint64_t MakeNumber(NumberData value);                            // +1
  uint64_t MakeDictionary(ObjcClass* cls, DictionaryData entries);  // +1, entries retained
  uint64_t MakeArray(ObjcClass* cls, std::vector<uint64_t> items);  // +1, items retained
  // foundation_collections.cc: arrays, mutable dictionaries, copies,
  // conversions of strings and numbers, the boolean constants, bundles.
  void DefineCollections();
  void DefineConversions();
  bool KeysMatch(uint64_t a, uint64_t b) const;

  Runtime& rt_;
  uint64_t constant_string_class_;
  uint64_t true_ = 0, false_ = 0, main_bundle_ = 0;
};

}  // namespace velmo::phone
