// Fuzz target: every property list the simulated device reads other than the
// settings file. The input's first byte picks the file, the rest is its
// contents; the other files hold valid lists, so each input also runs the
// code behind the file it damages. Files and their readers:
//   0 device.plist     readConfig, passcodeMatches, faceIdOffered
//   1 Info.plist       the main bundle's infoDictionary, bundleIdentifier
//   2 allowlists.plist faceIdOffered (LocalAuthentication's Face ID check)
//   3 Albums.plist     the photo library
//   4 Root.plist       a pane's specifiers, its table cells and titles
//   5 Fuzz.plist       the loader's filter (the library itself is no ELF file,
//                      so nothing is ever loaded)
//   6 passcode-verifier.plist  readVerifier (no key is derived: a work factor
//                      within bounds may still take seconds)
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/foundation/collections.h"
#include "platform/foundation/device.h"
#include "platform/foundation/nsbundle.h"
#include "platform/foundation/nsstring.h"
#include "platform/localauth/face_id.h"
#include "platform/photos/photo_library.h"
#include "platform/preferences/ps_list_controller.h"
#include "platform/preferences/ps_table_cell.h"
#include "platform/substrate/loader.h"
#include "platform/uikit/nsindexpath.h"
#include "tests/fuzz/fuzz_device.h"

namespace {

constexpr const char* kAppPath = "/Applications/Fuzz.app";
constexpr const char* kPanePath = "/var/jb/Library/PreferenceBundles/Fuzz.bundle";
constexpr const char* kLibraries = "/var/jb/Library/MobileSubstrate/DynamicLibraries";

struct File {
  std::string path;  // real
  std::string valid;
};

std::vector<File>& files() {
  static std::vector<File> f;
  return f;
}

std::string xml(const std::string& body) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">" + body +
         "</plist>\n";
}

void readEverything() {
  objc::AutoreleasePool pool;
  device::Config config = device::readConfig();
  device::passcodeMatches(config, "1234");
  device::PasscodeVerifier verifier;
  device::readVerifier(&verifier);

  auto* app = static_cast<NSBundle*>(msg<id>(foundation::bundleClass(), "mainBundle"_sel));
  app->infoLoaded = false;  // bundles read Info.plist once; this one is read afresh
  app->info = nullptr;
  msg<id>(app, "bundleIdentifier"_sel);
  msg<id>(app, "objectForInfoDictionaryKey:"_sel, static_cast<id>("CFBundleExecutable"_ns));
  localauth::faceIdOffered();

  photos::readLibrary();

  id pane = msg<id>(foundation::bundleClass(), "bundleWithPath:"_sel,
                    static_cast<id>(foundation::makeString(kPanePath)));
  Strong<objc_object> controller = allocInit(preferences::listControllerClass());
  msg<void>(controller, "setBundle:"_sel, pane);
  id list = msg<id>(controller, "loadSpecifiersFromPlistName:target:"_sel,
                    static_cast<id>("Root"_ns), static_cast<id>(controller));
  msg<void>(controller, "setSpecifiers:"_sel, list);
  long sections = msg<long>(controller, "numberOfSectionsInTableView:"_sel, nullptr);
  for (long section = 0; section < sections; ++section) {
    msg<id>(controller, "tableView:titleForHeaderInSection:"_sel, nullptr, section);
    msg<id>(controller, "tableView:titleForFooterInSection:"_sel, nullptr, section);
    long rows = msg<long>(controller, "tableView:numberOfRowsInSection:"_sel, nullptr, section);
    for (long row = 0; row < rows; ++row) {
      id path = msg<id>(uikit::indexPathClass(), "indexPathForRow:inSection:"_sel, row, section);
      preferences::cellValueText(
          msg<id>(controller, "tableView:cellForRowAtIndexPath:"_sel, nullptr, path));
    }
  }

  substrate::loadDynamicLibraries("Fuzz");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz_support::makeScratchDevice();
  objc::AutoreleasePool pool;
  auto real = [](const std::string& system_path) { return device::devicePath(system_path); };
  files() = {
      {real("/") + "device.plist",
       xml("<dict><key>model</key><string>iPhone</string><key>systemVersion</key>"
           "<string>16.4.1</string><key>passcodeSalt</key><string>00ff</string>"
           "<key>passcodeHash</key><string>00</string><key>biometry</key><string>face</string>"
           "</dict>")},
      {real(std::string(kAppPath) + "/Info.plist"),
       xml("<dict><key>CFBundleIdentifier</key><string>com.example.fuzz</string>"
           "<key>NSFaceIDUsageDescription</key><string>why</string></dict>")},
      {real(localauth::kAllowListsPath),
       xml("<dict><key>kTCCServiceFaceID</key><array><string>com.example.fuzz</string>"
           "</array></dict>")},
      {real(photos::kLibraryPath),
       xml("<dict><key>Albums</key><array><dict><key>Title</key><string>Hidden</string>"
           "<key>Count</key><integer>3</integer><key>Kind</key><string>hidden</string></dict>"
           "</array></dict>")},
      {real(std::string(kPanePath) + "/Root.plist"),
       xml("<dict><key>title</key><string>Fuzz</string><key>items</key><array>"
           "<dict><key>cell</key><string>PSGroupCell</string><key>label</key><string>G</string>"
           "</dict><dict><key>cell</key><string>PSSwitchCell</string><key>key</key>"
           "<string>popToRoot</string><key>defaults</key><string>com.example.fuzz</string>"
           "</dict></array></dict>")},
      {real(std::string(kLibraries) + "/Fuzz.plist"),
       xml("<dict><key>Filter</key><dict><key>Bundles</key><array>"
           "<string>com.example.fuzz</string></array></dict></dict>")},
      {real(device::kPasscodeVerifierPath),
       xml("<dict><key>algorithm</key><string>PBKDF2-HMAC-SHA256</string>"
           "<key>iterations</key><integer>1000</integer>"
           "<key>salt</key><string>00112233445566778899aabbccddeeff</string>"
           "<key>key</key><string>" +
           std::string(64, 'a') + "</string></dict>")},
  };
  for (const File& f : files()) fuzz_support::putFile(f.path, f.valid);
  fuzz_support::putFile(real(std::string(kLibraries) + "/Fuzz.dylib"), "");
  foundation::setMainBundle(kAppPath);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  size_t target = data[0] % files().size();
  for (size_t i = 0; i < files().size(); ++i) {
    fuzz_support::putFile(files()[i].path, i == target ? fuzz_support::asText(data + 1, size - 1)
                                                       : std::string_view(files()[i].valid));
  }
  readEverything();
  return 0;
}
