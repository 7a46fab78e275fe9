#include "device/web/request_checks.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <initializer_list>
#include <nlohmann/json.hpp>
#include <string_view>

namespace web {
namespace {

using nlohmann::json;

constexpr size_t kMaxPasscodeDigits = 16;

// Parses `body` as a JSON object whose keys are all in `allowed`.
std::string object(const std::string& body, std::initializer_list<const char*> allowed, json* out) {
  *out = json::parse(body, nullptr, /*allow_exceptions=*/false);
  if (out->is_discarded()) return "the body is not JSON";
  if (!out->is_object()) return "the body is not a JSON object";
  for (const auto& item : out->items()) {
    bool known = false;
    for (const char* key : allowed) known = known || item.key() == key;
    if (!known) return "unknown field \"" + item.key() + "\"";
  }
  return "";
}

std::string text(const json& object, const char* key, std::string* out) {
  auto it = object.find(key);
  if (it == object.end()) return std::string("\"") + key + "\" is missing";
  if (!it->is_string()) return std::string("\"") + key + "\" must be a string";
  *out = it->get<std::string>();
  return "";
}

std::string coordinate(const json& object, const char* key, double* out) {
  auto it = object.find(key);
  if (it == object.end()) return std::string("\"") + key + "\" is missing";
  if (!it->is_number()) return std::string("\"") + key + "\" must be a number";
  double value = it->get<double>();
  if (!std::isfinite(value) || value < 0) {
    return std::string("\"") + key + "\" must be a point on the screen";
  }
  *out = value;
  return "";
}

bool wholeNumber(const std::string& digits, long long* out) {
  const char* begin = digits.data();
  const char* end = begin + digits.size();
  if (begin != end && *begin == '+') ++begin;
  auto [rest, error] = std::from_chars(begin, end, *out);
  return begin != end && error == std::errc() && rest == end;
}

// RFC 9110's tchar: the characters of a token (a type, a subtype, a name).
bool isTokenChar(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) ||
         std::string_view("!#$%&'*+-.^_`|~").find(c) != std::string_view::npos;
}

std::string lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// Reads a token at `at`, moving past it; "" when none is there.
std::string token(const std::string& text, size_t* at) {
  size_t start = *at;
  while (*at < text.size() && isTokenChar(text[*at])) ++*at;
  return text.substr(start, *at - start);
}

void skipSpace(const std::string& text, size_t* at) {
  while (*at < text.size() && (text[*at] == ' ' || text[*at] == '\t')) ++*at;
}

// A parameter's value: a token, or a quoted string with its escapes undone.
bool parameterValue(const std::string& text, size_t* at, std::string* out) {
  if (*at < text.size() && text[*at] == '"') {
    out->clear();
    for (++*at; *at < text.size(); ++*at) {
      char c = text[*at];
      if (c == '"') {
        ++*at;
        return true;
      }
      if (c == '\\') {
        if (++*at == text.size()) return false;
        c = text[*at];
      }
      out->push_back(c);
    }
    return false;  // no closing quote
  }
  *out = token(text, at);
  return !out->empty();
}

// A piece of the header, named in a reason: quoted when short and printable.
std::string shown(const std::string& value) {
  bool printable = value.size() <= 64;
  for (char c : value) printable = printable && c >= 0x20 && c < 0x7f;
  return printable ? "\"" + value + "\"" : "a value that cannot be shown";
}

}  // namespace

std::string checkJsonType(const std::string& content_type) {
  const std::string wanted = "the body must be JSON (Content-Type: application/json)";
  if (content_type.empty()) return wanted + "; the request gives no Content-Type";
  const std::string malformed = wanted + "; " + shown(content_type) + " is not a media type";
  size_t at = 0;
  skipSpace(content_type, &at);
  std::string type = token(content_type, &at);
  if (type.empty() || at == content_type.size() || content_type[at] != '/') return malformed;
  ++at;
  std::string subtype = token(content_type, &at);
  if (subtype.empty()) return malformed;
  if (lower(type) != "application" || lower(subtype) != "json") {
    return wanted + ", not " + shown(type + "/" + subtype);
  }
  while (true) {
    skipSpace(content_type, &at);
    if (at == content_type.size()) return "";
    if (content_type[at] != ';') return malformed;
    ++at;
    skipSpace(content_type, &at);
    if (at == content_type.size()) return "";  // a trailing ";" is tolerated
    std::string name = lower(token(content_type, &at));
    std::string value;
    if (name.empty() || at == content_type.size() || content_type[at] != '=') return malformed;
    ++at;
    if (!parameterValue(content_type, &at, &value)) return malformed;
    // JSON is UTF-8; a charset saying so is harmless, any other is not JSON.
    if (name != "charset" || lower(value) != "utf-8") {
      return wanted + "; its parameter " + shown(name + "=" + value) +
             " is not taken (only charset=utf-8)";
    }
  }
}

std::string parseTouch(const std::string& body, TouchRequest* out) {
  json request;
  if (std::string e = object(body, {"screen", "x", "y"}, &request); !e.empty()) return e;
  std::string screen;
  if (std::string e = text(request, "screen", &screen); !e.empty()) return e;
  if (screen == "photos") {
    out->screen = Screen::kPhotos;
  } else if (screen == "settings") {
    out->screen = Screen::kSettings;
  } else {
    return "\"screen\" must be photos or settings";
  }
  if (std::string e = coordinate(request, "x", &out->x); !e.empty()) return e;
  return coordinate(request, "y", &out->y);
}

std::string parseCount(const std::string& body, long long* out) {
  json request;
  if (std::string e = object(body, {"value"}, &request); !e.empty()) return e;
  auto it = request.find("value");
  if (it == request.end()) return "\"value\" is missing";
  const std::string bad = "\"value\" must be a whole number";
  if (it->is_number_integer()) {
    if (it->is_number_unsigned() && it->get<unsigned long long>() > 0x7fffffffffffffffULL) {
      return bad;
    }
    *out = it->get<long long>();
    return "";
  }
  if (it->is_string() && wholeNumber(it->get<std::string>(), out)) return "";
  return bad;
}

std::string parseAnswer(const std::string& body, AnswerRequest* out) {
  json request;
  if (std::string e = object(body, {"how", "code"}, &request); !e.empty()) return e;
  std::string how;
  if (std::string e = text(request, "how", &how); !e.empty()) return e;
  bool has_code = request.contains("code");
  if (how == "face" || how == "cancel") {
    if (has_code) return "only a passcode answer carries a code";
    out->how = how == "face" ? AnswerRequest::How::kFace : AnswerRequest::How::kCancel;
    out->code.clear();
    return "";
  }
  if (how != "passcode") return "\"how\" must be passcode, face or cancel";
  std::string code;
  if (std::string e = text(request, "code", &code); !e.empty()) return e;
  if (code.empty() || code.size() > kMaxPasscodeDigits ||
      code.find_first_not_of("0123456789") != std::string::npos) {
    return "the passcode must be 1 to 16 digits";
  }
  out->how = AnswerRequest::How::kPasscode;
  out->code = code;
  return "";
}

std::string parseProgram(const std::string& body, Program* out) {
  json request;
  if (std::string e = object(body, {"program"}, &request); !e.empty()) return e;
  std::string name;
  if (std::string e = text(request, "program", &name); !e.empty()) return e;
  if (name == "photos") {
    *out = Program::kPhotos;
  } else if (name == "settings") {
    *out = Program::kSettings;
  } else if (name == "tccd") {
    *out = Program::kTccd;
  } else {
    return "\"program\" must be photos, settings or tccd";
  }
  return "";
}

std::string parseNothing(const std::string& body) {
  if (body.empty()) return "";
  json request;
  return object(body, {}, &request);
}

}  // namespace web
