// The privacy daemon's start: it makes its services, gives each its default
// allow list, and publishes the resulting lists to the rest of the device.
//
// The lists are set by sending setDefaultAllowedIdentifiersList: through the
// runtime, so a replacement of that method installed before the start (by a
// library the loader put into the daemon) decides what each service ends up
// with. The published file, "/var/db/TCC/allowlists.plist" under the device
// root, is a binary property list dictionary: service name -> array of bundle
// identifiers. LocalAuthentication reads it to decide whether an app may use
// Face ID. It is replaced atomically, so a reader sees the old lists or the
// new ones, never a mix.
//
// Ownership: the Daemon keeps its services alive.
//
// Thread safety: none; the daemon runs on its main thread. The device root
// (device::setRoot) must be set first.
#pragma once

#include <string>
#include <vector>

#include "platform/tcc/tcc_service.h"

namespace tcc {

// Where the published allow lists live, as the system spells the path.
inline constexpr char kAllowListsPath[] = "/var/db/TCC/allowlists.plist";

struct Daemon {
  std::vector<Strong<TCCDService>> services;  // in creation order
  // One line per service, in creation order:
  // "service <name>: <identifiers, comma-separated>".
  std::vector<std::string> lines;
  std::string error;  // "" when the lists were published, else why not
};

// Registers the daemon's classes, makes its services and publishes their
// lists. A publishing failure is reported in `error`; the services and lines
// are still there.
Daemon startDaemon();

}  // namespace tcc
