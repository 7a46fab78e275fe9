#include "platform/tcc/daemon.h"

#include <filesystem>
#include <initializer_list>
#include <system_error>

#include "platform/foundation/device.h"
#include "platform/foundation/plist.h"

namespace tcc {
namespace {

struct DefaultList {
  const char* service;
  std::initializer_list<const char*> identifiers;
};

// The services the daemon knows and the apps each allows from the start.
const DefaultList kDefaults[] = {
    {"kTCCServiceFaceID", {"com.apple.mobilesafari", "com.apple.Passbook"}},
    {"kTCCServiceCamera", {"com.apple.camera"}},
    {"kTCCServicePhotos", {"com.apple.camera", "com.apple.mobileslideshow"}},
    {"kTCCServiceMicrophone", {"com.apple.VoiceMemos"}},
};

std::string describe(TCCDService* service) {
  std::string line = "service " + foundation::stdString(msg<id>(service, "name"_sel)) + ":";
  id list = msg<id>(service, "defaultAllowedIdentifiersList"_sel);
  const char* separator = " ";
  if (foundation::isArray(list)) {
    for (const auto& identifier : static_cast<NSArray*>(list)->items) {
      line += separator + foundation::stdString(identifier);
      separator = ",";
    }
  }
  return line;
}

std::string publish(const std::vector<Strong<TCCDService>>& services) {
  Strong<NSDictionary> lists = foundation::newDictionary(/*mutable_=*/true);
  for (const auto& service : services) {
    id name = msg<id>(service, "name"_sel);
    id list = msg<id>(service, "defaultAllowedIdentifiersList"_sel);
    if (name == nullptr) continue;
    Strong<NSArray> empty;
    if (list == nullptr) {
      empty = foundation::newArray();
      list = empty;
    }
    msg<void>(lists, "setObject:forKey:"_sel, list, name);
  }
  std::string path = device::devicePath(kAllowListsPath);
  std::error_code ec;
  std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ec);
  if (ec) return "cannot create the folder of " + path + ": " + ec.message();
  return plist::writeFile(path, lists);
}

}  // namespace

Daemon startDaemon() {
  objc::AutoreleasePool pool;
  registerClasses();
  Daemon daemon;
  for (const DefaultList& entry : kDefaults) {
    Strong<TCCDService> service = newService(entry.service);
    Strong<NSArray> list = foundation::newArray();
    for (const char* identifier : entry.identifiers) {
      list->items.emplace_back(foundation::makeString(identifier));
    }
    msg<void>(service, "setDefaultAllowedIdentifiersList:"_sel, list.get());
    daemon.lines.push_back(describe(service));
    daemon.services.push_back(std::move(service));
  }
  daemon.error = publish(daemon.services);
  return daemon;
}

}  // namespace tcc
