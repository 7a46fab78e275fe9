// Foundation beyond strings, numbers and plain dictionaries: arrays, mutable
// dictionaries and arrays with their copies, the platform's conversions of
// strings and numbers (boolValue, longLongValue, floatValue, stringValue),
// CoreFoundation's boolean constants, and bundles.
#include <cctype>
#include <cmath>
#include <cstdlib>

#include "tests/phone/foundation.h"

namespace velmo::phone {
namespace {

// NSString's boolValue: after leading blanks and an optional sign and
// zeros, "Y", "y", "T", "t" or a digit 1-9.
bool StringBool(const std::string& s) {
  size_t i = 0;
  while (i < s.size() && isspace(static_cast<unsigned char>(s[i]))) ++i;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
  while (i < s.size() && s[i] == '0') ++i;
  if (i >= s.size()) return false;
  char c = s[i];
  return c == 'Y' || c == 'y' || c == 'T' || c == 't' || (c >= '1' && c <= '9');
}

// NSString's longLongValue and floatValue read a leading number and stop at
// the first character that does not belong to it; no number reads as 0.
int64_t StringInteger(const std::string& s) { return strtoll(s.c_str(), nullptr, 10); }
float StringFloat(const std::string& s) { return strtof(s.c_str(), nullptr); }

std::string NumberText(const std::variant<bool, int64_t, double>& v) {
  if (const bool* b = std::get_if<bool>(&v)) return *b ? "1" : "0";
  if (const int64_t* i = std::get_if<int64_t>(&v)) return std::to_string(*i);
  char text[64];
  snprintf(text, sizeof text, "%.17g", std::get<double>(v));
  return text;
}

}  // namespace

uint64_t Foundation::MakeDictionary(ObjcClass* cls, DictionaryData entries) {
  for (const auto& [key, value] : entries) {
    rt_.Retain(key);
    rt_.Retain(value);
  }
  uint64_t object = rt_.AllocObject(cls);
  rt_.Object(object)->payload = std::move(entries);
  return object;
}

uint64_t Foundation::MakeArray(ObjcClass* cls, std::vector<uint64_t> items) {
  uint64_t object = rt_.AllocObject(cls);
  for (uint64_t item : items) {
    if (!rt_.IsObjectLike(item)) throw ModelError("an array item that is not an object");
    rt_.Retain(item);
  }
  rt_.Fields(object).items = std::move(items);
  return object;
}

uint64_t Foundation::Array(const std::vector<uint64_t>& items) {
  return rt_.Autorelease(MakeArray(&rt_.Class("NSArray"), items));
}

uint64_t Foundation::Immortal(uint64_t object) {
  rt_.SetImmortal(object);
  return object;
}

bool Foundation::IsDictionary(uint64_t object) const {
  ObjectRecord* rec = rt_.Object(object);
  return rec && rec->alive && std::any_cast<DictionaryData>(&rec->payload) != nullptr;
}

bool Foundation::IsArray(uint64_t object) const { return rt_.IsKindOf(object, "NSArray"); }

std::vector<std::pair<std::string, uint64_t>> Foundation::Entries(uint64_t dictionary) const {
  if (!IsDictionary(dictionary)) throw ModelError("not a dictionary");
  std::vector<std::pair<std::string, uint64_t>> entries;
  for (const auto& [key, value] :
       std::any_cast<const DictionaryData&>(rt_.Object(dictionary)->payload))
    entries.emplace_back(Text(key).value_or("<not a string>"), value);
  return entries;
}

std::vector<uint64_t> Foundation::Items(uint64_t array) const {
  if (!IsArray(array)) throw ModelError("not an array");
  return rt_.Fields(array).items;
}

void Foundation::SetMainBundle(const std::string& identifier, uint64_t info) {
  if (main_bundle_ == 0) main_bundle_ = Immortal(rt_.AllocObject(&rt_.Class("NSBundle")));
  rt_.SetField(main_bundle_, "bundleIdentifier", Immortal(MakeString(identifier)));
  if (info != 0) Immortal(info);
  rt_.SetField(main_bundle_, "infoDictionary", info);
}

uint64_t Foundation::Bundle(const std::string& identifier, uint64_t info) {
  uint64_t bundle = rt_.AllocObject(&rt_.Class("NSBundle"));
  rt_.SetField(bundle, "bundleIdentifier", rt_.Autorelease(MakeString(identifier)));
  rt_.SetField(bundle, "infoDictionary", info);
  return rt_.Autorelease(bundle);
}

void Foundation::DefineConversions() {
  auto text = [this](Msg& m) { return rt_.StringValue(m.self()); };
  rt_.DefineClass("NSString")
      .Method("boolValue", "B@:", [text](Msg& m) -> Value { return StringBool(text(m)); })
      .Method("longLongValue", "q@:", [text](Msg& m) -> Value { return StringInteger(text(m)); })
      .Method("integerValue", "q@:", [text](Msg& m) -> Value { return StringInteger(text(m)); })
      .Method("floatValue",
              "f@:", [text](Msg& m) -> Value { return static_cast<double>(StringFloat(text(m))); })
      .Method("containsString:", "B@:@",
              [this, text](Msg& m) -> Value {
                if (m.U(0) == 0) throw ModelError("-[NSString containsString:] with nil");
                return text(m).find(rt_.StringValue(m.U(0))) != std::string::npos;
              })
      .Method("mutableCopy", "@@:", [this, text](Msg& m) -> Value { return MakeString(text(m)); });

  auto number = [this](Msg& m) {
    auto value = Number(m.self());
    if (!value) throw ModelError("an NSNumber method on an object that holds no number");
    return *value;
  };
  rt_.DefineClass("NSNumber")
      .ClassMethod("numberWithLongLong:", "@#:q",
                   [this](Msg& m) -> Value { return rt_.Autorelease(MakeNumber(m.I(0))); })
      .Method("longLongValue", "q@:",
              [number](Msg& m) -> Value {
                return std::visit([](auto v) { return static_cast<int64_t>(v); }, number(m));
              })
      .Method("floatValue", "f@:",
              [number](Msg& m) -> Value {
                return std::visit([](auto v) { return static_cast<double>(static_cast<float>(v)); },
                                  number(m));
              })
      .Method("stringValue", "@@:", [this, number](Msg& m) -> Value {
        return rt_.Autorelease(MakeString(NumberText(number(m))));
      });

  // CoreFoundation's booleans are numbers that live as long as the process.
  rt_.DefineClass("__NSCFBoolean", "NSNumber");
  for (bool value : {true, false}) {
    uint64_t object = rt_.AllocObject(&rt_.Class("__NSCFBoolean"));
    rt_.Object(object)->payload = NumberData(value);
    Immortal(object);
    uint64_t cell = rt_.emulator().Alloc(8);
    rt_.emulator().Write64(cell, object);
    rt_.Data(value ? "kCFBooleanTrue" : "kCFBooleanFalse", cell);
    (value ? true_ : false_) = object;
  }
}

void Foundation::DefineCollections() {
  auto entries = [this](uint64_t object) -> DictionaryData& {
    return std::any_cast<DictionaryData&>(rt_.Object(object)->payload);
  };
  rt_.DefineClass("NSDictionary")
      .ClassMethod("dictionary", "@#:",
                   [this](Msg& m) -> Value {
                     return rt_.Autorelease(MakeDictionary(rt_.ClassAt(m.self()), {}));
                   })
      .Method("init", "@@:",
              [this](Msg& m) -> Value {
                ObjectRecord* rec = rt_.Object(m.self());
                if (!rec->payload.has_value()) rec->payload = DictionaryData{};
                return m.self();
              })
      .Method("copy", "@@:", [this](Msg& m) -> Value { return rt_.Retain(m.self()); })
      .Method("mutableCopy", "@@:", [this, entries](Msg& m) -> Value {
        return MakeDictionary(&rt_.Class("NSMutableDictionary"), entries(m.self()));
      });
  rt_.DefineClass("NSMutableDictionary", "NSDictionary")
      .Method("copy", "@@:",
              [this, entries](Msg& m) -> Value {
                return MakeDictionary(&rt_.Class("NSDictionary"), entries(m.self()));
              })
      .Method("setObject:forKey:", "v@:@@", [this, entries](Msg& m) -> Value {
        uint64_t value = m.U(0), key = m.U(1);
        if (value == 0 || key == 0)
          throw ModelError("-[NSMutableDictionary setObject:forKey:] with nil");
        DictionaryData& data = entries(m.self());
        rt_.Retain(value);
        for (auto& [k, v] : data) {
          if (KeysMatch(k, key)) {
            uint64_t old = v;
            v = value;
            rt_.Release(old);
            return {};
          }
        }
        data.emplace_back(rt_.Retain(key), value);
        return {};
      });

  auto items = [this](uint64_t object) -> std::vector<uint64_t>& {
    return rt_.Fields(object).items;
  };
  rt_.DefineClass("NSArray")
      .ClassMethod("arrayWithObjects:count:", "@#:^@Q",
                   [this](Msg& m) -> Value {
                     if (m.U(1) > 4096) throw ModelError("arrayWithObjects:count: of a huge count");
                     std::vector<uint64_t> list;
                     for (uint64_t i = 0; i < m.U(1); ++i)
                       list.push_back(rt_.emulator().Read64(m.U(0) + 8 * i));
                     for (uint64_t o : list)
                       if (o == 0) throw ModelError("arrayWithObjects:count: with a nil object");
                     return rt_.Autorelease(MakeArray(rt_.ClassAt(m.self()), std::move(list)));
                   })
      .Method("init", "@@:",
              [this](Msg& m) -> Value {
                rt_.Fields(m.self());
                return m.self();
              })
      .Method("count", "Q@:", [items](Msg& m) -> Value { return items(m.self()).size(); })
      .Method("objectAtIndex:", "@@:Q",
              [items](Msg& m) -> Value {
                const auto& list = items(m.self());
                if (m.U(0) >= list.size())
                  throw ModelError("-[NSArray objectAtIndex:] beyond its end");
                return list[m.U(0)];
              })
      .Method("copy", "@@:", [this](Msg& m) -> Value { return rt_.Retain(m.self()); })
      .Method("mutableCopy", "@@:", [this, items](Msg& m) -> Value {
        return MakeArray(&rt_.Class("NSMutableArray"), items(m.self()));
      });
  rt_.DefineClass("NSMutableArray", "NSArray")
      .Method("copy", "@@:",
              [this, items](Msg& m) -> Value {
                return MakeArray(&rt_.Class("NSArray"), items(m.self()));
              })
      .Method("addObject:", "v@:@", [this, items](Msg& m) -> Value {
        if (m.U(0) == 0) throw ModelError("-[NSMutableArray addObject:] with nil");
        items(m.self()).push_back(rt_.Retain(m.U(0)));
        return {};
      });

  rt_.DefineClass("NSBundle")
      .ClassMethod("mainBundle", "@#:",
                   [this](Msg&) -> Value {
                     if (main_bundle_ == 0) throw ModelError("the test set no main bundle");
                     return main_bundle_;
                   })
      .Method("bundleIdentifier",
              "@@:", [this](Msg& m) -> Value { return rt_.Field(m.self(), "bundleIdentifier"); })
      .Method("infoDictionary",
              "@@:", [this](Msg& m) -> Value { return rt_.Field(m.self(), "infoDictionary"); });
}

}  // namespace velmo::phone
