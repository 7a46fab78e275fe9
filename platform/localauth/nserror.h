// NSError: a failure as a value, with a domain, a code and a user-info
// dictionary whose "NSLocalizedDescription" says what went wrong.
//
//   +errorWithDomain:code:userInfo: (id, long, id), -domain, -code,
//   -userInfo, -localizedDescription
//
// It describes itself as the platform does:
// `Error Domain=com.apple.LocalAuthentication Code=-5 "Passcode not set."`.
//
// Ownership: an error keeps its domain and user info.
//
// Thread safety: immutable once made; safe from any thread.
#pragma once

#include <string>

#include "platform/foundation/collections.h"
#include "platform/foundation/nsstring.h"
#include "platform/objc/nsobject.h"

struct NSError : NSObject {
  Strong<NSString> domain;
  long code = 0;
  Strong<NSDictionary> userInfo;
};

namespace localauth {

Class errorClass();

// A new error with `description` as its NSLocalizedDescription, owned by the caller.
Strong<NSError> newError(const char* domain, long code, const std::string& description);
// Its localized description; "" for nil.
std::string errorDescription(id error);

}  // namespace localauth
