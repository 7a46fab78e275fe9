// velmo-device reset-passcode-record: makes the passcode record anew on a
// device whose record went missing or was damaged (answers are refused with
// "the passcode record is missing" until then), when the code given is the
// device's. A record in order, lock-out and all, is left as it is.
//
//   velmo-device reset-passcode-record --root DIR --passcode CODE
//       passcode record reset
#include <string>

#include "device/console.h"
#include "device/programs.h"
#include "platform/localauth/passcode_attempts.h"

namespace program {

int resetPasscodeRecordMain(const Options& options) {
  if (std::string e = useRoot(options); !e.empty()) {
    print("error: " + e);
    return 2;
  }
  std::string passcode = options.get("--passcode");
  if (passcode.empty() || passcode.find_first_not_of("0123456789") != std::string::npos ||
      !options.positional.empty()) {
    print("error: usage: reset-passcode-record --root DIR --passcode CODE (digits)");
    return 2;
  }
  localauth::ResetResult result = localauth::resetPasscodeRecord(passcode);
  print(result.reset ? result.message : "error: " + result.message);
  return result.reset ? 0 : 1;
}

}  // namespace program
