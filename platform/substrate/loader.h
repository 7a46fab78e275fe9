// The loader of the hooking runtime: at the start of a process, before the
// process's own code uses any class, it loads each library of
// "/var/jb/Library/MobileSubstrate/DynamicLibraries" whose filter property
// list (Name.plist beside Name.dylib) names the process:
//
//   { Filter = { Bundles = ("com.apple.mobileslideshow"); Executables = ("tccd"); }; }
//
// A library is loaded when one of its Bundles is the identifier of a bundle
// the process has loaded (its main bundle or a framework), or one of its
// Executables is the process's executable name. A library without a filter
// plist, or whose filter does not parse, is not loaded. Libraries load in
// the order of their names; loading runs their initialisers (constructors).
//
// Errors (a library that fails to load) are returned as messages; the other
// libraries still load.
//
// Thread safety: call once, on the main thread, at start.
#pragma once

#include <string>
#include <vector>

namespace substrate {

struct LoadedLibrary {
  std::string name;  // "Velmo"
  void* handle;      // for dlsym
};

struct LoadResult {
  std::vector<LoadedLibrary> loaded;
  std::vector<std::string> errors;
};

LoadResult loadDynamicLibraries(const std::string& executable_name);
// What loadDynamicLibraries loaded in this process.
std::vector<LoadedLibrary> loadedLibraries();

}  // namespace substrate
