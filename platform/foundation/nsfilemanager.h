// NSFileManager: +defaultManager, -fileExistsAtPath:,
// -attributesOfItemAtPath:error: (a dictionary with "NSFileSize" as an
// NSNumber, nil when there is no such file). Paths are the system's
// ("/var/jb/..."), placed under the device root.
//
// NSDictionary gains +dictionaryWithContentsOfFile: (nil when the file is
// missing, larger than plist::kMaxFileSize, not a property list, or its top
// level is no dictionary).
//
// Thread safety: safe from any thread.
#pragma once

#include "platform/objc/nsobject.h"

namespace foundation {
Class fileManagerClass();
}  // namespace foundation
