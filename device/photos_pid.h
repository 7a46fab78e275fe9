// The running Photos app of a device, as the device's process registry
// (process_registry.h) knows it, so that the Settings app can say what became
// of it after a restart. The Photos program registers itself while it runs
// and unregisters when it ends normally; a process killed by a signal leaves
// its entry behind, which the registry tells from a running one by the
// process's start time.
//
// Thread safety: the device root must be set first; no shared state.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>

namespace program {

// Registers this process as the device's MobileSlideShow.
std::string recordPhotosPid();  // "" or why it could not be
// Removes this process's registration.
void forgetPhotosPid();
// The Photos app running on this device, if any: a registered
// MobileSlideShow that runs this very program for this device's root.
std::optional<pid_t> runningPhotos();
// Waits up to `timeout_ms` for the process to end (gone, or a zombie that its
// parent has not reaped yet); returns whether it did.
bool waitForProcessEnd(pid_t pid, int timeout_ms);

}  // namespace program
