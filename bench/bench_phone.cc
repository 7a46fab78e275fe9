// The phone build's own code, counted: Velmo.dylib from the iphoneos-arm64
// package runs in the emulated phone, on each slice of its fat file (an
// arm64 process, and an arm64e process with pointer authentication on), and
// each benchmark reports the instructions executed inside the library's code
// (the emulator counts them exactly, so the figures do not depend on the
// machine's load), beside two yardsticks measured in the same run and the
// same kind of process:
//
//   BM_PhoneListGuard_<slice>      a tap on an ordinary album through the
//                                  list guard, the host's own navigation
//                                  excluded (it is model code); yardstick: a
//                                  hook that only calls its slot
//   BM_PhoneConfigureCell_<slice>  the badge decoration on an ordinary
//                                  album's row, the host's configuration
//                                  excluded; same yardstick
//   BM_PhoneConstructor_<slice>    the constructor with the iPhone hook
//                                  table; yardstick: the same constructor,
//                                  inert
//
// and the Objective-C peer (bench/phone_peer.m): the same hooks written in
// Objective-C, compiled for the same slice, run the same way. The yardstick
// hooks and the peer are built for each slice by the phone build's compiler
// and route (bench/CMakeLists.txt).
//
// Counters, per call: "instructions", "yardstick_instructions" and
// "peer_instructions"; and of each, how many sign or authenticate a pointer
// (the compiler's pacibsp, retab, blraaz... on arm64e; none on arm64):
// "signing", "yardstick_signing" and "peer_signing".
#include <benchmark/benchmark.h>

#include <functional>
#include <memory>
#include <string>

#include "tests/phone/host_apps.h"
#include "tests/phone/phone_model.h"
#include "tests/phone/phone_package.h"

namespace {

using velmo::phone::Architecture;
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

// One slice of the phone build: the process's architecture and the
// yardstick hooks and peer built for it.
struct Slice {
  const char* name;
  Architecture architecture;
};
constexpr Slice kSlices[] = {{"arm64", Architecture::kArm64}, {"arm64e", Architecture::kArm64e}};

std::string Image(const char* stem, const Slice& slice) {
  return std::string(VELMO_PHONE_IMAGES) + "/" + stem + "_" + slice.name + ".dylib";
}

// Instructions run inside the loaded images' code, and how many of them
// sign or authenticate a pointer.
struct Figure {
  uint64_t instructions = 0;
  uint64_t signing = 0;
  bool operator==(const Figure&) const = default;
};

// One emulated Photos process of the slice's architecture on an iPhone with
// 15.0, with Velmo (active or inert), the yardstick hooks or the peer loaded.
struct PhotosProcess {
  enum class With { kVelmo, kInertVelmo, kYardstick, kPeer };

  PhotosProcess(With with, const Slice& slice, bool run_initializers = true) {
    phone.SetArchitecture(slice.architecture);
    phone.emu.CountPointerAuthentication(true);
    pool = phone.objc.PushPool();
    phone.files.Install(PackageRoot());
    phone.foundation.SetMainBundle("com.apple.mobileslideshow");
    phone.uikit.SetDevice("iPhone", "15.0");
    app = std::make_unique<PhotosApp>(phone);
    if (with == With::kYardstick) {
      LoadedImage& yardstick = phone.Load(Image("yardstick", slice));
      phone.CallExport(yardstick, "_yardstick_hook",
                       {phone.objc.Class("PXNavigationListGadget").address});
      return;
    }
    if (with != With::kInertVelmo) phone.files.WritePlist(kSettings, {{"enabled", true}});
    image = &phone.Load(
        with == With::kPeer ? Image("phone_peer", slice) : phone.files.HostPath(kVelmoPath),
        run_initializers);
  }

  // What `fn` runs inside the loaded images' code.
  Figure Count(const std::function<void()>& fn) {
    uint64_t token = phone.objc.PushPool();
    uint64_t before = phone.emu.InstructionCount();
    uint64_t signing_before = phone.emu.PointerAuthenticationCount();
    fn();
    Figure figure{phone.emu.InstructionCount() - before,
                  phone.emu.PointerAuthenticationCount() - signing_before};
    phone.objc.PopPool(token);
    return figure;
  }

  Figure Tap() {
    uint64_t gadget = app->NewObject("PXNavigationListGadget");
    uint64_t item = app->ListItem(PhotosApp::Album::kOrdinary);
    return Count([&] { phone.objc.Send(gadget, "_navigateTolistItem:animated:", {item, true}); });
  }

  Figure ConfigureCell() {
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

// Runs each measure once to warm the selector caches, then on every
// iteration; a count that changes between calls is an error of the
// benchmark.
void Report(benchmark::State& state, const std::function<Figure()>& measure,
            const std::function<Figure()>& yardstick, const std::function<Figure()>& peer) {
  measure();
  yardstick();
  peer();
  Figure figure = measure(), yard = yardstick(), peer_figure = peer();
  // Velmo's replacement does more than a hook that only calls its slot, and
  // an active constructor more than an inert one: a figure at or below its
  // yardstick means Velmo's code did not run where it is measured (a hook
  // not installed, a library gone inert), and must not read as a pass. The
  // same holds for the peer, whose count is the target.
  if (figure.instructions <= yard.instructions) {
    state.SkipWithError("Velmo's code did not run where it is measured");
    return;
  }
  if (peer_figure.instructions <= yard.instructions) {
    state.SkipWithError("the Objective-C peer's code did not run where it is measured");
    return;
  }
  for (auto _ : state) {
    if (measure() != figure || yardstick() != yard || peer() != peer_figure) {
      state.SkipWithError("the instruction count changed between calls");
      return;
    }
  }
  state.counters["instructions"] = static_cast<double>(figure.instructions);
  state.counters["yardstick_instructions"] = static_cast<double>(yard.instructions);
  state.counters["peer_instructions"] = static_cast<double>(peer_figure.instructions);
  state.counters["signing"] = static_cast<double>(figure.signing);
  state.counters["yardstick_signing"] = static_cast<double>(yard.signing);
  state.counters["peer_signing"] = static_cast<double>(peer_figure.signing);
}

void ListGuard(benchmark::State& state, const Slice& slice) {
  PhotosProcess velmo(PhotosProcess::With::kVelmo, slice);
  PhotosProcess yardstick(PhotosProcess::With::kYardstick, slice);
  PhotosProcess peer(PhotosProcess::With::kPeer, slice);
  Report(
      state, [&] { return velmo.Tap(); }, [&] { return yardstick.Tap(); },
      [&] { return peer.Tap(); });
}

void ConfigureCell(benchmark::State& state, const Slice& slice) {
  PhotosProcess velmo(PhotosProcess::With::kVelmo, slice);
  PhotosProcess yardstick(PhotosProcess::With::kYardstick, slice);
  PhotosProcess peer(PhotosProcess::With::kPeer, slice);
  Report(
      state, [&] { return velmo.ConfigureCell(); }, [&] { return yardstick.ConfigureCell(); },
      [&] { return peer.ConfigureCell(); });
}

// Each call loads the library afresh into a new process and counts its
// initializers.
Figure Construct(PhotosProcess::With with, const Slice& slice) {
  PhotosProcess process(with, slice, false);
  return process.Count([&] { velmo::phone::RunInitializers(process.phone.emu, *process.image); });
}

void Constructor(benchmark::State& state, const Slice& slice) {
  Report(
      state, [&] { return Construct(PhotosProcess::With::kVelmo, slice); },
      [&] { return Construct(PhotosProcess::With::kInertVelmo, slice); },
      [&] { return Construct(PhotosProcess::With::kPeer, slice); });
}

const bool kRegistered = [] {
  for (const Slice& slice : kSlices) {
    std::string suffix = std::string("_") + slice.name;
    benchmark::RegisterBenchmark(("BM_PhoneListGuard" + suffix).c_str(), ListGuard, slice)
        ->Iterations(50);
    benchmark::RegisterBenchmark(("BM_PhoneConfigureCell" + suffix).c_str(), ConfigureCell, slice)
        ->Iterations(50);
    benchmark::RegisterBenchmark(("BM_PhoneConstructor" + suffix).c_str(), Constructor, slice)
        ->Iterations(3);
  }
  return true;
}();

}  // namespace

BENCHMARK_MAIN();
