// The loader of the hooking runtime: at the start of a process, before the
// process's own code uses any class, it loads each library of
// "/var/jb/Library/MobileSubstrate/DynamicLibraries" whose filter property
// list (Name.plist beside Name.dylib) names the process:
//
//   { Filter = { Bundles = ("com.apple.mobileslideshow"); Executables = ("tccd");
//                Mode = "Any"; }; }
//
// A filter's Bundles match when one of them is the identifier of a bundle the
// process has loaded (its main bundle or a framework), its Executables when
// one of them is the process's executable name. As the stricter of the
// phone's loaders do, a library is loaded only when every kind its filter
// lists matches, unless the filter's Mode is "Any", when one kind matching is
// enough. A library without a filter plist, whose filter does not parse, or
// lists neither kind, is not loaded. Libraries load in
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
