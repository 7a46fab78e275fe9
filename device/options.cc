#include "device/options.h"

#include <algorithm>
#include <filesystem>

#include "platform/foundation/device.h"

namespace program {

std::string Options::get(const std::string& flag, const std::string& fallback) const {
  auto it = values.find(flag);
  return it == values.end() ? fallback : it->second;
}

Options parseOptions(int argc, char** argv, int first, const std::vector<std::string>& valued,
                     const std::vector<std::string>& bare, std::string* error) {
  Options o;
  auto contains = [](const std::vector<std::string>& v, const std::string& s) {
    return std::find(v.begin(), v.end(), s) != v.end();
  };
  for (int i = first; i < argc; ++i) {
    std::string a = argv[i];
    if (a.rfind("--", 0) != 0) {
      o.positional.push_back(a);
      continue;
    }
    std::string value;
    size_t eq = a.find('=');
    bool inline_value = eq != std::string::npos;
    if (inline_value) {
      value = a.substr(eq + 1);
      a = a.substr(0, eq);
    }
    if (contains(valued, a)) {
      if (!inline_value) {
        if (i + 1 >= argc) {
          *error = a + " needs a value";
          return o;
        }
        value = argv[++i];
      }
      o.values[a] = value;
    } else if (contains(bare, a) && !inline_value) {
      o.values[a] = "";
    } else {
      *error = "unknown flag " + a;
      return o;
    }
  }
  return o;
}

std::string useRoot(const Options& options) {
  std::string root = options.get("--root");
  if (root.empty()) return "--root DIR is required";
  std::error_code ec;
  if (!std::filesystem::is_directory(root, ec))
    return "no device at " + root + " (run velmo-device init first)";
  device::setRoot(std::filesystem::absolute(root).string());
  return "";
}

}  // namespace program
