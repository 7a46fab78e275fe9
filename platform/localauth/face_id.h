// Whether an authentication prompt of this process may offer Face ID.
//
// All three must hold, as on the phone:
//   - the device's biometry is Face ID (device.plist "biometry" = "face");
//   - the main bundle's information dictionary, asked through the runtime
//     (so replacements of -infoDictionary apply), holds a string under
//     "NSFaceIDUsageDescription";
//   - the privacy daemon's allow list for "kTCCServiceFaceID" holds the main
//     bundle's identifier. The daemon keeps its allow lists in the property
//     list "/var/db/TCC/allowlists.plist" on the device: a dictionary from
//     service name to an array of bundle identifiers.
// A missing or unreadable allow-list file, or a process without a main
// bundle, means no Face ID.
//
// Thread safety: safe from any thread.
#pragma once

#include <string>

namespace localauth {

inline constexpr char kAllowListsPath[] = "/var/db/TCC/allowlists.plist";
inline constexpr char kFaceIdService[] = "kTCCServiceFaceID";
inline constexpr char kFaceIdUsageKey[] = "NSFaceIDUsageDescription";

bool faceIdOffered();

}  // namespace localauth
