// Where the built deliverables are, relative to the velmo-device program
// (build/bin): build/device-runtime/var/jb/usr/lib/ with the phone's hooking
// runtime, and the package
// build/packages/com.qel.velmo_<version>_<arch>.deb that `make package` makes.
#pragma once

#include <string>

namespace program {

std::string buildDirectory();  // the folder above bin/
std::string builtPackage();    // the package file's real path

}  // namespace program
