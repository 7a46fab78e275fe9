#include "settings-pane/photos_restart.h"

#include "runtime/dispatch.h"
#include "runtime/spawn.h"

namespace vlp {

void startKillall() {
  pid_t pid = 0;
  const char* argv[] = {"killall", "-9", "MobileSlideShow", nullptr};
  int status = posix_spawn(&pid, "/var/jb/usr/bin/killall", nullptr, nullptr,
                           const_cast<char* const*>(argv), nullptr);
  if (status != 0) return;
  dispatch_async(dispatch_get_global_queue(0, 0), makeBlock<void()>([pid] {
                   while (waitpid(pid, nullptr, 0) < 0 && lastError() == kInterrupted) {
                   }
                 }));
}

}  // namespace vlp
