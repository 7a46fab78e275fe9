#include "device/package/dpkg_database.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <sstream>

#include "platform/foundation/device.h"

namespace package {
namespace {

constexpr size_t kMaxRecordSize = 16 << 20;

bool readRecord(const std::string& real_path, std::vector<std::string>* paths) {
  std::string text;
  if (!device::readWholeFile(real_path, kMaxRecordSize, &text).empty()) return false;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty()) paths->push_back(line);
  }
  return true;
}

}  // namespace

std::string infoFile(const std::string& package, const std::string& kind) {
  return device::devicePath(std::string(kInfoFolder) + "/" + package + "." + kind);
}

bool validPackageName(const std::string& name) {
  if (name.size() < 2 ||
      !((name[0] >= 'a' && name[0] <= 'z') || (name[0] >= '0' && name[0] <= '9')))
    return false;
  for (char c : name) {
    bool ok = (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.';
    if (!ok) return false;
  }
  return true;
}

std::map<std::string, std::string> parseControl(const std::string& text) {
  std::map<std::string, std::string> fields;
  std::string current;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (line.empty()) break;  // one paragraph: the binary package's
    if (line[0] == ' ' || line[0] == '\t') {
      if (!current.empty()) fields[current] += "\n" + line.substr(1);
      continue;
    }
    size_t colon = line.find(':');
    if (colon == std::string::npos) continue;
    current = line.substr(0, colon);
    size_t value = line.find_first_not_of(" \t", colon + 1);
    fields[current] = value == std::string::npos ? "" : line.substr(value);
  }
  return fields;
}

std::string readControl(const std::string& text, std::map<std::string, std::string>* fields) {
  std::map<std::string, std::string> lower_names;  // "package" -> "Package", as first written
  std::istringstream in(text);
  bool ended = false;  // the paragraph's blank line was read
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.find_first_not_of(" \t") == std::string::npos) {
      ended = !lower_names.empty();
      continue;
    }
    if (ended) return "several package info entries found, only one allowed";
    if (line[0] == ' ' || line[0] == '\t') {
      if (lower_names.empty()) return "the control file begins with a continuation line";
      continue;  // a continuation of the field before
    }
    size_t colon = line.find(':');
    if (colon == 0 || colon == std::string::npos || line.find_first_of(" \t") < colon)
      return "a line of the control file is no field: " + line;
    std::string name = line.substr(0, colon), lower = name;
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (!lower_names.emplace(lower, name).second)
      return "duplicate value for '" + lower_names[lower] + "' field";
  }
  if (lower_names.empty()) return "the control file has no fields";
  *fields = parseControl(text);
  return "";
}

bool readFileList(const std::string& package, std::vector<std::string>* paths) {
  return readRecord(infoFile(package, "list"), paths);
}

std::string recordPackage(const std::string& package, const std::string& control,
                          const std::vector<std::string>& paths) {
  std::error_code ec;
  std::filesystem::create_directories(device::devicePath(kInfoFolder), ec);
  std::string list = "/.\n";
  for (const std::string& p : paths) list += p + "\n";
  if (std::string e = device::writeFileAtomically(infoFile(package, "list"), list); !e.empty())
    return e;
  return device::writeFileAtomically(infoFile(package, "control"), control);
}

std::vector<std::string> installedPackages() {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& entry :
       std::filesystem::directory_iterator(device::devicePath(kInfoFolder), ec)) {
    if (entry.path().extension() != ".list") continue;
    std::string name = entry.path().stem().string();
    if (validPackageName(name)) names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::vector<std::vector<std::string>> dependsEntries(const std::string& depends) {
  std::vector<std::vector<std::string>> entries;
  std::stringstream text(depends);
  for (std::string entry; std::getline(text, entry, ',');) {
    std::stringstream alternatives(entry);
    std::vector<std::string> names;
    for (std::string alt; std::getline(alternatives, alt, '|');) {
      size_t start = alt.find_first_not_of(" \t\n");
      if (start == std::string::npos) continue;
      names.push_back(alt.substr(start, alt.find_first_of(" \t\n(:", start) - start));
    }
    if (!names.empty()) entries.push_back(std::move(names));
  }
  return entries;
}

std::map<std::string, std::string> filesOfOtherPackages(const std::string& except) {
  std::map<std::string, std::string> owners;
  std::error_code ec;
  for (const auto& entry :
       std::filesystem::directory_iterator(device::devicePath(kInfoFolder), ec)) {
    if (entry.path().extension() != ".list") continue;
    std::string package = entry.path().stem().string();
    if (package == except) continue;
    std::vector<std::string> paths;
    if (!readRecord(entry.path().string(), &paths)) continue;
    for (const std::string& p : paths) owners.emplace(p, package);
  }
  return owners;
}

DatabaseLock::~DatabaseLock() {
  if (fd_ >= 0) close(fd_);
}

std::string DatabaseLock::acquire() {
  std::error_code ec;
  std::filesystem::create_directories(device::devicePath(kInfoFolder), ec);
  if (ec) return "cannot make the package record " + std::string(kInfoFolder) + ": " + ec.message();
  std::string lock = device::devicePath(std::string(kDpkgFolder) + "/lock");
  fd_ = open(lock.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0640);
  if (fd_ < 0) return "cannot open " + lock + ": " + std::strerror(errno);
  if (flock(fd_, LOCK_EX | LOCK_NB) != 0) {
    return errno == EWOULDBLOCK ? "another install or remove is running on this device"
                                : "cannot lock " + lock + ": " + std::strerror(errno);
  }
  return "";
}

}  // namespace package
