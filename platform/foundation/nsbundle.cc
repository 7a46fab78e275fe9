#include "platform/foundation/nsbundle.h"

#include <sys/stat.h>

#include <map>
#include <mutex>

#include "platform/foundation/collections.h"
#include "platform/foundation/device.h"
#include "platform/foundation/nsstring.h"
#include "platform/foundation/plist.h"

namespace foundation {
namespace {

// Every bundle made so far, by path, and which of them the process runs or has
// loaded. Bundles live as long as the process.
struct Registry {
  std::mutex mu;
  std::map<std::string, Strong<NSBundle>> by_path;  // guarded by mu
  Strong<NSBundle> main;                            // guarded by mu
  std::vector<Strong<NSBundle>> loaded;             // guarded by mu
};

Registry& registry() {
  static auto* r = new Registry();
  return *r;
}

// The bundle for a path, made on first use. The caller holds the registry lock.
NSBundle* bundleAt(Registry& r, const std::string& system_path) {
  Strong<NSBundle>& slot = r.by_path[system_path];
  if (!slot) {
    slot = adopt(static_cast<NSBundle*>(class_createInstance(bundleClass())));
    slot->path = system_path;
  }
  return slot.get();
}

bool isDirectory(const std::string& system_path) {
  struct stat st;
  return ::stat(device::devicePath(system_path).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

NSBundle* self_(id self) { return static_cast<NSBundle*>(self); }

Class defineBundle() {
  Class cls = objc::defineClass<NSBundle>("NSBundle", objc::nsobjectClass());
  addClassMethod(
      cls, "mainBundle"_sel, +[](id, SEL) -> id {
        Registry& r = registry();
        std::lock_guard<std::mutex> g(r.mu);
        return r.main.get();
      });
  addClassMethod(
      cls, "bundleWithPath:"_sel, +[](id, SEL, id path) -> id {
        std::string text = stdString(path);
        while (text.size() > 1 && text.back() == '/') text.pop_back();
        if (text.empty() || text.front() != '/' || !isDirectory(text)) return nullptr;
        Registry& r = registry();
        std::lock_guard<std::mutex> g(r.mu);
        return bundleAt(r, text);
      });
  addClassMethod(
      cls, "allBundles"_sel, +[](id, SEL) -> id {
        Registry& r = registry();
        auto all = newArray();
        std::lock_guard<std::mutex> g(r.mu);
        if (r.main) all->items.emplace_back(r.main.get());
        for (const auto& b : r.loaded) all->items.emplace_back(b.get());
        return all.autorelease();
      });
  addMethod(
      cls, "bundlePath"_sel, +[](id self, SEL) -> id { return makeString(self_(self)->path); });
  addMethod(
      cls, "infoDictionary"_sel, +[](id self, SEL) -> id {
        // Read once; a bundle's Info.plist does not change while the process runs.
        static std::mutex load;
        std::lock_guard<std::mutex> g(load);
        NSBundle* b = self_(self);
        if (!b->infoLoaded) {
          plist::Result read = plist::readFile(device::devicePath(b->path + "/Info.plist"));
          if (isDictionary(read.value)) b->info = read.value;
          b->infoLoaded = true;
        }
        return b->info.get();
      });
  // Sent through the runtime, so that a replaced infoDictionary is what answers.
  addMethod(
      cls, "objectForInfoDictionaryKey:"_sel, +[](id self, SEL, id key) -> id {
        return msg<id>(msg<id>(self, "infoDictionary"_sel), "objectForKey:"_sel, key);
      });
  addMethod(
      cls, "bundleIdentifier"_sel, +[](id self, SEL) -> id {
        id value = msg<id>(msg<id>(self, "infoDictionary"_sel), "objectForKey:"_sel,
                           "CFBundleIdentifier"_ns);
        return isString(value) ? value : nullptr;
      });
  addMethod(
      cls, "pathForResource:ofType:"_sel, +[](id self, SEL, id name, id type) -> id {
        std::string file = stdString(name);
        if (file.empty() || file.find('/') != std::string::npos) return nullptr;
        std::string ext = stdString(type);
        if (!ext.empty()) file += "." + ext;
        std::string path = self_(self)->path + "/" + file;
        struct stat st;
        if (::stat(device::devicePath(path).c_str(), &st) != 0) return nullptr;
        return makeString(path);
      });
  addMethod(
      cls, "description"_sel,
      +[](id self, SEL) -> id { return makeString("NSBundle <" + self_(self)->path + ">"); });
  return cls;
}

[[maybe_unused]] const bool kRegistered = (bundleClass(), true);

}  // namespace

Class bundleClass() {
  static Class cls = defineBundle();
  return cls;
}

void setMainBundle(const std::string& system_path) {
  Registry& r = registry();
  std::lock_guard<std::mutex> g(r.mu);
  r.main = bundleAt(r, system_path);
}

void addLoadedBundle(const std::string& system_path) {
  Registry& r = registry();
  std::lock_guard<std::mutex> g(r.mu);
  NSBundle* bundle = bundleAt(r, system_path);
  for (const auto& b : r.loaded) {
    if (b.get() == bundle) return;
  }
  r.loaded.emplace_back(bundle);
}

}  // namespace foundation
