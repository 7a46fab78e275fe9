// NSUserDefaults with persistent domains. A domain is stored in the file
// "/var/jb/var/mobile/Library/Preferences/<domain>.plist" (binary property
// list), as the phone's preferences service keeps it.
//
// Methods: +standardUserDefaults, -objectForKey:inDomain:,
// -setObject:forKey:inDomain: (nil removes the key), -persistentDomainForName:
// (nil when the domain has no file), -setPersistentDomain:forName: (replaces
// the whole domain), -removePersistentDomainForName:, -synchronize (YES when
// every write of this process since the previous -synchronize reached its
// file; writes are never deferred, so there is nothing left to flush).
//
// Every write is read-modify-write of the domain's file under an exclusive
// lock (flock) on the lock file "<domain>.plist.lock" beside it (mode 0600,
// device::FileLock), written to a temporary file and renamed over the old one: a reader never sees
// half a file, and two writers (threads or processes) lose nothing. Reads take the file as it is on
// disk; nothing is cached. The values written are the objects given, so a boolean NSNumber is
// stored as a property-list boolean and read back as one. A write of a value a property list cannot
// hold fails and leaves the file as it was. A domain file that no longer parses is kept beside the
// new one as "<domain>.plist.damaged" before a write starts afresh. A path that is not a regular
// file (a folder, a FIFO) is neither read nor replaced: the write fails. Each write also removes
// the temporary files that writers killed mid-write left beside the domain's file
// (device::writeFileAtomically does, for every file it writes).
// A domain name that is empty, or contains "/", or is "." or "..", has no file:
// reads give nil and writes fail.
//
// The lock is waited for at most a second and a half: a writer that cannot
// have it then (another process holds it: stuck, stopped, or anyone who
// opened the lock file) writes nothing and fails with kDomainBusy.
//
// Thread safety: all methods are safe from any thread.
#pragma once

#include <string>

#include "platform/objc/nsobject.h"

namespace foundation {

Class userDefaultsClass();

// The reason a write failed that could not have its domain's lock in time
// (userDefaultsLastError() is "user defaults: " and this).
inline constexpr char kDomainBusy[] = "the domain is busy: another process holds its lock";

// The device path ("/var/jb/...") of a domain's file; "" for a bad name.
std::string preferencesPath(const std::string& domain);
// What the last failed write said, or "" when none failed yet.
std::string userDefaultsLastError();
// How many writes of this process have failed so far. A caller that compares
// the count before and after a change learns whether the change was saved,
// even when it went through code that reports nothing (a settings pane).
unsigned long userDefaultsFailedWrites();

}  // namespace foundation
