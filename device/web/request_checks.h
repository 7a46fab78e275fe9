// The checks every request body of the web page passes before anything of
// it reaches a device program. A body is a small JSON object; each parser
// accepts exactly the fields and values its action takes and answers the
// reason for anything else, so that nothing a request carries can add a
// command or an argument to the program's command line.
//
// Thread safety: pure functions.
#pragma once

#include <string>

#include "device/web/device_session.h"

namespace web {

// The largest request body the server reads; a larger one is refused (413).
constexpr size_t kMaxBodyBytes = 16 * 1024;

struct TouchRequest {
  Screen screen = Screen::kPhotos;
  double x = 0;  // points
  double y = 0;
};

struct AnswerRequest {
  enum class How { kPasscode, kFace, kCancel } how = How::kCancel;
  std::string code;  // digits, for kPasscode
};

// Each returns "" when the body is good, else the reason it is refused.
// {"screen": "photos"|"settings", "x": number, "y": number}; the numbers
// finite and not negative (the screen's own bounds are checked by the session).
std::string parseTouch(const std::string& body, TouchRequest* out);
// {"value": whole number} or {"value": "whole number"}, within 64 bits.
std::string parseCount(const std::string& body, long long* out);
// {"how": "passcode", "code": "digits"} | {"how": "face"} | {"how": "cancel"}.
std::string parseAnswer(const std::string& body, AnswerRequest* out);
// {"program": "photos"|"settings"|"tccd"}.
std::string parseProgram(const std::string& body, Program* out);
// An empty body or {}.
std::string parseNothing(const std::string& body);

// A request's Content-Type value, read as a media type (type "/" subtype,
// then "; name=value" parameters, names and the type case-insensitive):
// "" when it is application/json with no parameter but charset=utf-8, else
// why it is not (the value is named only when short and printable).
std::string checkJsonType(const std::string& content_type);

}  // namespace web
