#include "device/package/package_paths.h"

#include <deque>
#include <filesystem>
#include <vector>

namespace package {
namespace {

constexpr int kMaxLinks = 40;  // as the kernel's ELOOP limit

std::deque<std::string> components(const std::string& path) {
  std::deque<std::string> out;
  size_t start = 0;
  while (start <= path.size()) {
    size_t slash = path.find('/', start);
    if (slash == std::string::npos) slash = path.size();
    out.push_back(path.substr(start, slash - start));
    start = slash + 1;
  }
  return out;
}

std::string joined(const std::vector<std::string>& parts) {
  std::string out;
  for (const std::string& p : parts) out += (out.empty() ? "" : "/") + p;
  return out;
}

}  // namespace

std::string normalizeEntryName(const std::string& name, std::string* path) {
  if (name.empty()) return "an entry without a name";
  if (name[0] == '/') return name + " is an absolute path";
  // The file list keeps a path a line.
  if (name.find('\n') != std::string::npos) return "an entry's name holds a line break";
  std::vector<std::string> parts;
  for (const std::string& c : components(name)) {
    if (c == "..") return name + " climbs out with ..";
    if (c.empty() || c == ".") continue;
    parts.push_back(c);
  }
  *path = joined(parts);
  return "";
}

bool insidePackageTree(const std::string& path) {
  return path == "var/jb" || path.rfind("var/jb/", 0) == 0;
}

bool abovePackageTree(const std::string& path) { return path.empty() || path == "var"; }

std::string parentOf(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? "" : path.substr(0, slash);
}

std::string resolveInDevice(const std::string& root, const std::string& path,
                            const std::map<std::string, std::string>& links,
                            std::string* resolved) {
  std::deque<std::string> todo = components(path);
  std::vector<std::string> done;
  int followed = 0;
  while (!todo.empty()) {
    std::string c = std::move(todo.front());
    todo.pop_front();
    if (c.empty() || c == ".") continue;
    if (c == "..") {
      if (done.empty()) return "it leads above the device's root";
      done.pop_back();
      continue;
    }
    done.push_back(c);
    std::string here = joined(done);
    std::string target;
    if (auto it = links.find(here); it != links.end()) {
      target = it->second;
    } else {
      std::error_code ec;
      std::filesystem::path real = std::filesystem::path(root) / here;
      if (!std::filesystem::is_symlink(std::filesystem::symlink_status(real, ec))) continue;
      target = std::filesystem::read_symlink(real, ec).string();
      if (ec) return "cannot read the link " + here + ": " + ec.message();
    }
    if (++followed > kMaxLinks) return "its links go round in circles";
    if (!target.empty() && target[0] == '/')
      return "the link " + here + " names " + target + " outside the device";
    done.pop_back();
    std::deque<std::string> more = components(target);
    todo.insert(todo.begin(), more.begin(), more.end());
  }
  *resolved = joined(done);
  return "";
}

}  // namespace package
