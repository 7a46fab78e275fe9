#include "device/package/dpkg_database.h"

#include <gtest/gtest.h>

namespace package {
namespace {

const char kControl[] =
    "Package: com.example.x\n"
    "Version: 1.0\n"
    "Description: one line\n"
    " and a continuation\n";

TEST(ReadControl, ReadsOneParagraphOfFields) {
  std::map<std::string, std::string> fields;
  EXPECT_EQ(readControl(kControl, &fields), "");
  EXPECT_EQ(fields["Package"], "com.example.x");
  EXPECT_EQ(fields["Description"], "one line\nand a continuation");
  EXPECT_EQ(readControl(std::string(kControl) + "\n\n", &fields), "") << "blank lines at the end";
}

TEST(ReadControl, RefusesWhatDpkgRefuses) {
  std::map<std::string, std::string> fields;
  const std::pair<std::string, std::string> refused[] = {
      {"Package: com.evil.test\nVersion: 1\nPackage: mobilesubstrate\n",
       "duplicate value for 'Package' field"},
      {"Package: a1\nVersion: 1\nVERSION: 2\n", "duplicate value for 'Version' field"},
      {"Package: a1\nVersion: 1\n\nPackage: mobilesubstrate\n",
       "several package info entries found, only one allowed"},
      {"Package: a1\nnot a field\n", "a line of the control file is no field: not a field"},
      {" Package: a1\n", "the control file begins with a continuation line"},
      {"", "the control file has no fields"},
  };
  for (const auto& [text, error] : refused) {
    fields.clear();
    EXPECT_EQ(readControl(text, &fields), error) << text;
    EXPECT_TRUE(fields.empty()) << text;
  }
}

}  // namespace
}  // namespace package
