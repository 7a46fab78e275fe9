// Drawing the Photos app's album list on an iPhone's screen (1170 by 2532
// pixels): layout and drawing together, as a screenshot or the web page's
// redraw after every action does them, the layout alone, and beside them a
// yardstick: copying one screen's worth of pixels. Target: under 50 ms for
// the whole drawing; the program ends with a verdict line.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <vector>

#include "bench/support.h"
#include "platform/foundation/device.h"
#include "platform/photos/photos_app.h"
#include "platform/uikit/render.h"

namespace {

constexpr double kTargetMs = 50;
constexpr char kDrawName[] = "BM_DrawAlbumList";

photos::PhotosApp& app() {
  // The app is left to the process's end; its device folder is removed then.
  static bench::ScratchDevice root;
  static photos::PhotosApp* made = [] {
    device::setRoot(root.path());
    device::writeConfig(device::Config{});
    photos::installApp();
    photos::registerClasses();
    return new photos::PhotosApp(nullptr);
  }();
  return *made;
}

void BM_DrawAlbumList(benchmark::State& state) {
  photos::PhotosApp& photos = app();
  uikit::Bitmap bitmap;  // reused from frame to frame, as a redrawing page would
  for (auto _ : state) {
    objc::AutoreleasePool pool;
    UIWindow* window = photos.window();
    uikit::renderScreen({window}, uikit::mainScreen(), &bitmap);
    benchmark::DoNotOptimize(bitmap.pixels.data());
  }
}
BENCHMARK(BM_DrawAlbumList)->Unit(benchmark::kMillisecond);

void BM_LayoutAlbumList(benchmark::State& state) {
  photos::PhotosApp& photos = app();
  for (auto _ : state) {
    objc::AutoreleasePool pool;
    benchmark::DoNotOptimize(photos.window());
  }
}
BENCHMARK(BM_LayoutAlbumList)->Unit(benchmark::kMillisecond);

// Yardstick: the least any drawing of the screen costs, touching each pixel once.
void BM_CopyScreenPixels(benchmark::State& state) {
  std::vector<uint32_t> from(1170 * 2532, 0xFFFFFF), to(from.size());
  for (auto _ : state) {
    std::memcpy(to.data(), from.data(), from.size() * sizeof from[0]);
    benchmark::DoNotOptimize(to.data());
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_CopyScreenPixels)->Unit(benchmark::kMillisecond);

// Prints the runs as usual and remembers the drawing's time for the verdict.
class VerdictReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.benchmark_name() == kDrawName && run.iterations > 0) {
        draw_ms = run.GetAdjustedRealTime();  // in the benchmark's unit, ms
      }
    }
  }
  double draw_ms = -1;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  VerdictReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  if (reporter.draw_ms >= 0) {
    std::printf("verdict: drawing the album list takes %.1f ms, target under %.0f ms: %s\n",
                reporter.draw_ms, kTargetMs, reporter.draw_ms < kTargetMs ? "met" : "MISSED");
  }
  benchmark::Shutdown();
  return 0;
}
