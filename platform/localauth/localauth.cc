// Registers LocalAuthentication's classes when the library loads.
#include "platform/localauth/lacontext.h"
#include "platform/localauth/nserror.h"

namespace {

[[maybe_unused]] const bool kRegistered = [] {
  localauth::errorClass();
  localauth::contextClass();
  return true;
}();

}  // namespace
