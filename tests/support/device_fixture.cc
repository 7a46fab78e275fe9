#include "tests/support/device_fixture.h"

#include <openssl/evp.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

namespace testing_support {
namespace {

// The programs a test starts inherit the sanitizer's suppressions: Fontconfig,
// which Pango uses, keeps its configuration for the life of a process.
[[maybe_unused]] const bool kSuppressionsForChildren = [] {
  setenv("LSAN_OPTIONS", "suppressions=" VELMO_SOURCE_DIR "/tests/lsan.supp:print_suppressions=0",
         /*overwrite=*/0);
  return true;
}();

}  // namespace

std::string binDirectory() {
  const char* bin = std::getenv("VELMO_BIN");
  if (bin != nullptr && *bin != '\0') return bin;
  // Run by hand: the programs are built next to the test program.
  std::error_code ec;
  return std::filesystem::read_symlink("/proc/self/exe", ec).parent_path().string();
}

std::string builtPackage() { return binDirectory() + "/../packages/" VELMO_PACKAGE_FILE; }

void DeviceTest::TearDown() {
  if (!root_.empty()) removeTree(root_);
}

void DeviceTest::initDevice(const std::vector<std::string>& flags) {
  root_ = makeTempDirectory("velmo-device");
  std::vector<std::string> argv = {program(), "init", "--root", root_};
  argv.insert(argv.end(), flags.begin(), flags.end());
  std::string output;
  ASSERT_EQ(runProgram(argv, &output), 0) << output;
}

void DeviceTest::initDeviceInMemory(const std::vector<std::string>& flags) {
  std::error_code ec;
  if (!std::filesystem::is_directory("/dev/shm", ec) || access("/dev/shm", W_OK) != 0) {
    initDevice(flags);
    return;
  }
  std::string pattern = "/dev/shm/velmo-device-XXXXXX";
  ASSERT_NE(mkdtemp(pattern.data()), nullptr);
  root_ = pattern;
  std::vector<std::string> argv = {program(), "init", "--root", root_};
  argv.insert(argv.end(), flags.begin(), flags.end());
  std::string output;
  ASSERT_EQ(runProgram(argv, &output), 0) << output;
}

std::string DeviceTest::settingsPath() const {
  return root_ + "/var/jb/var/mobile/Library/Preferences/com.qel.velmopreferences.plist";
}

void DeviceTest::writeSettingsText(const std::string& text) {
  std::filesystem::create_directories(std::filesystem::path(settingsPath()).parent_path());
  std::string temp = settingsPath() + ".test";
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    out << text;
  }
  std::filesystem::rename(temp, settingsPath());
}

void DeviceTest::writeSettings(const std::map<std::string, std::string>& values) {
  std::string text =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>\n";
  for (const auto& [key, value] : values) text += "<key>" + key + "</key>" + value + "\n";
  text += "</dict>\n</plist>\n";
  writeSettingsText(text);
}

void DeviceTest::removeSettings() { std::filesystem::remove(settingsPath()); }

std::unique_ptr<DeviceProcess> DeviceTest::start(const std::string& name) {
  return std::make_unique<DeviceProcess>(
      std::vector<std::string>{program(), name, "--root", root_});
}

void DeviceTest::postChanged() {
  std::string output;
  ASSERT_EQ(runProgram({program(), "notify", "--root", root_, "com.qel.velmopreferences/changed"},
                       &output),
            0)
      << output;
}

void DeviceTest::advanceClock(const std::string& step) {
  std::string output;
  ASSERT_EQ(runProgram({program(), "clock", "--root", root_, "advance", step}, &output), 0)
      << output;
}

std::map<std::string, std::string> vars(DeviceProcess& p) {
  std::map<std::string, std::string> out;
  for (const std::string& line : p.command("vars")) {
    if (line.rfind("var ", 0) != 0) continue;
    std::string rest = line.substr(4);
    size_t space = rest.find(' ');
    out[rest.substr(0, space)] = space == std::string::npos ? "" : rest.substr(space + 1);
  }
  return out;
}

std::vector<std::string> hooks(DeviceProcess& p) {
  std::vector<std::string> out;
  for (const std::string& line : p.command("hooks")) {
    if (line.rfind("hook ", 0) == 0) out.push_back(line);
  }
  return out;
}

std::map<std::string, std::string> enabledWith(std::map<std::string, std::string> values) {
  values["enabled"] = "<true/>";
  return values;
}

Lines answer(DeviceProcess& p, const std::string& command) { return body(p.command(command)); }

void waitReady(DeviceProcess& p) {
  Lines help = p.command("help");
  ASSERT_FALSE(help.empty());
  ASSERT_EQ(help.back(), "ok") << "the program did not answer help";
}

std::string where(DeviceProcess& p) {
  std::string joined;
  for (const std::string& line : answer(p, "where")) joined += (joined.empty() ? "" : " | ") + line;
  return joined;
}

int soakFactor() {
  const char* text = std::getenv("VELMO_SOAK_FACTOR");
  int factor = text != nullptr ? std::atoi(text) : 1;
  return factor > 0 ? factor : 1;
}

bool waitUntil(const std::function<bool()>& done, int timeout_ms) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  while (!done()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

std::vector<pid_t> childrenOf(pid_t pid) {
  std::vector<pid_t> children;
  std::error_code ec;
  for (const auto& task :
       std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/task", ec)) {
    std::ifstream in(task.path() / "children");
    pid_t child;
    while (in >> child) children.push_back(child);
  }
  return children;
}

void DeviceTest::replaceKillall(const std::string& name) {
  const std::string killall = root_ + "/var/jb/usr/bin/killall";
  std::filesystem::remove(killall);  // never copy through a link left there
  std::filesystem::copy_file(binDirectory() + "/" + name, killall);
  recordKillall();
}

void DeviceTest::recordKillall() {
  const std::string killall = root_ + "/var/jb/usr/bin/killall";
  std::ifstream in(killall, std::ios::binary);
  std::stringstream bytes;
  bytes << in.rdbuf();
  const std::string data = bytes.str();
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  ASSERT_EQ(EVP_Digest(data.data(), data.size(), digest, &length, EVP_sha256(), nullptr), 1);
  std::string hex;
  for (unsigned int i = 0; i < length; ++i) {
    hex += "0123456789abcdef"[digest[i] >> 4];
    hex += "0123456789abcdef"[digest[i] & 15];
  }
  std::filesystem::create_directories(root_ + "/var/db");
  std::ofstream(root_ + "/var/db/system-programs") << hex << "  /var/jb/usr/bin/killall\n";
}

}  // namespace testing_support
