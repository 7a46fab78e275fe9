// Command-line flags of the device programs: "--name value" pairs and bare
// "--flag"s after the subcommand, plus positional words.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace program {

struct Options {
  std::map<std::string, std::string> values;  // "--root" -> "DIR"; bare flags map to ""
  std::vector<std::string> positional;

  bool has(const std::string& flag) const { return values.count(flag) > 0; }
  std::string get(const std::string& flag, const std::string& fallback = "") const;
};

// Parses argv[first..]. `valued` lists the flags that take a value. Returns
// an error message in `error` for an unknown flag or a missing value.
Options parseOptions(int argc, char** argv, int first, const std::vector<std::string>& valued,
                     const std::vector<std::string>& bare, std::string* error);

// Sets the device root from --root (required); returns an error or "".
std::string useRoot(const Options& options);

}  // namespace program
