// TCCDService: one privacy service of the privacy daemon (Face ID, camera,
// photos, ...), with its name and the list of bundle identifiers that may use
// it without asking.
//
// Methods: -initWithName: (id NSString) -> id, -name -> NSString,
// -setDefaultAllowedIdentifiersList: (id NSArray of NSString) -> void,
// -defaultAllowedIdentifiersList -> NSArray (nil until set), -description.
//
// The class exists only in the privacy daemon: tcc::registerClasses() defines
// it and the daemon program calls it; loading the library alone does not.
//
// Ownership: a service keeps its name and an immutable copy of the list it was
// given; the getters return them +0.
//
// Thread safety: none; services are made and used on the daemon's main thread.
#pragma once

#include <string_view>

#include "platform/foundation/collections.h"
#include "platform/foundation/nsstring.h"
#include "platform/objc/nsobject.h"

struct TCCDService : NSObject {
  Strong<NSString> name;
  Strong<NSArray> defaultAllowedIdentifiers;
};

namespace tcc {

// Defines the daemon's classes (TCCDService). Safe to call more than once.
void registerClasses();

// The TCCDService class; registers it on first use.
Class serviceClass();

// [[TCCDService alloc] initWithName:name], owned by the caller.
Strong<TCCDService> newService(std::string_view name);

}  // namespace tcc
