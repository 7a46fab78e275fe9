#include "platform/foundation/nsuserdefaults.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <system_error>

#include "platform/foundation/collections.h"
#include "platform/foundation/device.h"
#include "platform/foundation/file_lock.h"
#include "platform/foundation/folder_beneath.h"
#include "platform/foundation/nsstring.h"
#include "platform/foundation/plist.h"

namespace foundation {
namespace {

namespace fs = std::filesystem;

constexpr const char* kPreferencesFolder = "/var/jb/var/mobile/Library/Preferences";

std::atomic<bool> g_all_written{true};
std::atomic<unsigned long> g_failed_writes{0};

std::mutex& errorLock() {
  static std::mutex m;
  return m;
}

std::string& lastError() {
  static auto* text = new std::string();
  return *text;
}

bool failed(const std::string& message) {
  {
    std::lock_guard<std::mutex> g(errorLock());
    lastError() = message;
  }
  g_all_written = false;
  ++g_failed_writes;
  return false;
}

// How long a write waits for another writer of its domain: one
// read-modify-write takes milliseconds, so a lock held longer than this is
// held by a process that is stuck or stopped, or by anyone who merely opened
// the lock file, and the writer gives up instead of hanging with it.
constexpr auto kDomainLockPatience = std::chrono::milliseconds(1500);

std::string domainName(id domain) { return isString(domain) ? stdString(domain) : std::string(); }

// The domain's dictionary as stored, nil when it has no file or the file is
// not a dictionary. Autoreleased.
id readDomain(id domain) {
  std::string path = preferencesPath(domainName(domain));
  if (path.empty()) return nullptr;
  plist::Result read = plist::readFile(device::devicePath(path));
  return isDictionary(read.value) ? read.value.autorelease() : nullptr;
}

// Reads the domain under its lock, lets `change` edit a mutable copy, and
// writes the result back atomically. `change` returns false to write nothing.
template <class Change>
bool rewriteDomain(id domain, Change change) {
  std::string path = preferencesPath(domainName(domain));
  if (path.empty()) return failed("user defaults: bad domain name \"" + domainName(domain) + "\"");
  std::string real = device::devicePath(path);
  // The domain's folder is reached from the device root through no link (a
  // missing one is made below): neither its lock nor its file is ever made
  // through a link that leads out of it.
  if (std::string leaf; device::inDevice(real)) {
    device::Fd folder(device::openParentInDevice(real, &leaf));
    if (!folder.ok() && folder.get() != -ENOENT)
      return failed("user defaults: cannot write " + real + ": " +
                    (folder.get() == -ELOOP
                         ? std::string("a link is on its way, and the device follows none")
                         : std::strerror(-folder.get())));
  }
  std::error_code ec;
  fs::create_directories(fs::path(real).parent_path(), ec);
  if (ec) return failed("user defaults: cannot create the folder of " + real + ": " + ec.message());

  device::FileLock lock(real + ".lock", kDomainLockPatience);
  if (lock.busy()) return failed(std::string("user defaults: ") + kDomainBusy);
  if (!lock.error().empty()) return failed("user defaults: " + lock.error());

  Strong<NSDictionary> contents = newDictionary(/*mutable_=*/true);
  if (fs::exists(real, ec)) {
    std::string bytes;
    std::string e = device::readWholeFile(real, plist::kMaxFileSize, &bytes);
    bool too_large = fs::is_regular_file(real, ec) && fs::file_size(real, ec) > plist::kMaxFileSize;
    if (!e.empty() && !too_large) return failed("user defaults: " + e);
    plist::Result read = e.empty() ? plist::parse(bytes) : plist::Result{};
    if (isDictionary(read.value)) {
      contents = adopt(static_cast<NSDictionary*>(msg<id>(read.value, "mutableCopy"_sel)));
    } else {
      // Whatever is there is kept for a person to look at, not overwritten.
      fs::rename(real, real + ".damaged", ec);
      if (ec)
        return failed("user defaults: cannot set aside the damaged " + real + ": " + ec.message());
    }
  }
  if (!change(contents.get())) return true;
  if (std::string e = plist::writeFile(real, contents); !e.empty())
    return failed("user defaults: " + e);
  return true;
}

Class defineUserDefaults() {
  Class cls = objc::defineClass<NSObject>("NSUserDefaults", objc::nsobjectClass());
  addClassMethod(
      cls, "standardUserDefaults"_sel, +[](id self, SEL) -> id {
        static id shared = [self] {
          id defaults = class_createInstance(static_cast<Class>(self));
          objc_makeImmortal(defaults);
          return defaults;
        }();
        return shared;
      });
  addMethod(
      cls, "objectForKey:inDomain:"_sel, +[](id, SEL, id key, id domain) -> id {
        id dict = readDomain(domain);
        return key == nullptr ? nullptr : msg<id>(dict, "objectForKey:"_sel, key);
      });
  addMethod(
      cls, "setObject:forKey:inDomain:"_sel, +[](id, SEL, id value, id key, id domain) {
        if (!isString(key)) {
          failed("user defaults: a key must be a string");
          return;
        }
        rewriteDomain(domain, [&](NSDictionary* contents) {
          if (value == nullptr) {
            if (contents->find(key) == nullptr) return false;
            msg<void>(contents, "removeObjectForKey:"_sel, key);
          } else {
            msg<void>(contents, "setObject:forKey:"_sel, value, key);
          }
          return true;
        });
      });
  addMethod(
      cls, "persistentDomainForName:"_sel,
      +[](id, SEL, id domain) -> id { return readDomain(domain); });
  addMethod(
      cls, "setPersistentDomain:forName:"_sel, +[](id, SEL, id dict, id domain) {
        if (!isDictionary(dict)) {
          failed("user defaults: a persistent domain must be a dictionary");
          return;
        }
        rewriteDomain(domain, [&](NSDictionary* contents) {
          contents->entries = static_cast<NSDictionary*>(dict)->entries;
          return true;
        });
      });
  addMethod(
      cls, "removePersistentDomainForName:"_sel, +[](id, SEL, id domain) {
        rewriteDomain(domain, [](NSDictionary* contents) {
          contents->entries.clear();
          return true;
        });
      });
  addMethod(
      cls, "synchronize"_sel, +[](id, SEL) -> BOOL { return g_all_written.exchange(true); });
  return cls;
}

[[maybe_unused]] const bool kRegistered = (userDefaultsClass(), true);

}  // namespace

Class userDefaultsClass() {
  static Class cls = defineUserDefaults();
  return cls;
}

std::string preferencesPath(const std::string& domain) {
  if (domain.empty() || domain == "." || domain == ".." || domain.find('/') != std::string::npos ||
      domain.find('\0') != std::string::npos) {
    return "";
  }
  return std::string(kPreferencesFolder) + "/" + domain + ".plist";
}

unsigned long userDefaultsFailedWrites() { return g_failed_writes.load(); }

std::string userDefaultsLastError() {
  std::lock_guard<std::mutex> g(errorLock());
  return lastError();
}

}  // namespace foundation
