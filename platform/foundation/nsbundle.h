// NSBundle: a folder with an Info.plist. The main bundle is the program's
// own; framework bundles are those it has loaded. `infoDictionary` is read
// once from <bundle>/Info.plist (nil when there is none or it does not parse)
// and always sent through the runtime, so replacements of it apply.
//
// Methods: +mainBundle (nil until the program sets one), +bundleWithPath:
// (nil when there is no such folder on the device), +allBundles (main bundle
// first, then frameworks in load order), -bundlePath, -bundleIdentifier (from
// the info dictionary, through -infoDictionary), -infoDictionary,
// -objectForInfoDictionaryKey: (also through -infoDictionary),
// -pathForResource:ofType: (the system path of an existing file, or nil).
//
// Ownership: there is one bundle object per path, kept for the life of the
// process; the class methods return it unretained.
//
// Thread safety: bundles are made on the main thread at start; reading them
// afterwards is safe from any thread.
#pragma once

#include <string>
#include <vector>

#include "platform/objc/nsobject.h"

struct NSBundle : NSObject {
  std::string path;  // as the system spells it, e.g. "/Applications/MobileSlideShow.app"
  Strong<objc_object> info;
  bool infoLoaded = false;
};

namespace foundation {

Class bundleClass();
// Makes the bundle at `system_path` the main bundle. Called by the program at start.
void setMainBundle(const std::string& system_path);
// Records a framework bundle as loaded by this process.
void addLoadedBundle(const std::string& system_path);

}  // namespace foundation
