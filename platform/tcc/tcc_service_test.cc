#include "platform/tcc/tcc_service.h"

#include <gtest/gtest.h>

namespace {

TEST(TCCDService, KeepsItsNameAndACopyOfTheListItWasGiven) {
  objc::AutoreleasePool pool;
  tcc::registerClasses();
  ASSERT_EQ(objc_getClass("TCCDService"), tcc::serviceClass());

  Strong<TCCDService> service = tcc::newService("kTCCServiceFaceID");
  EXPECT_EQ(foundation::stdString(msg<id>(service, "name"_sel)), "kTCCServiceFaceID");
  EXPECT_EQ(msg<id>(service, "defaultAllowedIdentifiersList"_sel), nullptr);

  Strong<NSArray> list = foundation::newArray({"com.apple.Passbook"_ns}, /*mutable_=*/true);
  msg<void>(service, "setDefaultAllowedIdentifiersList:"_sel, list.get());
  msg<void>(list, "addObject:"_sel, "com.example.sneaky"_ns);

  auto* kept = static_cast<NSArray*>(msg<id>(service, "defaultAllowedIdentifiersList"_sel));
  ASSERT_NE(kept, nullptr);
  EXPECT_NE(kept, list.get());
  ASSERT_EQ(kept->items.size(), 1u);
  EXPECT_EQ(foundation::stdString(kept->items[0]), "com.apple.Passbook");
  EXPECT_FALSE(msg<BOOL>(kept, "isKindOfClass:"_sel, foundation::mutableArrayClass()));
}

}  // namespace
