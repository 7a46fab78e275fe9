#include "device/web/scratch_folder.h"

#include <dirent.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "platform/foundation/device.h"

namespace web {
namespace {

constexpr const char* kPrefix = "velmo-serve-";
constexpr size_t kRandomChars = 6;  // mkdtemp's XXXXXX
constexpr const char* kOwnerFile = "owner";

// Only what mkdtemp makes: the prefix, then six letters or digits. Other
// folders that merely start alike (a test's velmo-serve-test-...) are not ours.
bool isScratchName(const std::string& name) {
  if (name.size() != std::string(kPrefix).size() + kRandomChars || name.rfind(kPrefix, 0) != 0) {
    return false;
  }
  for (size_t i = name.size() - kRandomChars; i < name.size(); ++i) {
    char c = name[i];
    if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))) {
      return false;
    }
  }
  return true;
}

// "pid 123\nstart 456\n" -> 123 and 456.
bool readOwner(const std::string& folder, pid_t* pid, unsigned long long* start) {
  std::ifstream in(folder + "/" + kOwnerFile);
  std::string pid_word, start_word;
  long long pid_value = 0;
  if (!(in >> pid_word >> pid_value >> start_word >> *start)) return false;
  if (pid_word != "pid" || start_word != "start" || pid_value <= 0) return false;
  *pid = static_cast<pid_t>(pid_value);
  return true;
}

}  // namespace

std::string makeScratchFolder(const std::string& parent, std::string* error) {
  std::string pattern = parent + "/" + kPrefix + "XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) {
    *error = "cannot make a folder in " + parent;
    return "";
  }
  std::optional<unsigned long long> start = device::processStartTime(getpid());
  std::string record = pattern + "/" + kOwnerFile;
  // Written whole under another name, then renamed: a serve sweeping at this
  // moment sees no record, or the whole one.
  {
    std::ofstream out(record + ".new");
    out << "pid " << getpid() << "\nstart " << start.value_or(0) << "\n";
    if (!start || !out.flush()) {
      *error = "cannot record the owner of " + pattern;
      std::filesystem::remove_all(pattern);
      return "";
    }
  }
  if (std::rename((record + ".new").c_str(), record.c_str()) != 0) {
    *error = "cannot record the owner of " + pattern;
    std::filesystem::remove_all(pattern);
    return "";
  }
  return pattern;
}

int removeStaleScratchFolders(const std::string& parent) {
  DIR* dir = opendir(parent.c_str());
  if (dir == nullptr) return 0;
  int removed = 0;
  while (dirent* entry = readdir(dir)) {
    std::string name = entry->d_name;
    if (!isScratchName(name)) continue;
    std::string folder = parent + "/" + name;
    // A real folder of this user's, never a link to somewhere else.
    struct stat info {};
    if (lstat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != geteuid()) {
      continue;
    }
    pid_t pid = 0;
    unsigned long long start = 0;
    if (!readOwner(folder, &pid, &start)) continue;
    std::optional<unsigned long long> now = device::processStartTime(pid);
    if (now && *now == start) continue;  // its serve runs
    std::error_code ec;
    std::filesystem::remove_all(folder, ec);
    if (!ec) ++removed;
  }
  closedir(dir);
  return removed;
}

}  // namespace web
