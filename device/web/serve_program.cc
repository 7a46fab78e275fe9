// velmo-device serve: the phone in a browser. It makes the device when the
// folder holds none (with init's flags), runs the device's programs as child
// processes and serves the page on 127.0.0.1 until Ctrl-C, SIGTERM or SIGHUP
// (its terminal closed), then ends every program it started and removes its
// private folder. A folder left by a serve that was killed outright is
// removed by the next serve (see scratch_folder.h).
//
// Two timeouts can be shortened for tests, in milliseconds, through the
// environment: VELMO_SERVE_ANSWER_MS, how long a program may take to answer
// a command before it is marked not answering (8000), and
// VELMO_SERVE_REQUEST_MS, how long a client may take to send a whole
// request (10000).
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <charconv>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "device/child_process.h"
#include "device/console.h"
#include "device/install_paths.h"
#include "device/programs.h"
#include "device/web/device_session.h"
#include "device/web/scratch_folder.h"
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

// A duration in milliseconds from the environment variable `name`, or
// `fallback` when it is not set; false when it is set but not a number of
// milliseconds from 100 to 600000.
bool durationFromEnvironment(const char* name, std::chrono::milliseconds fallback,
                             std::chrono::milliseconds* out) {
  const char* text = std::getenv(name);
  *out = fallback;
  if (text == nullptr) return true;
  std::string value = text;
  long long ms = 0;
  auto [rest, error] = std::from_chars(value.data(), value.data() + value.size(), ms);
  if (value.empty() || error != std::errc() || rest != value.data() + value.size() || ms < 100 ||
      ms > 600000) {
    return false;
  }
  *out = std::chrono::milliseconds(ms);
  return true;
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
  web::DeviceSession::Options session_options;
  web::WebServer::Options server_options;
  for (auto [name, fallback, out] :
       {std::tuple{"VELMO_SERVE_ANSWER_MS", session_options.answer_timeout,
                   &session_options.answer_timeout},
        std::tuple{"VELMO_SERVE_REQUEST_MS", server_options.request_timeout,
                   &server_options.request_timeout}}) {
    if (!durationFromEnvironment(name, fallback, out)) {
      print(std::string("error: ") + name + " must be a number of milliseconds from 100 to 600000");
      return 2;
    }
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

  // Ctrl-C, SIGTERM and SIGHUP are taken by one thread, which stops the
  // server; every other thread, made after this, keeps them blocked. A
  // program gone away mid-command must not end the server with SIGPIPE.
  sigset_t stop_signals;
  sigemptyset(&stop_signals);
  sigaddset(&stop_signals, SIGINT);
  sigaddset(&stop_signals, SIGTERM);
  sigaddset(&stop_signals, SIGHUP);
  pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);
  signal(SIGPIPE, SIG_IGN);

  std::string temp = fs::temp_directory_path(ec).string();
  if (temp.empty()) temp = "/tmp";
  web::removeStaleScratchFolders(temp);
  std::string error;
  std::string scratch = web::makeScratchFolder(temp, &error);
  if (scratch.empty()) {
    print("error: " + error);
    return 1;
  }
  int code = 0;
  {
    web::DeviceSession session(self, absolute, scratch, session_options);
    web::WebServer server(session, buildDirectory() + "/share/web", server_options);
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
          if (got == SIGINT || got == SIGTERM || got == SIGHUP) {
            print(std::string("stopping (SIG") + sigabbrev_np(got) + ")");
            // Actions waiting on a program give up, so that the server's
            // threads are free to end.
            session.beginStop();
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
