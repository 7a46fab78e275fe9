// What the device programs show of the libraries loaded into them: the hooks
// installed and the tweak's exported variables, read by their symbol names.
#pragma once

#include <string>
#include <vector>

namespace program {

// `hook <class> <selector>` lines, in the order the hooks were installed.
std::vector<std::string> hookLines();
// `var <name> <value>` lines of every loaded library that exports them
// (BOOLs as YES/NO, the count in decimal, the string quoted).
std::vector<std::string> varLines();
// Loads the process's tweak libraries; returns the loader's error lines.
std::vector<std::string> loadTweaks(const std::string& executable_name);

// `bundle <identifier>: "<NSFaceIDUsageDescription>"` (or `-`) for each bundle
// of the process, main bundle first; a bundle without an identifier shows its path.
std::vector<std::string> bundleLines();
}  // namespace program
