// What the hooks add to the Photos app's everyday work: a tap on an ordinary
// album (opened and closed again) and the configuration of an album row's
// cell, first on the app as it is, then with Velmo loaded and active (the
// Recently Deleted lock and the lock glyph on, so the hooks take their
// longest ordinary path). Loading is for good, so the unhooked benchmarks run
// first; run out of order, the unhooked ones stop with an error.
#include <benchmark/benchmark.h>
#include <dlfcn.h>

#include <memory>

#include "bench/support.h"
#include "platform/foundation/device.h"
#include "platform/photos/photos_app.h"
#include "platform/substrate/substrate.h"
#include "platform/uikit/uicolor.h"

namespace {

struct Phone {
  std::unique_ptr<photos::PhotosApp> app;
  id favorites = nullptr;
  Strong<PXNavigationListCell> cell;
  bool hooked = false;
};

Phone& phone() {
  // The app is left to the process's end; its device folder is removed then.
  static bench::ScratchDevice root;
  static Phone* p = [] {
    auto* made = new Phone;
    device::setRoot(root.path());
    bench::setUpPhone();
    bench::writeSettings(/*enabled=*/true);
    bench::becomePhotos();
    made->app = std::make_unique<photos::PhotosApp>(nullptr);
    made->app->albums();  // the list's items, made as the app draws the list
    made->favorites = photos::listItemTitled(made->app->gadget(), "Favorites");
    made->cell = photos::newConfiguredCell(made->app->gadget(), made->favorites);
    return made;
  }();
  return *p;
}

void hookOnce(Phone& p) {
  if (p.hooked) return;
  p.hooked = true;
  if (::dlopen((bench::libFolder() + "/Velmo.dylib").c_str(), RTLD_NOW) == nullptr) {
    std::fprintf(stderr, "bench: %s\n", ::dlerror());
    std::exit(1);
  }
  // A library that stayed inert would make the hooked rows measure nothing.
  if (substrate::installedHooks().empty()) {
    std::fprintf(stderr, "bench: Velmo loaded but installed no hooks\n");
    std::exit(1);
  }
}

void tap(benchmark::State& state, bool hooked) {
  Phone& p = phone();
  if (hooked) hookOnce(p);
  if (p.hooked != hooked) return state.SkipWithError("Velmo was already loaded");
  id gadget = p.app->gadget();
  id navigation = p.app->navigationController();
  for (auto _ : state) {
    objc::AutoreleasePool pool;
    benchmark::DoNotOptimize(msg<id>(gadget, "_navigateTolistItem:animated:"_sel, p.favorites, NO));
    msg<id>(navigation, "popViewControllerAnimated:"_sel, NO);
  }
  if (p.app->where() != "Albums") state.SkipWithError("the album did not open and close");
}

void configureCell(benchmark::State& state, bool hooked) {
  Phone& p = phone();
  if (hooked) hookOnce(p);
  if (p.hooked != hooked) return state.SkipWithError("Velmo was already loaded");
  id gadget = p.app->gadget();
  id color = msg<id>(uikit::colorClass(), "labelColor"_sel);
  for (auto _ : state) {
    objc::AutoreleasePool pool;
    msg<void>(gadget, "_configureCell:forListItem:textColor:"_sel, p.cell.get(), p.favorites,
              color);
  }
}

void BM_TapOrdinaryAlbumUnhooked(benchmark::State& state) { tap(state, false); }
void BM_ConfigureCellUnhooked(benchmark::State& state) { configureCell(state, false); }
void BM_TapOrdinaryAlbumHooked(benchmark::State& state) { tap(state, true); }
void BM_ConfigureCellHooked(benchmark::State& state) { configureCell(state, true); }
BENCHMARK(BM_TapOrdinaryAlbumUnhooked)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_ConfigureCellUnhooked)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_TapOrdinaryAlbumHooked)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_ConfigureCellHooked)->Repetitions(5)->ReportAggregatesOnly(true);

}  // namespace

BENCHMARK_MAIN();
