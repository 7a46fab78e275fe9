#include "device/web/request_checks.h"

#include <gtest/gtest.h>

namespace web {
namespace {

TEST(RequestChecks, TouchTakesAScreenAndTwoPointsOnIt) {
  TouchRequest t;
  EXPECT_EQ(parseTouch(R"({"screen":"settings","x":12.5,"y":300})", &t), "");
  EXPECT_EQ(t.screen, Screen::kSettings);
  EXPECT_DOUBLE_EQ(t.x, 12.5);
  EXPECT_DOUBLE_EQ(t.y, 300);
  for (const char* bad :
       {"", "not json", "[1,2]", R"({"screen":"photos","x":1})",
        R"({"screen":"photos","x":"1","y":2})", R"({"screen":"photos","x":-1,"y":2})",
        R"({"screen":"photos","x":1e400,"y":2})", R"({"screen":"home","x":1,"y":2})",
        R"({"screen":"photos","x":1,"y":2,"then":"quit"})"}) {
    EXPECT_NE(parseTouch(bad, &t), "") << bad;
  }
}

TEST(RequestChecks, CountIsAWholeNumberWithin64Bits) {
  long long value = 0;
  EXPECT_EQ(parseCount(R"({"value":42})", &value), "");
  EXPECT_EQ(value, 42);
  EXPECT_EQ(parseCount(R"({"value":"-7"})", &value), "");
  EXPECT_EQ(value, -7);
  EXPECT_EQ(parseCount(R"({"value":9223372036854775807})", &value), "");
  EXPECT_EQ(value, 9223372036854775807LL);
  for (const char* bad :
       {R"({"value":9223372036854775808})", R"({"value":1.5})", R"({"value":"12 abc"})",
        R"({"value":"12\nquit"})", R"({"value":""})", R"({"value":true})", R"({})"}) {
    EXPECT_NE(parseCount(bad, &value), "") << bad;
  }
}

TEST(RequestChecks, APasscodeIsDigitsOnlySoNothingElseReachesTheCommandLine) {
  AnswerRequest a;
  EXPECT_EQ(parseAnswer(R"({"how":"passcode","code":"1234"})", &a), "");
  EXPECT_EQ(a.how, AnswerRequest::How::kPasscode);
  EXPECT_EQ(a.code, "1234");
  EXPECT_EQ(parseAnswer(R"({"how":"face"})", &a), "");
  EXPECT_EQ(a.how, AnswerRequest::How::kFace);
  EXPECT_EQ(parseAnswer(R"({"how":"cancel"})", &a), "");
  EXPECT_EQ(a.how, AnswerRequest::How::kCancel);
  for (const char* bad :
       {R"({"how":"passcode","code":"12 34"})", R"({"how":"passcode","code":"1234\nquit"})",
        R"({"how":"passcode","code":""})", R"({"how":"passcode","code":1234})",
        R"({"how":"passcode","code":"12345678901234567"})", R"({"how":"passcode"})",
        R"({"how":"face","code":"1"})", R"({"how":"shout"})"}) {
    EXPECT_NE(parseAnswer(bad, &a), "") << bad;
  }
}

TEST(RequestChecks, ProgramsAndEmptyBodies) {
  Program p = Program::kPhotos;
  EXPECT_EQ(parseProgram(R"({"program":"tccd"})", &p), "");
  EXPECT_EQ(p, Program::kTccd);
  EXPECT_NE(parseProgram(R"({"program":"sh"})", &p), "");
  EXPECT_EQ(parseNothing(""), "");
  EXPECT_EQ(parseNothing("{}"), "");
  EXPECT_NE(parseNothing(R"({"x":1})"), "");
  EXPECT_NE(parseNothing("{"), "");
}

TEST(RequestChecks, OnlyJsonItselfIsJsonWhateverTheTypeStartsWith) {
  for (const char* json : {"application/json", "Application/JSON",
                           "application/json; charset=utf-8", "application/json;charset=\"UTF-8\"",
                           "application/json ; charset=utf-8 ", "application/json;"}) {
    EXPECT_EQ(checkJsonType(json), "") << json;
  }
  // A longer subtype, another type, a suffix or a charset JSON is not in.
  for (const char* other :
       {"application/jsonx", "application/json-patch+json", "application/jsonp", "text/json",
        "application/ld+json", "application/json; charset=latin1", "application/json; boundary=x",
        "application/json x", "application/json;charset", "application/json; charset=\"utf-8",
        "application /json", "application/", "json", "", "application/json\r\nX: y"}) {
    EXPECT_NE(checkJsonType(other), "") << other;
  }
  // The reason names what the request said, when it can be shown.
  EXPECT_NE(checkJsonType("application/jsonx").find("\"application/jsonx\""), std::string::npos)
      << checkJsonType("application/jsonx");
  EXPECT_NE(checkJsonType("application/json; charset=latin1").find("charset=latin1"),
            std::string::npos);
  EXPECT_EQ(checkJsonType(std::string("text/\x01") + std::string(100, 'a')).find('\x01'),
            std::string::npos);
}

}  // namespace
}  // namespace web
