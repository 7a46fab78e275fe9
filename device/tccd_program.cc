// velmo-device tccd: the privacy daemon. It lets the hooking runtime load its
// libraries, creates its services, prints their allow lists, and serves
// (hooks, vars) until its input closes.
#include <unistd.h>

#include "device/console.h"
#include "device/process_registry.h"
#include "device/programs.h"
#include "device/tweak_state.h"
#include "platform/dispatch/run_loop.h"
#include "platform/foundation/device.h"
#include "platform/tcc/daemon.h"

namespace program {

int tccdMain(const Options& options) {
  dispatch::markMainThread();
  if (std::string e = useRoot(options); !e.empty()) {
    print("error: " + e);
    return 2;
  }
  tcc::registerClasses();
  for (const std::string& e : loadTweaks("tccd")) print("error: " + e);
  auto started = tcc::startDaemon();
  if (!started.error.empty()) {
    print("error: " + started.error);
    return 1;
  }
  for (const std::string& line : started.lines) print(line);

  Console console("tccd");
  console.addListing("services", "the services' allow lists", [&] { return started.lines; });
  console.addListing("hooks", "the hooks installed in this process", hookLines);
  console.addListing("vars", "the tweak's exported variables", varLines);
  console.addQuit("stop the daemon");
  if (std::string e = registerProcess(device::root(), "tccd"); !e.empty()) {
    print("error: " + e);
    return 2;
  }
  int code = console.run();
  unregisterProcess(device::root());
  return code;
}

}  // namespace program
