#include "tests/phone/foundation.h"

#include <cmath>

namespace velmo::phone {
namespace {

// Constant CFString flags: bit 4 set means the bytes are UTF-16.
constexpr uint64_t kUnicodeFlag = 0x10;

void AppendUtf8(std::string& out, uint32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xc0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3f));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xe0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3f));
    out += static_cast<char>(0x80 | (c & 0x3f));
  } else {
    out += static_cast<char>(0xf0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3f));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3f));
    out += static_cast<char>(0x80 | (c & 0x3f));
  }
}

// NSString's length: UTF-16 code units.
uint64_t Utf16Length(const std::string& s) {
  uint64_t n = 0;
  for (size_t i = 0; i < s.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    if ((c & 0xc0) == 0x80) continue;
    n += c >= 0xf0 ? 2 : 1;
  }
  return n;
}

}  // namespace

Foundation::Foundation(Runtime& runtime) : rt_(runtime) {
  rt_.DefineClass("NSString")
      .ClassMethod("stringWithUTF8String:", "@#:r*",
                   [this](Msg& m) -> Value {
                     if (m.U(0) == 0)
                       throw ModelError("+[NSString stringWithUTF8String:] with NULL");
                     return rt_.Autorelease(MakeString(m.CStr(0)));
                   })
      .Method("UTF8String", "r*@:",
              [this](Msg& m) -> Value {
                std::string text = rt_.StringValue(m.self());
                ObjectRecord* rec = rt_.Object(m.self());
                if (!rec) {  // a constant string: its bytes are already C text when 8-bit
                  if (!(rt_.emulator().Read64(m.self() + 8) & kUnicodeFlag))
                    return rt_.emulator().Read64(m.self() + 16);
                  throw ModelError("UTF8String of a UTF-16 constant string is not modelled");
                }
                auto& data = std::any_cast<StringData&>(rec->payload);
                if (data.utf8 == 0) {
                  data.utf8 = rt_.emulator().Alloc(text.size() + 1);
                  rt_.emulator().Write(data.utf8, text.c_str(), text.size() + 1);
                }
                return data.utf8;
              })
      .Method("length",
              "Q@:", [this](Msg& m) -> Value { return Utf16Length(rt_.StringValue(m.self())); })
      .Method("isEqualToString:", "B@:@",
              [this](Msg& m) -> Value {
                return m.U(0) != 0 && rt_.StringValue(m.self()) == rt_.StringValue(m.U(0));
              })
      .Method("copy", "@@:", [this](Msg& m) -> Value { return rt_.Retain(m.self()); })
      .Method("dealloc", "v@:", [this](Msg& m) -> Value {
        if (ObjectRecord* rec = rt_.Object(m.self())) {
          if (auto* data = std::any_cast<StringData>(&rec->payload); data && data->utf8)
            rt_.emulator().Free(data->utf8);
        }
        return m.Super();
      });
  ObjcClass* constant = rt_.DefineClass("__NSCFConstantString", "NSString").cls();
  constant->untracked_instances = true;
  constant_string_class_ = constant->address;
  rt_.Data("__CFConstantStringClassReference", constant_string_class_);
  rt_.string_value = [this](uint64_t object) { return Text(object); };

  auto NumberOf = [this](uint64_t object) {
    auto value = Number(object);
    if (!value) throw ModelError("an NSNumber method on an object that holds no number");
    return *value;
  };
  rt_.DefineClass("NSNumber")
      .ClassMethod("numberWithBool:", "@#:B",
                   [this](Msg& m) -> Value { return rt_.Autorelease(MakeNumber(m.B(0))); })
      .ClassMethod("numberWithInteger:", "@#:q",
                   [this](Msg& m) -> Value { return rt_.Autorelease(MakeNumber(m.I(0))); })
      .ClassMethod("numberWithDouble:", "@#:d",
                   [this](Msg& m) -> Value { return rt_.Autorelease(MakeNumber(m.D(0))); })
      .Method("boolValue", "B@:",
              [NumberOf](Msg& m) -> Value {
                return std::visit([](auto v) { return v != 0; }, NumberOf(m.self()));
              })
      .Method("integerValue", "q@:",
              [NumberOf](Msg& m) -> Value {
                return std::visit([](auto v) { return static_cast<int64_t>(v); },
                                  NumberOf(m.self()));
              })
      .Method("intValue", "i@:",
              [NumberOf](Msg& m) -> Value {
                return std::visit([](auto v) { return static_cast<int32_t>(v); },
                                  NumberOf(m.self()));
              })
      .Method("doubleValue", "d@:", [NumberOf](Msg& m) -> Value {
        return std::visit([](auto v) { return static_cast<double>(v); }, NumberOf(m.self()));
      });

  DefineConversions();
  rt_.DefineClass("NSDictionary")
      .Method("objectForKey:", "@@:@",
              [this](Msg& m) -> Value {
                const auto& entries =
                    std::any_cast<const DictionaryData&>(rt_.Object(m.self())->payload);
                for (const auto& [key, value] : entries)
                  if (KeysMatch(key, m.U(0))) return value;
                return 0;
              })
      .Method("count", "Q@:",
              [this](Msg& m) -> Value {
                return std::any_cast<const DictionaryData&>(rt_.Object(m.self())->payload).size();
              })
      .Method("dealloc", "v@:", [this](Msg& m) -> Value {
        // Moved out first: releasing a value may run code that looks at us.
        DictionaryData entries =
            std::move(std::any_cast<DictionaryData&>(rt_.Object(m.self())->payload));
        for (const auto& [key, value] : entries) {
          rt_.Release(key);
          rt_.Release(value);
        }
        return m.Super();
      });
  DefineCollections();
}

uint64_t Foundation::MakeString(const std::string& text) {
  uint64_t object = rt_.AllocObject(&rt_.Class("NSString"));
  rt_.Object(object)->payload = StringData{text, 0};
  return object;
}

uint64_t Foundation::MakeNumber(NumberData value) {
  uint64_t object = rt_.AllocObject(&rt_.Class("NSNumber"));
  rt_.Object(object)->payload = value;
  return object;
}

uint64_t Foundation::String(const std::string& text) { return rt_.Autorelease(MakeString(text)); }
uint64_t Foundation::Bool(bool value) { return rt_.Autorelease(MakeNumber(value)); }
uint64_t Foundation::Integer(int64_t value) { return rt_.Autorelease(MakeNumber(value)); }
uint64_t Foundation::Double(double value) { return rt_.Autorelease(MakeNumber(value)); }

uint64_t Foundation::Dictionary(const std::vector<std::pair<std::string, uint64_t>>& entries) {
  DictionaryData data;
  for (const auto& [key, value] : entries) {
    if (!rt_.IsObjectLike(value)) throw ModelError("a dictionary value that is not an object");
    data.emplace_back(MakeString(key), value);
  }
  uint64_t object = MakeDictionary(&rt_.Class("NSDictionary"), std::move(data));
  for (const auto& [key, value] : std::any_cast<const DictionaryData&>(rt_.Object(object)->payload))
    rt_.Release(key);  // MakeString's reference: the dictionary holds its own
  return rt_.Autorelease(object);
}

std::optional<std::string> Foundation::Text(uint64_t object) const {
  if (object == 0) return std::nullopt;
  Emulator& emu = rt_.emulator();
  if (object % 8 == 0 && emu.IsMapped(object, 32) &&
      rt_.pac.Strip(emu.Read64(object)) == constant_string_class_ && rt_.ClassOfObject(object)) {
    uint64_t flags = emu.Read64(object + 8), bytes = emu.Read64(object + 16),
             length = emu.Read64(object + 24);
    if (length > (1 << 20))
      throw ModelError("a constant string with the length " + std::to_string(length));
    if (!(flags & kUnicodeFlag)) {
      std::string text(length, '\0');
      emu.Read(bytes, text.data(), length);
      return text;
    }
    std::vector<uint16_t> units(length);
    emu.Read(bytes, units.data(), 2 * length);
    std::string text;
    for (size_t i = 0; i < units.size(); ++i) {
      uint32_t c = units[i];
      if (c >= 0xd800 && c < 0xdc00 && i + 1 < units.size())
        c = 0x10000 + ((c - 0xd800) << 10) + (units[++i] - 0xdc00);
      AppendUtf8(text, c);
    }
    return text;
  }
  ObjectRecord* rec = rt_.Object(object);
  if (!rec || !rec->alive) return std::nullopt;
  if (auto* data = std::any_cast<StringData>(&rec->payload)) return data->text;
  return std::nullopt;
}

std::optional<std::variant<bool, int64_t, double>> Foundation::Number(uint64_t object) const {
  ObjectRecord* rec = rt_.Object(object);
  if (!rec || !rec->alive) return std::nullopt;
  if (auto* data = std::any_cast<NumberData>(&rec->payload)) return *data;
  return std::nullopt;
}

uint64_t Foundation::Lookup(uint64_t dictionary, const std::string& key) const {
  ObjectRecord* rec = rt_.Object(dictionary);
  auto* data = rec ? std::any_cast<DictionaryData>(&rec->payload) : nullptr;
  if (!data) throw ModelError("not a dictionary");
  for (const auto& [k, value] : *data)
    if (Text(k) == key) return value;
  return 0;
}

bool Foundation::KeysMatch(uint64_t a, uint64_t b) const {
  if (a == b) return true;
  auto ta = Text(a), tb = Text(b);
  return ta && tb && *ta == *tb;
}

}  // namespace velmo::phone
