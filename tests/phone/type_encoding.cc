#include "tests/phone/type_encoding.h"

#include <cctype>

#include "tests/phone/emulator.h"

namespace velmo::phone {
namespace {

[[noreturn]] void Refuse(std::string_view encoding, const std::string& why) {
  throw EmulationError("type encoding \"" + std::string(encoding) + "\": " + why);
}

class Reader {
 public:
  explicit Reader(std::string_view text) : text_(text) {}
  bool AtEnd() const { return pos_ >= text_.size(); }

  TypeCode Next() {
    size_t start = pos_;
    SkipQualifiers();
    if (AtEnd()) Refuse(text_, "ends where a type was expected");
    TypeCode t;
    t.code = text_[pos_];
    switch (text_[pos_++]) {
      case 'v':
        t.cls = TypeCode::Class::kVoid;
        break;
      case 'B':
      case 'C':
        Int(t, 1, false);
        break;
      case 'c':
        Int(t, 1, true);
        break;
      case 's':
        Int(t, 2, true);
        break;
      case 'S':
        Int(t, 2, false);
        break;
      case 'i':
        Int(t, 4, true);
        break;
      case 'I':
        Int(t, 4, false);
        break;
      case 'l':
      case 'q':
        Int(t, 8, true);
        break;
      case 'L':
      case 'Q':
      case '*':
      case '#':
      case ':':
        Int(t, 8, false);
        break;
      case '@':
        Int(t, 8, false);
        if (!AtEnd() && text_[pos_] == '?') {
          t.block = true;
          ++pos_;
        } else if (!AtEnd() && text_[pos_] == '"') {
          SkipPast('"', 1);
        }
        break;
      case '^':
        Int(t, 8, false);
        Pointee();
        break;
      case '?':
        Int(t, 8, false);
        break;  // a function pointer
      case 'f':
        t.cls = TypeCode::Class::kFloat;
        t.size = 4;
        break;
      case 'd':
        t.cls = TypeCode::Class::kDouble;
        t.size = 8;
        break;
      case '{':
        Struct(t);
        break;
      default:
        Refuse(text_, std::string("unsupported type '") + text_[pos_ - 1] + "'");
    }
    t.text = std::string(text_.substr(start, pos_ - start));
    SkipDigits();
    return t;
  }

 private:
  void SkipQualifiers() {
    while (!AtEnd() && std::string_view("rnNoORV").find(text_[pos_]) != std::string_view::npos)
      ++pos_;
  }
  void SkipDigits() {
    while (!AtEnd() && (isdigit(static_cast<unsigned char>(text_[pos_])) || text_[pos_] == '-'))
      ++pos_;
  }
  void SkipPast(char close, int depth_open) {
    (void)depth_open;
    size_t end = text_.find(close, pos_ + 1);
    if (end == std::string_view::npos) Refuse(text_, "unterminated");
    pos_ = end + 1;
  }
  static void Int(TypeCode& t, int size, bool is_signed) {
    t.cls = TypeCode::Class::kInteger;
    t.size = size;
    t.is_signed = is_signed;
  }
  // What a pointer points to does not matter to the convention: skip it.
  void Pointee() {
    if (AtEnd()) Refuse(text_, "a pointer to nothing");
    char c = text_[pos_];
    if (c == '{' || c == '(' || c == '[') {
      SkipBalanced();
    } else if (c == '^') {
      ++pos_;
      Pointee();
    } else {
      ++pos_;
    }
  }
  void SkipBalanced() {
    int depth = 0;
    do {
      if (AtEnd()) Refuse(text_, "unbalanced brackets");
      char c = text_[pos_++];
      if (c == '{' || c == '(' || c == '[') ++depth;
      if (c == '}' || c == ')' || c == ']') --depth;
    } while (depth > 0);
  }
  // {Name=members}: a homogeneous aggregate of doubles (CGPoint, CGSize,
  // CGRect, UIEdgeInsets) or up to 16 bytes of 8-byte integers (NSRange).
  void Struct(TypeCode& t) {
    size_t eq = text_.find('=', pos_);
    size_t close_first = text_.find('}', pos_);
    if (eq == std::string_view::npos || eq > close_first) Refuse(text_, "a struct without members");
    pos_ = eq + 1;
    int doubles = 0, words = 0, others = 0;
    while (!AtEnd() && text_[pos_] != '}') {
      TypeCode m = Next();
      if (m.cls == TypeCode::Class::kDouble)
        ++doubles;
      else if (m.cls == TypeCode::Class::kDoubles)
        doubles += m.doubles;
      else if (m.cls == TypeCode::Class::kInteger && m.size == 8)
        ++words;
      else if (m.cls == TypeCode::Class::kIntegerPair)
        words += 2;
      else
        ++others;
    }
    if (AtEnd()) Refuse(text_, "unterminated struct");
    ++pos_;
    if (others == 0 && words == 0 && doubles >= 1 && doubles <= 4) {
      t.cls = TypeCode::Class::kDoubles;
      t.doubles = doubles;
      t.size = 8 * doubles;
    } else if (others == 0 && doubles == 0 && words >= 1 && words <= 2) {
      t.cls = words == 1 ? TypeCode::Class::kInteger : TypeCode::Class::kIntegerPair;
      t.size = 8 * words;
    } else {
      Refuse(text_, "a struct the model does not pass (not up to four doubles or two words)");
    }
  }

  std::string_view text_;
  size_t pos_ = 0;
};

}  // namespace

Signature ParseSignature(std::string_view encoding) {
  Reader in(encoding);
  Signature s;
  s.text = StripOffsets(encoding);
  s.result = in.Next();
  while (!in.AtEnd()) {
    s.args.push_back(in.Next());
    if (s.args.back().cls == TypeCode::Class::kVoid) Refuse(encoding, "a void argument");
  }
  return s;
}

std::string StripOffsets(std::string_view encoding) {
  std::string out;
  bool in_quotes = false;
  for (char c : encoding) {
    if (c == '"') in_quotes = !in_quotes;
    if (!in_quotes && (isdigit(static_cast<unsigned char>(c)) || c == '-')) continue;
    out.push_back(c);
  }
  return out;
}

}  // namespace velmo::phone
