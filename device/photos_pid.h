// The running Photos app of a device, as its program records it, so that the
// Settings app can say what became of it after a restart: while it runs, the
// Photos program keeps its process id in /var/run/MobileSlideShow.pid under
// the device root, and removes the file when it ends normally. A process
// killed by a signal leaves the file behind, so a reader checks that the
// process it names still runs as MobileSlideShow.
//
// Thread safety: the device root must be set first; no shared state.
#pragma once

#include <sys/types.h>

#include <optional>

namespace program {

// Writes this process's id into the device's pid file.
void recordPhotosPid();
// Removes the pid file, if it still names this process.
void forgetPhotosPid();
// The Photos app running on this device, if any.
std::optional<pid_t> runningPhotos();
// Waits up to `timeout_ms` for the process to end (gone, or a zombie that its
// parent has not reaped yet); returns whether it did.
bool waitForProcessEnd(pid_t pid, int timeout_ms);

}  // namespace program
