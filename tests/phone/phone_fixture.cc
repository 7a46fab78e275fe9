#include "tests/phone/phone_fixture.h"

namespace velmo::phone {

void PhoneTest::SetUp() { pool_ = phone.objc.PushPool(); }

void PhoneTest::TearDown() {
  if (!check_leaks_ || HasFailure()) return;
  try {
    if (phone.objc.pool_depth() > 0) phone.objc.PopPool(pool_);
  } catch (const std::exception& e) {
    ADD_FAILURE() << "draining the test's autorelease pool: " << e.what();
    return;
  }
  EXPECT_EQ(phone.LeakReport(), "") << "objects or blocks outlived the test";
}

std::string PhoneTest::ImagePath(const std::string& name) {
#ifdef VELMO_PHONE_TEST_IMAGES
  return std::string(VELMO_PHONE_TEST_IMAGES) + "/" + name;
#else
  return name;
#endif
}

}  // namespace velmo::phone
