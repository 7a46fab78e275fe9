#include "platform/foundation/nsstring.h"

#include <gtest/gtest.h>

#include <climits>

#include "platform/foundation/collections.h"
#include "platform/foundation/nsnumber.h"

namespace {

using foundation::makeString;

TEST(Conversions, StringsConvertAsThePlatformDoes) {
  objc::AutoreleasePool pool;
  struct Case {
    const char* text;
    BOOL b;
    long long ll;
    float f;
  };
  const Case cases[] = {
      {" 12abc", YES, 12, 12.0f}, {"YES", YES, 0, 0.0f},
      {"yes", YES, 0, 0.0f},      {"true", YES, 0, 0.0f},
      {"NO", NO, 0, 0.0f},        {"0x10", NO, 0, 0.0f},
      {"-5", YES, -5, -5.0f},     {"16.4.1", YES, 16, 16.4f},
      {"15.0", YES, 15, 15.0f},   {"0", NO, 0, 0.0f},
      {"", NO, 0, 0.0f},          {"  +007", YES, 7, 7.0f},
      {"00.5", NO, 0, 0.5f},      {"\t\n 3e2x", YES, 3, 300.0f},
      {"beta", NO, 0, 0.0f},      {"-0", NO, 0, 0.0f},
      {".5", NO, 0, 0.5f},        {"inf", NO, 0, 0.0f},
  };
  for (const Case& c : cases) {
    NSString* s = makeString(c.text);
    EXPECT_EQ(msg<BOOL>(s, "boolValue"_sel), c.b) << '"' << c.text << '"';
    EXPECT_EQ(msg<long long>(s, "longLongValue"_sel), c.ll) << '"' << c.text << '"';
    EXPECT_FLOAT_EQ(msg<float>(s, "floatValue"_sel), c.f) << '"' << c.text << '"';
  }
}

TEST(Conversions, IntegerStringsSaturateInsteadOfOverflowing) {
  EXPECT_EQ(foundation::stringLongLongValue("99999999999999999999"), LLONG_MAX);
  EXPECT_EQ(foundation::stringLongLongValue("-99999999999999999999"), LLONG_MIN);
  EXPECT_EQ(foundation::stringLongLongValue("-9223372036854775808"), LLONG_MIN);
  EXPECT_EQ(foundation::stringLongLongValue("9223372036854775807"), LLONG_MAX);
}

TEST(Conversions, NumbersConvertAsThePlatformDoes) {
  objc::AutoreleasePool pool;
  NSNumber* half = foundation::realNumber(0.5);
  EXPECT_TRUE(msg<BOOL>(half, "boolValue"_sel));
  EXPECT_EQ(msg<long long>(half, "longLongValue"_sel), 0);
  EXPECT_EQ(msg<long long>(foundation::realNumber(-7.9), "longLongValue"_sel), -7);
  EXPECT_EQ(msg<long long>(foundation::realNumber(1e300), "longLongValue"_sel), LLONG_MAX);
  EXPECT_EQ(msg<long long>(foundation::realNumber(-1e300), "longLongValue"_sel), LLONG_MIN);
  EXPECT_TRUE(msg<BOOL>(foundation::integerNumber(-3), "boolValue"_sel));
  EXPECT_FALSE(msg<BOOL>(foundation::integerNumber(0), "boolValue"_sel));
  EXPECT_EQ(msg<long long>(foundation::trueValue(), "longLongValue"_sel), 1);
  EXPECT_FALSE(msg<BOOL>(foundation::falseValue(), "boolValue"_sel));
  EXPECT_FLOAT_EQ(msg<float>(foundation::integerNumber(15), "floatValue"_sel), 15.0f);
}

TEST(Collections, MutableCopiesAreIndependentAndKeysCompareByValue) {
  objc::AutoreleasePool pool;
  auto dict = foundation::newDictionary(true);
  msg<void>(dict, "setObject:forKey:"_sel, makeString("a"), makeString("key"));
  EXPECT_EQ(foundation::stdString(msg<id>(dict, "objectForKey:"_sel, "key"_ns)), "a");
  auto copy = adopt(msg<id>(dict, "mutableCopy"_sel));
  msg<void>(copy, "setObject:forKey:"_sel, makeString("b"), "key"_ns);
  EXPECT_EQ(foundation::stdString(msg<id>(dict, "objectForKey:"_sel, "key"_ns)), "a");
  EXPECT_EQ(foundation::stdString(msg<id>(copy, "objectForKey:"_sel, "key"_ns)), "b");
  auto frozen = adopt(msg<id>(copy, "copy"_sel));
  EXPECT_FALSE(msg<BOOL>(frozen, "respondsToSelector:"_sel, "setObject:forKey:"_sel));
  EXPECT_EQ(msg<unsigned long>(frozen, "count"_sel), 1u);
}

}  // namespace
