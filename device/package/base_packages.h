// The packages the device comes with, which `velmo-device init` records as
// its jailbreak's bootstrap does (device/init_program.cc): the hooking
// runtime, the Settings app's loader of preference bundles and the phone's
// command-line tools, killall among them. Their names are reserved: no
// package file may claim one, and none of them is ever removed.
//
// Thread safety: constants only.
#pragma once

#include <string>

namespace package {

inline constexpr const char* kBasePackages[] = {"mobilesubstrate", "preferenceloader",
                                                "shell-cmds"};

inline bool isBasePackage(const std::string& name) {
  for (const char* base : kBasePackages) {
    if (name == base) return true;
  }
  return false;
}

}  // namespace package
