// NSUserDefaults with persistent domains. A domain is stored in the file
// "/var/jb/var/mobile/Library/Preferences/<domain>.plist" (binary property
// list), as the phone's preferences service keeps it.
//
// Methods: +standardUserDefaults, -objectForKey:inDomain:,
// -setObject:forKey:inDomain: (nil removes the key), -persistentDomainForName:,
// -synchronize (YES when every write so far reached the file).
//
// Every write is read-modify-write of the domain's file under an exclusive
// lock on a lock file beside it, written to a temporary file and renamed over
// the old one: a reader never sees half a file, and two writers (threads or
// processes) lose nothing. Reads take the file as it is on disk.
//
// Thread safety: all methods are safe from any thread.
#pragma once

#include "platform/objc/nsobject.h"

namespace foundation {
Class userDefaultsClass();
}  // namespace foundation
