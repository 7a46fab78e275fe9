#include "device/tweak_state.h"

#include <dlfcn.h>

#include "platform/foundation/nsstring.h"
#include "platform/substrate/loader.h"
#include "platform/substrate/substrate.h"

namespace program {

std::vector<std::string> hookLines() {
  std::vector<std::string> lines;
  for (const auto& h : substrate::installedHooks())
    lines.push_back("hook " + h.className + " " + h.selector);
  return lines;
}

std::vector<std::string> varLines() {
  std::vector<std::string> lines;
  static const char* const kBools[] = {"lockRecentlyDeleted", "popToRoot", "hiddenItemCountEnabled",
                                       "showLockIcon"};
  for (const auto& library : substrate::loadedLibraries()) {
    if (dlsym(library.handle, "accessed") == nullptr) continue;
    auto boolean = [&](const char* name) {
      auto* v = static_cast<const bool*>(dlsym(library.handle, name));
      lines.push_back(std::string("var ") + name + " " + (v == nullptr ? "-" : *v ? "YES" : "NO"));
    };
    for (const char* name : kBools) boolean(name);
    auto* count = static_cast<const long long*>(dlsym(library.handle, "hiddenItemCount"));
    lines.push_back("var hiddenItemCount " + (count ? std::to_string(*count) : std::string("-")));
    boolean("accessed");
    auto* reason = static_cast<NSString* const*>(dlsym(library.handle, "reason"));
    lines.push_back("var reason " +
                    (reason ? "\"" + foundation::stdString(*reason) + "\"" : std::string("-")));
  }
  return lines;
}

std::vector<std::string> loadTweaks(const std::string& executable_name) {
  return substrate::loadDynamicLibraries(executable_name).errors;
}

std::vector<std::string> bundleLines() {
  std::vector<std::string> lines;
  id bundles = msg<id>(objc_getClass("NSBundle"), "allBundles"_sel);
  auto n = msg<unsigned long>(bundles, "count"_sel);
  for (unsigned long i = 0; i < n; ++i) {
    id bundle = msg<id>(bundles, "objectAtIndex:"_sel, i);
    std::string name = foundation::stdString(msg<id>(bundle, "bundleIdentifier"_sel));
    if (name.empty()) name = foundation::stdString(msg<id>(bundle, "bundlePath"_sel));
    id info = msg<id>(bundle, "infoDictionary"_sel);
    id usage = msg<id>(info, "objectForKey:"_sel, "NSFaceIDUsageDescription"_ns);
    lines.push_back("bundle " + name + ": " +
                    (usage ? "\"" + foundation::stdString(usage) + "\"" : std::string("-")));
  }
  return lines;
}

}  // namespace program
