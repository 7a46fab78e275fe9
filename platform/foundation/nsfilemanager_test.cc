#include "platform/foundation/nsfilemanager.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "platform/foundation/collections.h"
#include "platform/foundation/nsnumber.h"
#include "platform/foundation/nsstring.h"
#include "platform/foundation/plist.h"
#include "platform/foundation/test_device_root.h"

namespace {

using foundation::makeString;
using testing_support::testDeviceRoot;

constexpr const char* kFolder = "/var/jb/var/mobile/Library/Preferences";

id manager() { return msg<id>(foundation::fileManagerClass(), "defaultManager"_sel); }

id readDictionary(const std::string& system_path) {
  return msg<id>(foundation::dictionaryClass(), "dictionaryWithContentsOfFile:"_sel,
                 makeString(system_path));
}

class FileManagerTest : public testing::Test {
 protected:
  void SetUp() override {
    folder_ = testDeviceRoot() + kFolder;
    std::filesystem::remove_all(folder_);
    std::filesystem::create_directories(folder_);
  }
  std::string real(const std::string& name) const { return folder_ + "/" + name; }
  std::string system(const std::string& name) const { return std::string(kFolder) + "/" + name; }

  objc::AutoreleasePool pool_;
  std::string folder_;
};

TEST_F(FileManagerTest, ExistenceAndAttributesUseTheDevicesFiles) {
  EXPECT_FALSE(msg<BOOL>(manager(), "fileExistsAtPath:"_sel, makeString(system("a.plist"))));
  std::ofstream(real("a.plist")) << "12345";
  EXPECT_TRUE(msg<BOOL>(manager(), "fileExistsAtPath:"_sel, makeString(system("a.plist"))));
  EXPECT_TRUE(msg<BOOL>(manager(), "fileExistsAtPath:"_sel, makeString(kFolder)));
  EXPECT_FALSE(msg<BOOL>(manager(), "fileExistsAtPath:"_sel, nullptr));
  EXPECT_EQ(manager(), msg<id>(foundation::fileManagerClass(), "defaultManager"_sel));

  id error = nullptr;
  id attributes = msg<id>(manager(), "attributesOfItemAtPath:error:"_sel,
                          makeString(system("a.plist")), &error);
  EXPECT_EQ(msg<long long>(msg<id>(attributes, "objectForKey:"_sel, "NSFileSize"_ns),
                           "longLongValue"_sel),
            5);
  EXPECT_EQ(error, nullptr);
  EXPECT_EQ(msg<id>(manager(), "attributesOfItemAtPath:error:"_sel, makeString(system("b.plist")),
                    &error),
            nullptr);
  EXPECT_NE(foundation::stdString(error).find("b.plist"), std::string::npos);

  EXPECT_TRUE(msg<BOOL>(manager(), "removeItemAtPath:error:"_sel, makeString(system("a.plist")),
                        static_cast<id*>(nullptr)));
  EXPECT_FALSE(std::filesystem::exists(real("a.plist")));
  EXPECT_TRUE(msg<BOOL>(manager(),
                        "createDirectoryAtPath:withIntermediateDirectories:attributes:error:"_sel,
                        makeString(system("x/y")), YES, nullptr, static_cast<id*>(nullptr)));
  EXPECT_TRUE(std::filesystem::is_directory(real("x/y")));
}

TEST_F(FileManagerTest, ContentsOfFileAreNilUnlessTheFileHoldsTheRightCollection) {
  auto dict = foundation::newDictionary(true);
  msg<void>(dict, "setObject:forKey:"_sel, foundation::trueValue(), "enabled"_ns);
  ASSERT_TRUE(msg<BOOL>(dict, "writeToFile:atomically:"_sel, makeString(system("d.plist")), YES));
  id back = readDictionary(system("d.plist"));
  ASSERT_TRUE(foundation::isDictionary(back));
  EXPECT_EQ(msg<id>(back, "objectForKey:"_sel, "enabled"_ns), foundation::trueValue());

  auto array = foundation::newArray({makeString("x")});
  ASSERT_TRUE(msg<BOOL>(array, "writeToFile:atomically:"_sel, makeString(system("a.plist")), YES));
  EXPECT_EQ(readDictionary(system("a.plist")), nullptr);
  id list = msg<id>(foundation::arrayClass(), "arrayWithContentsOfFile:"_sel,
                    makeString(system("a.plist")));
  EXPECT_EQ(msg<unsigned long>(list, "count"_sel), 1u);

  std::ofstream(real("garbage.plist")) << "\x01\x02 not a list";
  EXPECT_EQ(readDictionary(system("garbage.plist")), nullptr);
  EXPECT_EQ(readDictionary(system("missing.plist")), nullptr);
  EXPECT_EQ(msg<id>(foundation::dictionaryClass(), "dictionaryWithContentsOfFile:"_sel, nullptr),
            nullptr);
  EXPECT_FALSE(
      msg<BOOL>(dict, "writeToFile:atomically:"_sel, makeString("/no/such/folder/x.plist"), YES));
}

}  // namespace
