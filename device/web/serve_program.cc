// velmo-device serve: the phone in a browser. It makes the device when the
// folder holds none (with init's flags), runs the device's programs as child
// processes and serves the page on 127.0.0.1 until Ctrl-C or SIGTERM, then
// ends every program it started.
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <charconv>
#include <ctime>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "device/child_process.h"
#include "device/console.h"
#include "device/install_paths.h"
#include "device/programs.h"
#include "device/web/device_session.h"
#include "device/web/web_server.h"
#include "platform/foundation/device.h"

namespace program {
namespace {

namespace fs = std::filesystem;

constexpr int kDefaultPort = 8765;
// The flags that only shape a new device.
const char* const kInitFlags[] = {"--model", "--system-version", "--passcode", "--biometry",
                                  "--no-passcode"};

bool parsePort(const std::string& text, int* port) {
  const char* end = text.data() + text.size();
  auto [rest, error] = std::from_chars(text.data(), end, *port);
  return !text.empty() && error == std::errc() && rest == end && *port >= 0 && *port <= 65535;
}

// Runs `velmo-device init` on `root` with the init flags given to serve.
bool makeDevice(const std::string& self, const std::string& root, const Options& options) {
  std::vector<std::string> argv = {self, "init", "--root", root};
  for (const char* flag : kInitFlags) {
    if (!options.has(flag)) continue;
    argv.push_back(flag);
    if (std::string(flag) != "--no-passcode") argv.push_back(options.get(flag));
  }
  std::string output;
  int status = runProgram(argv, &output);
  while (!output.empty() && output.back() == '\n') output.pop_back();
  print(output);
  return status == 0;
}

}  // namespace

int serveMain(const Options& options) {
  std::string root = options.get("--root");
  if (root.empty()) {
    print("error: --root DIR is required");
    return 2;
  }
  if (!options.positional.empty()) {
    print("error: unexpected \"" + options.positional.front() + "\"");
    return 2;
  }
  int port = kDefaultPort;
  if (options.has("--port") && !parsePort(options.get("--port"), &port)) {
    print("error: --port must be a number from 0 to 65535 (0: any free port)");
    return 2;
  }
  std::error_code ec;
  std::string self = fs::read_symlink("/proc/self/exe", ec).string();
  if (!fs::exists(fs::path(root) / "device.plist", ec)) {
    if (!makeDevice(self, root, options)) return 1;
  } else {
    for (const char* flag : kInitFlags) {
      if (options.has(flag)) {
        print(std::string("note: ") + root + " holds a device already; " + flag +
              " shapes only a new one");
      }
    }
  }
  std::string absolute = fs::absolute(root).lexically_normal().string();
  while (absolute.size() > 1 && absolute.back() == '/') absolute.pop_back();
  device::setRoot(absolute);

  // Ctrl-C and SIGTERM are taken by one thread, which stops the server; every
  // other thread, made after this, keeps them blocked. A program gone away
  // mid-command must not end the server with SIGPIPE.
  sigset_t stop_signals;
  sigemptyset(&stop_signals);
  sigaddset(&stop_signals, SIGINT);
  sigaddset(&stop_signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);
  signal(SIGPIPE, SIG_IGN);

  std::string scratch;
  try {
    scratch = makeTempDirectory("velmo-serve");
  } catch (const std::exception& e) {
    print(std::string("error: ") + e.what());
    return 1;
  }
  int code = 0;
  {
    web::DeviceSession session(self, absolute, scratch);
    web::WebServer server(session, buildDirectory() + "/share/web");
    std::string error;
    int bound = server.bind(port, &error);
    if (bound < 0) {
      print("error: " + error);
      code = 1;
    } else {
      session.start();
      print("serving the device " + root + " at http://127.0.0.1:" + std::to_string(bound) +
            "/ (Ctrl-C ends it)");
      std::atomic<bool> done{false};
      std::thread signals([&] {
        const timespec slice{0, 200 * 1000 * 1000};
        bool stopping = false;
        while (!done) {
          if (stopping) {
            // A stop that came before the server was listening did nothing:
            // it is asked again until run() returns.
            server.stop();
            nanosleep(&slice, nullptr);
            continue;
          }
          int got = sigtimedwait(&stop_signals, nullptr, &slice);
          if (got == SIGINT || got == SIGTERM) {
            print(std::string("stopping (") + (got == SIGINT ? "SIGINT" : "SIGTERM") + ")");
            server.stop();
            stopping = true;
          }
        }
      });
      server.run();
      done = true;
      signals.join();
    }
    session.stop();
  }
  removeTree(scratch);
  if (code == 0) print("stopped; every program of the device has ended");
  return code;
}

}  // namespace program
