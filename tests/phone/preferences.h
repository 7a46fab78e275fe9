// Preferences.framework as the settings pane uses it: PSListController (a
// view controller with the instance variable _specifiers, which it releases
// in -dealloc) and PSSpecifier. Specifiers are loaded from the property list
// <bundle>/<name>.plist in the phone's files, its "items" each becoming a
// specifier with that item's properties; a stored value goes to the
// specifier's "defaults" domain under its "key" through NSUserDefaults, as
// the framework does. What the base class was asked is recorded. Used from
// one thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tests/phone/device_files.h"
#include "tests/phone/foundation.h"
#include "tests/phone/objc_runtime.h"

namespace velmo::phone {

class Preferences {
 public:
  struct Load {
    std::string name;
    uint64_t target = 0;
  };
  struct Stored {
    uint64_t value = 0, specifier = 0;  // as passed (not kept alive)
  };

  Preferences(Runtime& runtime, Foundation& foundation, DeviceFiles& files);

  // The bundle whose property lists are loaded.
  void set_bundle_path(const std::string& path) { bundle_path_ = path; }
  // -[PSListController init] returns nil from now on, as a base class may.
  void set_init_fails(bool fails) { init_fails_ = fails; }

  const std::vector<Load>& loads() const { return loads_; }
  const std::vector<Stored>& stored() const { return stored_; }
  int view_did_load_calls() const { return view_did_load_calls_; }
  // tableView:cellForRowAtIndexPath: calls that reached the base class, and
  // the cells it returned.
  const std::vector<uint64_t>& cells() const { return cells_; }
  uint64_t specifiers_offset() const { return specifiers_offset_; }

 private:
  Runtime& rt_;
  Foundation& foundation_;
  DeviceFiles& files_;
  std::string bundle_path_ = "/var/jb/Library/PreferenceBundles/VelmoPreferences.bundle";
  bool init_fails_ = false;
  uint64_t specifiers_offset_ = 0;
  std::vector<Load> loads_;
  std::vector<Stored> stored_;
  std::vector<uint64_t> cells_;
  int view_did_load_calls_ = 0;
};

}  // namespace velmo::phone
