// PhoneTest: a GoogleTest fixture around one PhoneModel. An autorelease
// pool is open for the whole test (the helpers' objects go into it); at the
// end the pool is drained and every object and heap block the test or the
// image made must be gone, or the test fails listing them. A test that
// expects the image to fail part-way sets check_leaks_ = false.
//
// Test images are found under the build's image folder: ImagePath("probe.dylib").
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "tests/phone/phone_model.h"

namespace velmo::phone {

class PhoneTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  static std::string ImagePath(const std::string& name);

  PhoneModel phone;
  bool check_leaks_ = true;

 private:
  uint64_t pool_ = 0;
};

}  // namespace velmo::phone
