// Fuzz target: the device programs' command lines. Each input is a few lines:
// a line starting with "--" is a program's command line (words split at
// spaces), parsed as velmo-device parses its flags, with every positional
// word checked as a notification name; any other line is typed at a running
// Settings app (open, show, switch, set, help, anything else) on a scratch
// device made as `velmo-device init` makes one. The device's killall is
// replaced by /bin/true, so a flipped master switch ends nobody. The one
// command that names a file of the machine, `screenshot PATH`, always writes
// shot.png in the scratch device: a fuzzer that found the word must not write
// files named by its bytes all over the machine.
#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "device/console.h"
#include "device/options.h"
#include "device/programs.h"
#include "platform/dispatch/run_loop.h"
#include "platform/foundation/device.h"
#include "platform/notify/notify.h"
#include "tests/fuzz/fuzz_device.h"

namespace {

// Where `screenshot` writes, whatever path the input gave.
std::string& shotPath() {
  static std::string path;
  return path;
}

program::Console& console() {
  static auto* c = new program::Console("settings");
  return *c;
}

std::vector<std::string> split(std::string_view text, char separator) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (size_t i = 0; i <= text.size(); ++i) {
    if (i == text.size() || text[i] == separator) {
      parts.emplace_back(text.substr(start, i - start));
      start = i + 1;
    }
  }
  return parts;
}

void parseCommandLine(const std::string& line) {
  std::vector<std::string> words = split(line, ' ');
  std::vector<char*> argv;
  for (std::string& w : words) argv.push_back(w.data());
  std::string error;
  program::Options options =
      program::parseOptions(static_cast<int>(argv.size()), argv.data(), 0,
                            {"--root", "--model", "--system-version", "--passcode", "--biometry"},
                            {"--no-passcode", "--watch"}, &error);
  for (const std::string& word : options.positional) notify::nameError(word);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  dispatch::markMainThread();
  std::string root = fuzz_support::makeScratchDevice();
  // The programs answer on standard output; the fuzzer reports on standard error.
  int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
  if (null >= 0) ::dup2(null, STDOUT_FILENO);
  std::string flag = "--root";
  std::vector<char*> argv = {flag.data(), root.data()};
  std::string error;
  program::Options options = program::parseOptions(2, argv.data(), 0, {"--root"}, {}, &error);
  if (!error.empty() || program::initMain(options) != 0) {
    std::fprintf(stderr, "cannot make the fuzzing device in %s\n", root.c_str());
    std::abort();
  }
  std::error_code ec;
  std::string killall = device::devicePath("/var/jb/usr/bin/killall");
  std::filesystem::remove(killall, ec);
  std::filesystem::create_symlink("/bin/true", killall, ec);
  program::addSettingsCommands(console());
  shotPath() = root + "/shot.png";
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Each input starts from a device without settings, so that it replays alike.
  std::error_code ec;
  std::filesystem::remove(
      device::devicePath("/var/jb/var/mobile/Library/Preferences/com.qel.velmopreferences.plist"),
      ec);
  for (const std::string& line : split(fuzz_support::asText(data, size), '\n')) {
    if (line.rfind("--", 0) == 0) {
      parseCommandLine(line);
    } else if (program::splitFirst(line).first == "screenshot") {
      console().execute("screenshot " + shotPath());
    } else {
      console().execute(line);
    }
  }
  return 0;
}
