// The phone build's own code, counted: Velmo.dylib from the iphoneos-arm64
// package runs in the emulated phone, and each benchmark reports the arm64
// instructions executed inside the library's code (the emulator counts them
// exactly, so the figures do not depend on the machine's load), beside a
// yardstick measured in the same run:
//
//   BM_PhoneListGuard      a tap on an ordinary album through the list guard,
//                          the host's own navigation excluded (it is model
//                          code); yardstick: a hook that only calls its slot
//   BM_PhoneConfigureCell  the badge decoration on an ordinary album's row,
//                          the host's configuration excluded; same yardstick
//   BM_PhoneConstructor    the constructor with the iPhone hook table;
//                          yardstick: the same constructor, inert
//
// Counters: "instructions" and "yardstick_instructions" per call.
#include <benchmark/benchmark.h>

#include <functional>
#include <memory>
#include <string>

#include "tests/phone/host_apps.h"
#include "tests/phone/phone_model.h"
#include "tests/phone/phone_package.h"

namespace {

using velmo::phone::DeviceFiles;
using velmo::phone::LoadedImage;
using velmo::phone::PhoneModel;
using velmo::phone::PhotosApp;

constexpr const char* kVelmoPath = "/var/jb/Library/MobileSubstrate/DynamicLibraries/Velmo.dylib";
constexpr const char* kSettings =
    "/var/jb/var/mobile/Library/Preferences/com.qel.velmopreferences.plist";

const std::string& PackageRoot() {
  static velmo::phone::UnpackedPackage package(VELMO_PHONE_PACKAGE);
  return package.root();
}

// One emulated Photos process on an iPhone with 15.0, with Velmo (active or
// inert) or the yardstick hooks loaded.
struct PhotosProcess {
  enum class With { kVelmo, kInertVelmo, kYardstick };

  explicit PhotosProcess(With with, bool run_initializers = true) {
    pool = phone.objc.PushPool();
    phone.files.Install(PackageRoot());
    phone.foundation.SetMainBundle("com.apple.mobileslideshow");
    phone.uikit.SetDevice("iPhone", "15.0");
    app = std::make_unique<PhotosApp>(phone);
    if (with == With::kYardstick) {
      LoadedImage& yardstick = phone.Load(VELMO_PHONE_YARDSTICK);
      phone.CallExport(yardstick, "_yardstick_hook",
                       {phone.objc.Class("PXNavigationListGadget").address});
      return;
    }
    if (with == With::kVelmo) phone.files.WritePlist(kSettings, {{"enabled", true}});
    image = &phone.Load(phone.files.HostPath(kVelmoPath), run_initializers);
  }

  // Instructions run inside the loaded images' code by `fn`.
  uint64_t Count(const std::function<void()>& fn) {
    uint64_t token = phone.objc.PushPool();
    uint64_t before = phone.emu.InstructionCount();
    fn();
    uint64_t count = phone.emu.InstructionCount() - before;
    phone.objc.PopPool(token);
    return count;
  }

  uint64_t Tap() {
    uint64_t gadget = app->NewObject("PXNavigationListGadget");
    uint64_t item = app->ListItem(PhotosApp::Album::kOrdinary);
    return Count([&] { phone.objc.Send(gadget, "_navigateTolistItem:animated:", {item, true}); });
  }

  uint64_t ConfigureCell() {
    uint64_t gadget = app->NewObject("PXNavigationListGadget");
    uint64_t item = app->ListItem(PhotosApp::Album::kOrdinary);
    uint64_t cell = app->Cell();
    uint64_t color = phone.uikit.SystemColor("labelColor");
    return Count([&] {
      phone.objc.Send(gadget, "_configureCell:forListItem:textColor:", {cell, item, color});
    });
  }

  PhoneModel phone;
  std::unique_ptr<PhotosApp> app;
  LoadedImage* image = nullptr;
  uint64_t pool = 0;
};

// Runs `measure` once to warm the selector caches, then on every iteration;
// a count that changes between calls is an error of the benchmark.
void Report(benchmark::State& state, const std::function<uint64_t()>& measure,
            const std::function<uint64_t()>& yardstick) {
  measure();
  yardstick();
  uint64_t figure = measure(), yard = yardstick();
  // Velmo's replacement does more than a hook that only calls its slot, and
  // an active constructor more than an inert one: a figure at or below its
  // yardstick means Velmo's code did not run where it is measured (a hook
  // not installed, a library gone inert), and must not read as a pass.
  if (figure <= yard) {
    state.SkipWithError("Velmo's code did not run where it is measured");
    return;
  }
  for (auto _ : state) {
    if (measure() != figure || yardstick() != yard) {
      state.SkipWithError("the instruction count changed between calls");
      return;
    }
  }
  state.counters["instructions"] = static_cast<double>(figure);
  state.counters["yardstick_instructions"] = static_cast<double>(yard);
}

void BM_PhoneListGuard(benchmark::State& state) {
  PhotosProcess velmo(PhotosProcess::With::kVelmo);
  PhotosProcess yardstick(PhotosProcess::With::kYardstick);
  Report(
      state, [&] { return velmo.Tap(); }, [&] { return yardstick.Tap(); });
}
BENCHMARK(BM_PhoneListGuard)->Iterations(50);

void BM_PhoneConfigureCell(benchmark::State& state) {
  PhotosProcess velmo(PhotosProcess::With::kVelmo);
  PhotosProcess yardstick(PhotosProcess::With::kYardstick);
  Report(
      state, [&] { return velmo.ConfigureCell(); }, [&] { return yardstick.ConfigureCell(); });
}
BENCHMARK(BM_PhoneConfigureCell)->Iterations(50);

// Each call loads the library afresh into a new process and counts its
// initializers.
uint64_t Construct(PhotosProcess::With with) {
  PhotosProcess process(with, false);
  return process.Count([&] { velmo::phone::RunInitializers(process.phone.emu, *process.image); });
}

void BM_PhoneConstructor(benchmark::State& state) {
  Report(
      state, [] { return Construct(PhotosProcess::With::kVelmo); },
      [] { return Construct(PhotosProcess::With::kInertVelmo); });
}
BENCHMARK(BM_PhoneConstructor)->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
