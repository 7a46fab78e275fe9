// The platform model's own rules where the Velmo cases lean on them: files
// stay inside the device folder, property lists read back as the platform
// reads them, conversions follow Foundation's, fields are released with
// their object, and a message the model does not know fails by name.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/phone/phone_fixture.h"

namespace velmo::phone {
namespace {

using ::testing::HasSubstr;

class PlatformModelTest : public PhoneTest {
 protected:
  Value ClassSend(const std::string& cls, const std::string& sel, std::vector<Value> args = {}) {
    return phone.objc.Send(phone.objc.Class(cls).address, sel, std::move(args));
  }
};

TEST_F(PlatformModelTest, PhonePathsStayInsideTheDeviceFolder) {
  EXPECT_EQ(phone.files.HostPath("/var/jb/x.plist"), phone.files.root() + "/var/jb/x.plist");
  EXPECT_THROW(phone.files.HostPath("var/jb/x"), ModelError);
  EXPECT_THROW(phone.files.HostPath("/var/jb/../../etc/passwd"), ModelError);
}

TEST_F(PlatformModelTest, OnlyADictionaryFileReadsAsADictionary) {
  phone.files.WritePlist("/p/settings.plist",
                         {{"on", true}, {"n", int64_t{-5}}, {"s", std::string("7")}});
  uint64_t d =
      ClassSend("NSDictionary",
                "dictionaryWithContentsOfFile:", {phone.foundation.String("/p/settings.plist")})
          .u;
  ASSERT_TRUE(phone.foundation.IsDictionary(d));
  EXPECT_EQ(phone.objc.Send(phone.foundation.Lookup(d, "on"), "boolValue").u, 1u);
  EXPECT_EQ(phone.objc.Send(phone.foundation.Lookup(d, "n"), "longLongValue").u,
            static_cast<uint64_t>(-5));
  EXPECT_EQ(phone.objc.Send(phone.foundation.Lookup(d, "s"), "longLongValue").u, 7u);
  for (const char* bytes : {"", "garbage", "<plist><array/></plist>"}) {
    phone.files.WriteBytes("/p/bad.plist", bytes);
    EXPECT_EQ(ClassSend("NSDictionary",
                        "dictionaryWithContentsOfFile:", {phone.foundation.String("/p/bad.plist")})
                  .u,
              0u)
        << bytes;
  }
  EXPECT_EQ(ClassSend("NSDictionary",
                      "dictionaryWithContentsOfFile:", {phone.foundation.String("/p/none.plist")})
                .u,
            0u);
}

TEST_F(PlatformModelTest, StringConversionsFollowFoundation) {
  auto b = [&](const char* text) {
    return phone.objc.Send(phone.foundation.String(text), "boolValue").u != 0;
  };
  EXPECT_TRUE(b("YES"));
  EXPECT_TRUE(b("  true"));
  EXPECT_TRUE(b("-007"));
  EXPECT_FALSE(b("no"));
  EXPECT_FALSE(b("0"));
  EXPECT_FALSE(b(""));
  EXPECT_EQ(phone.objc.Send(phone.foundation.String("16.4.1"), "floatValue").d[0],
            static_cast<double>(16.4f));
  EXPECT_EQ(phone.objc.Send(phone.foundation.String("beta"), "floatValue").d[0], 0.0);
}

TEST_F(PlatformModelTest, UserDefaultsWriteTheDomainsFile) {
  uint64_t defaults = ClassSend("NSUserDefaults", "standardUserDefaults").u;
  uint64_t key = phone.foundation.String("enabled"), domain = phone.foundation.String("com.x");
  phone.objc.Send(defaults,
                  "setObject:forKey:inDomain:", {phone.foundation.Boolean(true), key, domain});
  EXPECT_EQ(phone.files.ReadPlist(DeviceFiles::DomainPath("com.x"))["enabled"],
            DeviceFiles::PlistValue(true));
  EXPECT_EQ(phone.objc.Send(defaults, "objectForKey:inDomain:", {key, domain}).u != 0, true);
  EXPECT_EQ(
      phone.objc
          .Send(defaults, "objectForKey:inDomain:", {phone.foundation.String("other"), domain})
          .u,
      0u);
}

TEST_F(PlatformModelTest, FieldsAreReleasedWithTheirObject) {
  uint64_t label = phone.objc.AllocObject(&phone.objc.Class("UILabel"));
  uint64_t text = phone.foundation.String("kept");
  phone.objc.Send(label, "setText:", {text});
  EXPECT_EQ(phone.objc.RetainCount(text), 2u);
  phone.objc.Send(label, "setText:", {text});
  EXPECT_EQ(phone.objc.RetainCount(text), 2u) << "setting the same object again";
  phone.objc.Release(label);
  EXPECT_EQ(phone.objc.RetainCount(text), 1u);
}

TEST_F(PlatformModelTest, AnUnknownSelectorNamesClassAndSelector) {
  uint64_t view = phone.objc.Autorelease(phone.objc.AllocObject(&phone.objc.Class("UIView")));
  try {
    phone.objc.Send(view, "setBackgroundColor:", {0});
    FAIL() << "an unknown selector was answered";
  } catch (const ModelError& e) {
    EXPECT_THAT(e.what(), HasSubstr("-[UIView setBackgroundColor:]: unrecognized selector"));
  }
}

}  // namespace
}  // namespace velmo::phone
