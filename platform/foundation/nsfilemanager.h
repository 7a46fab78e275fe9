// NSFileManager: +defaultManager, -fileExistsAtPath:,
// -attributesOfItemAtPath:error: (a dictionary with "NSFileSize" as an
// NSNumber and "NSFileType", "NSFileTypeRegular" or "NSFileTypeDirectory";
// nil when there is no such file), -removeItemAtPath:error: and
// -createDirectoryAtPath:withIntermediateDirectories:attributes:error:.
// Paths are the system's ("/var/jb/..."), placed under the device root.
//
// The error: argument is an `id*` (pass static_cast<id*>(nullptr) when the
// caller does not want it); on failure it receives an autoreleased NSString
// that says what went wrong (the device has no NSError).
//
// NSDictionary gains +dictionaryWithContentsOfFile: (nil when the file is
// missing, larger than plist::kMaxFileSize, not a property list, or its top
// level is no dictionary), NSArray +arrayWithContentsOfFile: (the same for an
// array), and both -writeToFile:atomically: (a binary property list, always
// written atomically; NO when the folder is missing or a value cannot be
// stored).
//
// Thread safety: safe from any thread.
#pragma once

#include "platform/objc/nsobject.h"

namespace foundation {
Class fileManagerClass();
}  // namespace foundation
