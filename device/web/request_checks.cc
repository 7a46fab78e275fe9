#include "device/web/request_checks.h"

#include <charconv>
#include <cmath>
#include <initializer_list>
#include <nlohmann/json.hpp>

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

}  // namespace

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
