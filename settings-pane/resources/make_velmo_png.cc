// make_velmo_png: draws Velmo's pictures and writes each as an RGBA PNG with
// libpng.
//
//   make_velmo_png OUTPUT.png             the pane's header image: a padlock in
//                                         the accent colour on a transparent
//                                         ground, 256x256
//   make_velmo_png --icon SIZE OUTPUT.png an icon in the style of Settings' own:
//                                         a rounded square in the accent colour
//                                         with the padlock in white, SIZE pixels
//                                         square (58 and 87 for the Settings
//                                         entry, larger for a repository)
//
// The lock is drawn from a few shapes (a ring for the shackle, a rounded
// rectangle for the body, a keyhole cut out of it) sampled several times per
// pixel so that its edges are smooth. The output depends on nothing but the
// arguments, so two builds draw the same bytes.
#include <png.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

constexpr int kHeaderSize = 256;
constexpr int kSamples = 4;
constexpr int kIconSamples = 8;  // an icon is small: more samples per pixel
constexpr int kMinIconSize = 16, kMaxIconSize = 1024;
// The accent colour, 8-bit: (1.0, 105/255, 180/255).
constexpr uint8_t kRed = 255, kGreen = 105, kBlue = 180;

double clampUnit(double v) { return v < 0 ? 0 : (v > 1 ? 1 : v); }

// Signed distance from (x, y) to a rectangle centred at (cx, cy) with half
// sizes (hw, hh) and corner radius r; negative inside.
double roundedRect(double x, double y, double cx, double cy, double hw, double hh, double r) {
  double qx = std::fabs(x - cx) - (hw - r);
  double qy = std::fabs(y - cy) - (hh - r);
  double outside = std::hypot(std::fmax(qx, 0), std::fmax(qy, 0));
  double inside = std::fmin(std::fmax(qx, qy), 0);
  return outside + inside - r;
}

// Whether the point (x, y), in units of the image (0..1), is ink.
bool ink(double x, double y) {
  // Body: a rounded rectangle in the lower part.
  bool body = roundedRect(x, y, 0.5, 0.66, 0.30, 0.24, 0.06) < 0;
  // Keyhole: a round head and a tapering slot below it.
  bool keyHead = std::hypot(x - 0.5, y - 0.62) < 0.06;
  bool keySlot = y > 0.62 && y < 0.78 && std::fabs(x - 0.5) < 0.025 + (y - 0.62) * 0.12;
  if (body) return !(keyHead || keySlot);
  // Shackle: the upper half of a ring standing on the body, with its legs.
  double ring = std::hypot(x - 0.5, y - 0.36);
  bool arc = y <= 0.36 && ring > 0.15 && ring < 0.22;
  bool legs = y > 0.36 && y < 0.44 && std::fabs(std::fabs(x - 0.5) - 0.185) < 0.035;
  return arc || legs;
}

// The fraction of the pixel (px, py) of a square image of `size` pixels for
// which `inside(x, y)` holds, x and y in units of the image (0..1).
template <typename Inside>
double coverage(int px, int py, int size, int samples, Inside inside) {
  int hits = 0;
  for (int sy = 0; sy < samples; ++sy) {
    for (int sx = 0; sx < samples; ++sx) {
      double x = (px + (sx + 0.5) / samples) / size;
      double y = (py + (sy + 0.5) / samples) / size;
      hits += inside(x, y) ? 1 : 0;
    }
  }
  return clampUnit(hits / double(samples * samples));
}

uint8_t byte(double unit) { return static_cast<uint8_t>(std::lround(clampUnit(unit) * 255)); }

std::vector<uint8_t> drawHeader() {
  const int size = kHeaderSize;
  std::vector<uint8_t> rgba(static_cast<size_t>(size) * size * 4);
  for (int py = 0; py < size; ++py) {
    for (int px = 0; px < size; ++px) {
      uint8_t* p = &rgba[(static_cast<size_t>(py) * size + px) * 4];
      p[0] = kRed;
      p[1] = kGreen;
      p[2] = kBlue;
      p[3] = byte(coverage(px, py, size, kSamples, ink));
    }
  }
  return rgba;
}

// The icon's ground: a rounded square filling the image, its corner radius
// the share of Settings' own icons.
bool iconGround(double x, double y) { return roundedRect(x, y, 0.5, 0.5, 0.5, 0.5, 0.225) < 0; }

// The padlock at 62% of the icon, centred on the ink's own middle.
bool iconGlyph(double x, double y) {
  constexpr double kScale = 0.62, kInkMiddle = 0.52;
  return ink((x - 0.5) / kScale + 0.5, (y - 0.5) / kScale + kInkMiddle);
}

std::vector<uint8_t> drawIcon(int size) {
  std::vector<uint8_t> rgba(static_cast<size_t>(size) * size * 4);
  for (int py = 0; py < size; ++py) {
    for (int px = 0; px < size; ++px) {
      double ground = coverage(px, py, size, kIconSamples, iconGround);
      double white = coverage(px, py, size, kIconSamples, iconGlyph);
      uint8_t* p = &rgba[(static_cast<size_t>(py) * size + px) * 4];
      p[0] = byte((kRed + white * (255 - kRed)) / 255.0);
      p[1] = byte((kGreen + white * (255 - kGreen)) / 255.0);
      p[2] = byte((kBlue + white * (255 - kBlue)) / 255.0);
      p[3] = byte(ground);
    }
  }
  return rgba;
}

bool writePng(const char* path, int size, const std::vector<uint8_t>& rgba) {
  FILE* out = std::fopen(path, "wb");
  if (out == nullptr) {
    std::perror(path);
    return false;
  }
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
  if (info == nullptr || setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    std::fclose(out);
    std::fprintf(stderr, "%s: cannot write the PNG\n", path);
    return false;
  }
  png_init_io(png, out);
  png_set_IHDR(png, info, size, size, 8, PNG_COLOR_TYPE_RGBA, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  for (int y = 0; y < size; ++y) {
    png_write_row(png, &rgba[static_cast<size_t>(y) * size * 4]);
  }
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return std::fclose(out) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2) return writePng(argv[1], kHeaderSize, drawHeader()) ? 0 : 1;
  if (argc == 4 && std::strcmp(argv[1], "--icon") == 0) {
    char* end = nullptr;
    long size = std::strtol(argv[2], &end, 10);
    if (end != argv[2] && *end == '\0' && size >= kMinIconSize && size <= kMaxIconSize) {
      return writePng(argv[3], static_cast<int>(size), drawIcon(static_cast<int>(size))) ? 0 : 1;
    }
    std::fprintf(stderr, "make_velmo_png: the icon's size must be %d to %d pixels, not %s\n",
                 kMinIconSize, kMaxIconSize, argv[2]);
    return 2;
  }
  std::fprintf(stderr,
               "usage: make_velmo_png OUTPUT.png | make_velmo_png --icon SIZE OUTPUT.png\n");
  return 2;
}
