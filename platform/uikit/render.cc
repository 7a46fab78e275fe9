#include "platform/uikit/render.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <memory>
#include <utility>

#include "platform/foundation/device.h"
#include "platform/uikit/calayer.h"
#include "platform/uikit/painter.h"

namespace uikit {
namespace paint {
namespace {

cairo_t* g_current = nullptr;

// The painter stays set for one -drawRect: call.
class CurrentPainter {
 public:
  explicit CurrentPainter(cairo_t* cr) : saved_(std::exchange(g_current, cr)) {}
  ~CurrentPainter() { g_current = saved_; }
  CurrentPainter(const CurrentPainter&) = delete;
  CurrentPainter& operator=(const CurrentPainter&) = delete;

 private:
  cairo_t* saved_;
};

struct SurfaceDeleter {
  void operator()(cairo_surface_t* s) const { cairo_surface_destroy(s); }
};
using SurfacePtr = std::unique_ptr<cairo_surface_t, SurfaceDeleter>;

// A decoded image's drawing surface, kept while its pixels live: the entry
// holds them weakly, so the surface goes once the image and its tinted copies
// are gone, however many images come and go (a pane opened again loads its
// picture afresh).
struct CachedSurface {
  std::weak_ptr<const std::vector<uint8_t>> pixels;
  SurfacePtr surface;
};

std::map<const void*, CachedSurface>& surfaceCache() {
  static auto* cache = new std::map<const void*, CachedSurface>();
  return *cache;
}

// A file image's pixels as a Cairo surface (premultiplied), made once per
// decoded image.
cairo_surface_t* surfaceOf(UIImage* image) {
  auto& cache = surfaceCache();
  auto it = cache.find(image->rgba.get());
  // An expired entry at this address was made from pixels since freed.
  if (it != cache.end() && !it->second.pixels.expired()) return it->second.surface.get();
  std::erase_if(cache, [](const auto& entry) { return entry.second.pixels.expired(); });
  int w = static_cast<int>(image->size.width), h = static_cast<int>(image->size.height);
  SurfacePtr surface(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h));
  cairo_surface_flush(surface.get());
  unsigned char* data = cairo_image_surface_get_data(surface.get());
  int stride = cairo_image_surface_get_stride(surface.get());
  const uint8_t* src = image->rgba->data();
  for (int y = 0; y < h; ++y) {
    auto* row = reinterpret_cast<uint32_t*>(data + static_cast<size_t>(y) * stride);
    for (int x = 0; x < w; ++x) {
      const uint8_t* p = src + (static_cast<size_t>(y) * w + x) * 4;
      uint32_t a = p[3];
      auto pre = [a](uint32_t c) { return (c * a + 127) / 255; };
      row[x] = a << 24 | pre(p[0]) << 16 | pre(p[1]) << 8 | pre(p[2]);
    }
  }
  cairo_surface_mark_dirty(surface.get());
  cairo_surface_t* raw = surface.get();
  cache[image->rgba.get()] = CachedSurface{image->rgba, std::move(surface)};
  return raw;
}

}  // namespace

cairo_t* current() { return g_current; }

void setColor(cairo_t* cr, id color, double alpha) {
  if (color == nullptr) {
    cairo_set_source_rgba(cr, 0, 0, 0, alpha);
    return;
  }
  double r, g, b, a;
  if (object_getClass(color) == cgColorClass()) {
    auto* c = static_cast<CGColor*>(color);
    r = c->red, g = c->green, b = c->blue, a = c->alpha;
  } else {
    auto* c = static_cast<UIColor*>(color);
    r = c->red, g = c->green, b = c->blue, a = c->alpha;
  }
  cairo_set_source_rgba(cr, r, g, b, std::clamp(a * alpha, 0.0, 1.0));
}

void roundedRect(cairo_t* cr, const CGRect& r, double radius) {
  radius = std::min({radius, r.width / 2, r.height / 2});
  if (radius <= 0) {
    cairo_rectangle(cr, r.x, r.y, r.width, r.height);
    return;
  }
  constexpr double kHalfPi = kPi / 2;
  cairo_new_sub_path(cr);
  cairo_arc(cr, r.x + r.width - radius, r.y + radius, radius, -kHalfPi, 0);
  cairo_arc(cr, r.x + r.width - radius, r.y + r.height - radius, radius, 0, kHalfPi);
  cairo_arc(cr, r.x + radius, r.y + r.height - radius, radius, kHalfPi, 2 * kHalfPi);
  cairo_arc(cr, r.x + radius, r.y + radius, radius, 2 * kHalfPi, 3 * kHalfPi);
  cairo_close_path(cr);
}

void drawImage(cairo_t* cr, UIImage* image, const CGRect& box, id tint) {
  if (box.width <= 0 || box.height <= 0) return;
  cairo_save(cr);
  if (!image->symbolName.empty()) {
    setColor(cr, image->tint ? static_cast<id>(image->tint.get()) : tint);
    drawSymbol(cr, image->symbolName, box);
  } else if (image->rgba && image->size.width > 0 && image->size.height > 0) {
    cairo_translate(cr, box.x, box.y);
    cairo_scale(cr, box.width / image->size.width, box.height / image->size.height);
    cairo_set_source_surface(cr, surfaceOf(image), 0, 0);
    cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_GOOD);
    if (image->tint) {
      // A tinted picture keeps its shape and takes the tint's colour.
      cairo_pattern_t* shape = cairo_pattern_reference(cairo_get_source(cr));
      setColor(cr, image->tint);
      cairo_mask(cr, shape);
      cairo_pattern_destroy(shape);
    } else {
      cairo_paint(cr);
    }
  }
  cairo_restore(cr);
}

}  // namespace paint

namespace {

void paintTree(cairo_t* cr, UIView* view);

// The view's own painting and its subviews', in its coordinates.
void paintContent(cairo_t* cr, UIView* view) {
  cairo_save(cr);
  if (view->clipsToBounds) {
    paint::roundedRect(cr, CGRect{0, 0, view->frame.width, view->frame.height},
                       view->layer ? view->layer->cornerRadius : 0);
    cairo_clip(cr);
  }
  {
    paint::CurrentPainter painter(cr);
    cairo_save(cr);
    msg<void>(view, "drawRect:"_sel, CGRect{0, 0, view->frame.width, view->frame.height});
    cairo_restore(cr);
  }
  auto children = view->subviews;  // kept alive while they paint
  for (auto& child : children) paintTree(cr, child);
  cairo_restore(cr);
}

// Three passes of a running box average approximate a Gaussian of `sigma`
// pixels; `data` is one byte of coverage a pixel, `stride` bytes a row.
void blurAlpha(unsigned char* data, int width, int height, int stride, double sigma) {
  if (sigma < 0.5) return;
  // Box widths whose three passes have the Gaussian's variance.
  int box = std::max(1, static_cast<int>(std::lround(std::sqrt(12.0 * sigma * sigma / 3 + 1))));
  int radius = box / 2;
  std::vector<unsigned char> line(static_cast<size_t>(std::max(width, height)));
  auto pass = [&](unsigned char* start, int count, int step) {
    for (int i = 0; i < count; ++i) line[static_cast<size_t>(i)] = start[i * step];
    int sum = 0;
    int window = 2 * radius + 1;
    auto at = [&](int i) { return i < 0 || i >= count ? 0 : line[static_cast<size_t>(i)]; };
    for (int i = -radius; i <= radius; ++i) sum += at(i);
    for (int i = 0; i < count; ++i) {
      start[i * step] = static_cast<unsigned char>((sum + window / 2) / window);
      sum += at(i + radius + 1) - at(i - radius);
    }
  };
  for (int round = 0; round < 3; ++round) {
    for (int y = 0; y < height; ++y) pass(data + static_cast<size_t>(y) * stride, width, 1);
    for (int x = 0; x < width; ++x) pass(data + x, height, stride);
  }
}

// The layer's shadow: the content's coverage, blurred, offset, in the shadow
// colour at the shadow's opacity.
void paintShadow(cairo_t* cr, UIView* view) {
  CALayer* layer = view->layer;
  double sigma = layer->shadowRadius / 2;
  double margin = std::ceil(3 * sigma) + 1;
  double sx = 1, sy = 1;
  cairo_surface_get_device_scale(cairo_get_target(cr), &sx, &sy);
  int width = static_cast<int>(std::ceil((view->frame.width + 2 * margin) * sx));
  int height = static_cast<int>(std::ceil((view->frame.height + 2 * margin) * sy));
  if (width <= 0 || height <= 0) return;
  cairo_surface_t* coverage = cairo_image_surface_create(CAIRO_FORMAT_A8, width, height);
  cairo_surface_set_device_scale(coverage, sx, sy);
  cairo_t* off = cairo_create(coverage);
  cairo_translate(off, margin, margin);
  paintContent(off, view);
  cairo_destroy(off);
  cairo_surface_flush(coverage);
  blurAlpha(cairo_image_surface_get_data(coverage), width, height,
            cairo_image_surface_get_stride(coverage), sigma * sx);
  cairo_surface_mark_dirty(coverage);
  cairo_save(cr);
  paint::setColor(cr, layer->shadowColor, layer->shadowOpacity);
  cairo_mask_surface(cr, coverage, layer->shadowOffset.width - margin,
                     layer->shadowOffset.height - margin);
  cairo_restore(cr);
  cairo_surface_destroy(coverage);
}

void paintTree(cairo_t* cr, UIView* view) {
  if (view->hidden) return;
  cairo_save(cr);
  cairo_translate(cr, view->frame.x, view->frame.y);
  if (view->layer && view->layer->shadowOpacity > 0 && view->layer->shadowColor) {
    paintShadow(cr, view);
  }
  paintContent(cr, view);
  cairo_restore(cr);
}

}  // namespace

void renderScreen(const std::vector<UIView*>& windows, const Screen& screen, Bitmap* into) {
  paint::installPainting();
  int width = static_cast<int>(std::lround(screen.size.width * screen.scale));
  int height = static_cast<int>(std::lround(screen.size.height * screen.scale));
  if (into->width != width || into->height != height) {
    into->width = width;
    into->height = height;
    into->pixels.assign(static_cast<size_t>(width) * height, 0);
  }
  // Cairo draws straight into the bitmap: RGB24 keeps a pixel as 0x??RRGGBB.
  cairo_surface_t* surface =
      cairo_image_surface_create_for_data(reinterpret_cast<unsigned char*>(into->pixels.data()),
                                          CAIRO_FORMAT_RGB24, width, height, width * 4);
  cairo_surface_set_device_scale(surface, screen.scale, screen.scale);
  cairo_t* cr = cairo_create(surface);
  cairo_set_source_rgb(cr, 0, 0, 0);
  cairo_paint(cr);
  for (UIView* window : windows) paintTree(cr, window);
  cairo_destroy(cr);
  cairo_surface_flush(surface);
  cairo_surface_destroy(surface);
}

Bitmap renderScreen(const std::vector<UIView*>& windows, const Screen& screen) {
  Bitmap bitmap;
  renderScreen(windows, screen, &bitmap);
  return bitmap;
}

std::size_t imageSurfacesKept() { return paint::surfaceCache().size(); }

std::string encodePng(const Bitmap& bitmap, std::string* bytes) {
  bytes->clear();
  if (bitmap.width <= 0 || bitmap.height <= 0 ||
      bitmap.pixels.size() != static_cast<size_t>(bitmap.width) * bitmap.height) {
    return "cannot encode a picture of " + std::to_string(bitmap.width) + "x" +
           std::to_string(bitmap.height) + " pixels holding " +
           std::to_string(bitmap.pixels.size()) + " as PNG";
  }
  cairo_surface_t* surface = cairo_image_surface_create_for_data(
      reinterpret_cast<unsigned char*>(const_cast<uint32_t*>(bitmap.pixels.data())),
      CAIRO_FORMAT_RGB24, bitmap.width, bitmap.height, bitmap.width * 4);
  cairo_status_t status = cairo_surface_status(surface);
  if (status == CAIRO_STATUS_SUCCESS) {
    status = cairo_surface_write_to_png_stream(
        surface,
        [](void* closure, const unsigned char* data, unsigned int length) {
          static_cast<std::string*>(closure)->append(reinterpret_cast<const char*>(data), length);
          return CAIRO_STATUS_SUCCESS;
        },
        bytes);
  }
  cairo_surface_destroy(surface);
  if (status != CAIRO_STATUS_SUCCESS) {
    bytes->clear();
    return std::string("cannot encode the picture as PNG: ") + cairo_status_to_string(status);
  }
  return "";
}

std::string writePng(const Bitmap& bitmap, const std::string& path) {
  std::string bytes;
  if (std::string error = encodePng(bitmap, &bytes); !error.empty()) return path + ": " + error;
  return device::writeFileAtomically(path, bytes);
}

}  // namespace uikit
