// DeviceFiles: the phone's file system as the model serves it. A folder of
// this machine's, made for one model and removed with it, stands for the
// phone's root: the phone path "/var/jb/x" is <root>/var/jb/x. Property
// lists are read and written with libplist, so an image that reads its
// settings reads a real file.
//
// The model classes it defines:
//   NSFileManager   +defaultManager, -fileExistsAtPath:
//   NSDictionary    +dictionaryWithContentsOfFile: (nil unless the file is
//                   a property list whose top level is a dictionary)
//   NSUserDefaults  +standardUserDefaults, -objectForKey:inDomain:,
//                   -setObject:forKey:inDomain:, -synchronize; a domain is
//                   the file /var/jb/var/mobile/Library/Preferences/<domain>.plist,
//                   written at once (the preferences service's job on a phone)
//
// Used from one thread.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "tests/phone/foundation.h"
#include "tests/phone/objc_runtime.h"

namespace velmo::phone {

class DeviceFiles {
 public:
  using PlistValue = std::variant<bool, int64_t, double, std::string>;
  using PlistEntries = std::vector<std::pair<std::string, PlistValue>>;

  DeviceFiles(Runtime& runtime, Foundation& foundation);
  ~DeviceFiles();
  DeviceFiles(const DeviceFiles&) = delete;
  DeviceFiles& operator=(const DeviceFiles&) = delete;

  const std::string& root() const { return root_; }
  // The file of this machine's that stands for an absolute phone path;
  // throws for a relative path or one that climbs out with "..".
  std::string HostPath(const std::string& phone_path) const;
  static std::string DomainPath(const std::string& domain);

  // A binary property list whose top level is a dictionary of `entries`.
  void WritePlist(const std::string& phone_path, const PlistEntries& entries);
  void WriteBytes(const std::string& phone_path, const std::string& bytes);
  void Remove(const std::string& phone_path);
  bool Exists(const std::string& phone_path) const;
  // A property list's top-level dictionary; empty when there is none.
  std::map<std::string, PlistValue> ReadPlist(const std::string& phone_path) const;
  // Copies a folder of this machine's into the phone at "/".
  void Install(const std::string& host_folder);

  // The object a property-list file holds (autoreleased), or 0.
  uint64_t ReadObject(const std::string& phone_path);
  uint64_t synchronizations() const { return synchronizations_; }
  void set_synchronize_result(bool ok) { synchronize_result_ = ok; }

 private:
  uint64_t FromPlist(void* node);
  PlistValue ModelValue(uint64_t object) const;

  Runtime& rt_;
  Foundation& foundation_;
  std::string root_;
  uint64_t default_manager_ = 0, standard_defaults_ = 0;
  uint64_t synchronizations_ = 0;
  bool synchronize_result_ = true;
};

}  // namespace velmo::phone
