// Where the built deliverables are, relative to the velmo-device program
// (build/bin): build/lib/Velmo.dylib, build/share/Velmo.plist,
// build/share/VelmoPreferences.bundle/, build/share/PreferenceLoader/.
#pragma once

#include <string>

namespace program {

std::string buildDirectory();  // the folder above bin/

}  // namespace program
