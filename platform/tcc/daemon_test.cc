#include "platform/tcc/daemon.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/foundation/device.h"
#include "platform/foundation/plist.h"

namespace {

// One device root for the whole program: the root is set once per process.
const std::string& deviceRoot() {
  static const std::string root = [] {
    char pattern[] = "/tmp/velmo-tcc-test-XXXXXX";
    const char* made = mkdtemp(pattern);
    if (made == nullptr) std::abort();
    device::setRoot(made);
    return std::string(made);
  }();
  return root;
}

// Removes the device root when the program ends.
class RemoveDeviceRoot : public testing::Environment {
 public:
  void TearDown() override {
    std::error_code ec;
    std::filesystem::remove_all(deviceRoot(), ec);
  }
};
[[maybe_unused]] testing::Environment* const kRemoveDeviceRoot =
    testing::AddGlobalTestEnvironment(new RemoveDeviceRoot);

const std::vector<std::string> kDefaultLines = {
    "service kTCCServiceFaceID: com.apple.mobilesafari,com.apple.Passbook",
    "service kTCCServiceCamera: com.apple.camera",
    "service kTCCServicePhotos: com.apple.camera,com.apple.mobileslideshow",
    "service kTCCServiceMicrophone: com.apple.VoiceMemos",
};

// The published lists, read back from the device as LocalAuthentication would.
std::vector<std::string> publishedList(const std::string& service) {
  plist::Result read = plist::readFile(device::devicePath(tcc::kAllowListsPath));
  if (!read.error.empty() || !foundation::isDictionary(read.value)) return {"<unreadable>"};
  id list = static_cast<NSDictionary*>(read.value.get())->find(foundation::makeString(service));
  if (!foundation::isArray(list)) return {"<missing>"};
  std::vector<std::string> out;
  for (const auto& item : static_cast<NSArray*>(list)->items)
    out.push_back(foundation::stdString(item));
  return out;
}

class DaemonTest : public testing::Test {
 protected:
  void SetUp() override { std::filesystem::remove_all(deviceRoot() + "/var/db"); }
  objc::AutoreleasePool pool_;
};

TEST_F(DaemonTest, StartsEachServiceWithItsOwnListAndPublishesThem) {
  tcc::Daemon daemon = tcc::startDaemon();
  EXPECT_EQ(daemon.error, "");
  EXPECT_EQ(daemon.lines, kDefaultLines);
  ASSERT_EQ(daemon.services.size(), 4u);
  EXPECT_EQ(publishedList("kTCCServiceFaceID"),
            (std::vector<std::string>{"com.apple.mobilesafari", "com.apple.Passbook"}));
  EXPECT_EQ(publishedList("kTCCServiceMicrophone"),
            (std::vector<std::string>{"com.apple.VoiceMemos"}));
}

// A library loaded into the daemon replaces setDefaultAllowedIdentifiersList:
// before the start; what it passes on is what the device gets to see.
TEST_F(DaemonTest, ListsAreSetThroughTheRuntimeSoAReplacementDecides) {
  tcc::registerClasses();
  using SetList = void (*)(id, SEL, id);
  static SetList original = nullptr;
  SetList replacement = +[](id self, SEL sel, id list) {
    if (foundation::stdString(msg<id>(self, "name"_sel)) == "kTCCServiceFaceID") {
      Strong<NSArray> more = adopt(static_cast<NSArray*>(msg<id>(list, "mutableCopy"_sel)));
      msg<void>(more, "addObject:"_sel, "com.apple.mobileslideshow"_ns);
      list = more.autorelease();
    }
    original(self, sel, list);
  };
  Class cls = tcc::serviceClass();
  SEL sel = "setDefaultAllowedIdentifiersList:"_sel;
  const std::type_info& types = objc::signature<void, id>();
  original = reinterpret_cast<SetList>(
      class_replaceMethod(cls, sel, reinterpret_cast<IMP>(replacement), types));
  ASSERT_NE(original, nullptr);

  tcc::Daemon daemon = tcc::startDaemon();
  class_replaceMethod(cls, sel, reinterpret_cast<IMP>(original), types);

  EXPECT_EQ(daemon.error, "");
  ASSERT_EQ(daemon.lines.size(), 4u);
  EXPECT_EQ(daemon.lines[0],
            "service kTCCServiceFaceID: "
            "com.apple.mobilesafari,com.apple.Passbook,com.apple.mobileslideshow");
  EXPECT_EQ(daemon.lines[1], kDefaultLines[1]);
  EXPECT_EQ(publishedList("kTCCServiceFaceID"),
            (std::vector<std::string>{"com.apple.mobilesafari", "com.apple.Passbook",
                                      "com.apple.mobileslideshow"}));
  EXPECT_EQ(publishedList("kTCCServicePhotos"),
            (std::vector<std::string>{"com.apple.camera", "com.apple.mobileslideshow"}));
}

TEST_F(DaemonTest, APublishingFailureIsReportedAndTheServicesStillRun) {
  std::filesystem::create_directories(deviceRoot() + "/var/db");
  std::ofstream(deviceRoot() + "/var/db/TCC") << "not a folder";

  tcc::Daemon daemon = tcc::startDaemon();
  EXPECT_NE(daemon.error, "");
  EXPECT_EQ(daemon.lines, kDefaultLines);
  EXPECT_EQ(daemon.services.size(), 4u);
}

TEST_F(DaemonTest, ARestartReplacesThePublishedLists) {
  std::filesystem::create_directories(deviceRoot() + "/var/db/TCC");
  std::ofstream(device::devicePath(tcc::kAllowListsPath)) << "garbage from an older daemon";
  tcc::Daemon daemon = tcc::startDaemon();
  EXPECT_EQ(daemon.error, "");
  EXPECT_EQ(publishedList("kTCCServiceCamera"), (std::vector<std::string>{"com.apple.camera"}));
}

}  // namespace
