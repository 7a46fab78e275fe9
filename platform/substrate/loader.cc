#include "platform/substrate/loader.h"

#include <dlfcn.h>

#include <algorithm>
#include <filesystem>
#include <mutex>
#include <set>

#include "platform/foundation/device.h"
#include "platform/foundation/nsstring.h"

namespace substrate {
namespace {

constexpr const char* kLibraryFolder = "/var/jb/Library/MobileSubstrate/DynamicLibraries";

std::mutex& lock() {
  static std::mutex m;
  return m;
}

std::vector<LoadedLibrary>& loaded() {
  static auto* v = new std::vector<LoadedLibrary>;
  return *v;
}

std::set<std::string> stringsIn(id array) {
  std::set<std::string> out;
  if (array == nullptr || !msg<BOOL>(array, "respondsToSelector:"_sel, "objectAtIndex:"_sel))
    return out;
  auto n = msg<unsigned long>(array, "count"_sel);
  for (unsigned long i = 0; i < n; ++i)
    out.insert(foundation::stdString(msg<id>(array, "objectAtIndex:"_sel, i)));
  return out;
}

std::set<std::string> processBundleIdentifiers() {
  std::set<std::string> ids;
  id bundles = msg<id>(objc_getClass("NSBundle"), "allBundles"_sel);
  auto n = msg<unsigned long>(bundles, "count"_sel);
  for (unsigned long i = 0; i < n; ++i) {
    id bundle = msg<id>(bundles, "objectAtIndex:"_sel, i);
    std::string identifier = foundation::stdString(msg<id>(bundle, "bundleIdentifier"_sel));
    if (!identifier.empty()) ids.insert(identifier);
  }
  return ids;
}

// Whether `filter` names this process. Each kind it lists (Bundles,
// Executables) matches when one of its entries names the process; the
// library loads when every listed kind matches, or, with Mode "Any", when
// one does. A filter that lists no kind names no process.
bool filterMatches(id filter, const std::set<std::string>& bundles, const std::string& executable) {
  if (filter == nullptr || !msg<BOOL>(filter, "respondsToSelector:"_sel, "objectForKey:"_sel))
    return false;
  std::vector<bool> kinds;
  if (id listed = msg<id>(filter, "objectForKey:"_sel, "Bundles"_ns); listed != nullptr) {
    std::set<std::string> names = stringsIn(listed);
    kinds.push_back(std::any_of(names.begin(), names.end(),
                                [&](const std::string& b) { return bundles.count(b) > 0; }));
  }
  if (id listed = msg<id>(filter, "objectForKey:"_sel, "Executables"_ns); listed != nullptr)
    kinds.push_back(stringsIn(listed).count(executable) > 0);
  if (kinds.empty()) return false;
  id mode = msg<id>(filter, "objectForKey:"_sel, "Mode"_ns);
  bool any = mode != nullptr && msg<BOOL>(mode, "respondsToSelector:"_sel, "UTF8String"_sel) &&
             foundation::stdString(mode) == "Any";
  return any ? std::find(kinds.begin(), kinds.end(), true) != kinds.end()
             : std::find(kinds.begin(), kinds.end(), false) == kinds.end();
}

}  // namespace

LoadResult loadDynamicLibraries(const std::string& executable_name) {
  objc::AutoreleasePool pool;
  LoadResult result;
  std::error_code ec;
  std::string folder = device::devicePath(kLibraryFolder);
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
    if (entry.path().extension() == ".dylib") names.push_back(entry.path().stem().string());
  }
  std::sort(names.begin(), names.end());
  std::set<std::string> bundles = processBundleIdentifiers();
  for (const std::string& name : names) {
    std::string plist = std::string(kLibraryFolder) + "/" + name + ".plist";
    id info = msg<id>(objc_getClass("NSDictionary"), "dictionaryWithContentsOfFile:"_sel,
                      foundation::makeString(plist));
    if (!filterMatches(msg<id>(info, "objectForKey:"_sel, "Filter"_ns), bundles, executable_name))
      continue;
    std::string path = folder + "/" + name + ".dylib";
    // dlopen would block on a FIFO: only a regular file is loaded.
    if (std::string e = device::regularFileError(path); !e.empty()) {
      result.errors.push_back("cannot load " + name + ": " + e);
      continue;
    }
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
      const char* why = dlerror();
      result.errors.push_back("cannot load " + name + ": " + (why ? why : "unknown error"));
      continue;
    }
    result.loaded.push_back({name, handle});
  }
  std::lock_guard<std::mutex> g(lock());
  for (const auto& l : result.loaded) loaded().push_back(l);
  return result;
}

std::vector<LoadedLibrary> loadedLibraries() {
  std::lock_guard<std::mutex> g(lock());
  return loaded();
}

}  // namespace substrate
