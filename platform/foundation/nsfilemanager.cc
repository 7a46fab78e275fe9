#include "platform/foundation/nsfilemanager.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "platform/foundation/collections.h"
#include "platform/foundation/device.h"
#include "platform/foundation/nsnumber.h"
#include "platform/foundation/nsstring.h"
#include "platform/foundation/plist.h"

namespace foundation {
namespace {

namespace fs = std::filesystem;

// The device path of a path argument; "" for nil or an object that is no string.
std::string realPath(id path) {
  if (!isString(path)) return "";
  std::string text = stdString(path);
  return text.empty() ? "" : device::devicePath(text);
}

void report(id* error, const std::string& message) {
  if (error != nullptr) *error = makeString(message);
}

// The object stored in the file at `path` when it is of class `cls`, autoreleased.
id contentsOfFile(id path, Class cls) {
  std::string real = realPath(path);
  if (real.empty()) return nullptr;
  plist::Result read = plist::readFile(real);
  if (!read.value || !msg<BOOL>(read.value, "isKindOfClass:"_sel, cls)) return nullptr;
  return read.value.autorelease();
}

BOOL writeToFile(id self, id path) {
  std::string real = realPath(path);
  return !real.empty() && plist::writeFile(real, self).empty();
}

Class defineFileManager() {
  Class cls = objc::defineClass<NSObject>("NSFileManager", objc::nsobjectClass());
  addClassMethod(
      cls, "defaultManager"_sel, +[](id self, SEL) -> id {
        static id shared = [self] {
          id manager = class_createInstance(static_cast<Class>(self));
          objc_makeImmortal(manager);
          return manager;
        }();
        return shared;
      });
  addMethod(
      cls, "fileExistsAtPath:"_sel, +[](id, SEL, id path) -> BOOL {
        std::string real = realPath(path);
        struct stat st;
        return !real.empty() && ::stat(real.c_str(), &st) == 0;
      });
  addMethod(
      cls, "attributesOfItemAtPath:error:"_sel, +[](id, SEL, id path, id* error) -> id {
        std::string real = realPath(path);
        struct stat st;
        if (real.empty()) {
          report(error, "no path given");
          return nullptr;
        }
        if (::stat(real.c_str(), &st) != 0) {
          report(error, stdString(path) + ": " + std::strerror(errno));
          return nullptr;
        }
        Strong<NSDictionary> attributes = newDictionary(/*mutable_=*/true);
        msg<void>(attributes, "setObject:forKey:"_sel, integerNumber(st.st_size), "NSFileSize"_ns);
        id type = S_ISDIR(st.st_mode)   ? "NSFileTypeDirectory"_ns
                  : S_ISREG(st.st_mode) ? "NSFileTypeRegular"_ns
                                        : "NSFileTypeUnknown"_ns;
        msg<void>(attributes, "setObject:forKey:"_sel, type, "NSFileType"_ns);
        return attributes.autorelease();
      });
  addMethod(
      cls, "removeItemAtPath:error:"_sel, +[](id, SEL, id path, id* error) -> BOOL {
        std::string real = realPath(path);
        std::error_code ec;
        if (real.empty() || fs::remove_all(real, ec) == 0 || ec) {
          report(error, stdString(path) + ": " + (ec ? ec.message() : "no such file"));
          return NO;
        }
        return YES;
      });
  addMethod(
      cls, "createDirectoryAtPath:withIntermediateDirectories:attributes:error:"_sel,
      +[](id, SEL, id path, BOOL intermediate, id, id* error) -> BOOL {
        std::string real = realPath(path);
        std::error_code ec;
        if (real.empty()) {
          report(error, "no path given");
          return NO;
        }
        if (intermediate) {
          fs::create_directories(real, ec);
        } else {
          fs::create_directory(real, ec);
        }
        if (ec) {
          report(error, stdString(path) + ": " + ec.message());
          return NO;
        }
        return YES;
      });
  return cls;
}

void addCollectionFileMethods() {
  addClassMethod(
      dictionaryClass(), "dictionaryWithContentsOfFile:"_sel,
      +[](id, SEL, id path) -> id { return contentsOfFile(path, dictionaryClass()); });
  addClassMethod(
      arrayClass(), "arrayWithContentsOfFile:"_sel,
      +[](id, SEL, id path) -> id { return contentsOfFile(path, arrayClass()); });
  addMethod(
      dictionaryClass(), "writeToFile:atomically:"_sel,
      +[](id self, SEL, id path, BOOL) -> BOOL { return writeToFile(self, path); });
  addMethod(
      arrayClass(), "writeToFile:atomically:"_sel,
      +[](id self, SEL, id path, BOOL) -> BOOL { return writeToFile(self, path); });
}

[[maybe_unused]] const bool kRegistered = [] {
  fileManagerClass();
  addCollectionFileMethods();
  return true;
}();

}  // namespace

Class fileManagerClass() {
  static Class cls = defineFileManager();
  return cls;
}

}  // namespace foundation
