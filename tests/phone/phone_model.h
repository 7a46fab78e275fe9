// PhoneModel: one emulated phone process: the CPU and memory, the model of
// the platform's runtime and services, and the images loaded into it.
// Members are public so that a test reaches each part by name:
//
//   PhoneModel phone;
//   phone.objc.DefineClass("PSListController").Method(...);
//   LoadedImage& pane = phone.Load(path);   // binds, then runs initializers
//   phone.dispatch.DrainMain();
//   EXPECT_EQ(phone.LeakReport(), "");
//
// Used from one thread.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "tests/phone/blocks.h"
#include "tests/phone/device_files.h"
#include "tests/phone/dispatch_queues.h"
#include "tests/phone/emulator.h"
#include "tests/phone/foundation.h"
#include "tests/phone/image_loader.h"
#include "tests/phone/local_authentication.h"
#include "tests/phone/notify_center.h"
#include "tests/phone/objc_runtime.h"
#include "tests/phone/preferences.h"
#include "tests/phone/spawn_recorder.h"
#include "tests/phone/uikit.h"

namespace velmo::phone {

class PhoneModel {
 public:
  PhoneModel();

  Emulator emu;
  Runtime objc{emu};
  Blocks blocks{objc};
  DispatchQueues dispatch{objc, blocks};
  NotifyCenter notify{objc};
  SpawnRecorder spawn{objc};
  Foundation foundation{objc};
  DeviceFiles files{objc, foundation};
  UIKit uikit{objc, foundation, files};
  LocalAuthentication local_auth{objc, blocks, dispatch};
  Preferences preferences{objc, foundation, files};

  // The process's architecture, arm64 unless set before anything is
  // loaded: an arm64e process takes only arm64e images (the arm64e slice of
  // a fat file) and turns pointer authentication on in the model.
  void SetArchitecture(Architecture arch);
  Architecture architecture() const { return architecture_; }

  // Loads the image at `path` (the process's slice of a fat file) at the
  // next free load address; runs its initializers unless told not to. The
  // image stays loaded for the model's life.
  LoadedImage& Load(const std::string& path, bool run_initializers = true);
  LoadedImage& LoadBytes(const std::string& name, std::span<const uint8_t> bytes,
                         bool run_initializers = true);
  std::vector<std::unique_ptr<LoadedImage>>& images() { return images_; }

  // Calls an exported C function of an image with integer/pointer
  // arguments and returns x0 (and the count of instructions it ran).
  RegisterResult CallExport(const LoadedImage& image, const std::string& macho_symbol,
                            std::vector<uint64_t> args = {});

  // Objects and heap blocks still alive; "" when none.
  std::string LeakReport() const;

 private:
  std::vector<std::unique_ptr<LoadedImage>> images_;
  Architecture architecture_ = Architecture::kArm64;
  uint64_t next_load_address_ = 0x100000000;
};

}  // namespace velmo::phone
