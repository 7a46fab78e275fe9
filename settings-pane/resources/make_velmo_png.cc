// make_velmo_png: draws the pane's header image, a padlock in the accent
// colour on a transparent ground, and writes it as an RGBA PNG with libpng.
//
//   make_velmo_png OUTPUT.png
//
// The lock is drawn from a few shapes (a ring for the shackle, a rounded
// rectangle for the body, a keyhole cut out of it) sampled 4x4 per pixel so
// that its edges are smooth.
#include <png.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <vector>

namespace {

constexpr int kSize = 256;
constexpr int kSamples = 4;
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

std::vector<uint8_t> draw() {
  std::vector<uint8_t> rgba(static_cast<size_t>(kSize) * kSize * 4);
  for (int py = 0; py < kSize; ++py) {
    for (int px = 0; px < kSize; ++px) {
      int hits = 0;
      for (int sy = 0; sy < kSamples; ++sy) {
        for (int sx = 0; sx < kSamples; ++sx) {
          double x = (px + (sx + 0.5) / kSamples) / kSize;
          double y = (py + (sy + 0.5) / kSamples) / kSize;
          hits += ink(x, y) ? 1 : 0;
        }
      }
      uint8_t* p = &rgba[(static_cast<size_t>(py) * kSize + px) * 4];
      p[0] = kRed;
      p[1] = kGreen;
      p[2] = kBlue;
      p[3] = static_cast<uint8_t>(std::lround(clampUnit(hits / double(kSamples * kSamples)) * 255));
    }
  }
  return rgba;
}

bool writePng(const char* path, const std::vector<uint8_t>& rgba) {
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
  png_set_IHDR(png, info, kSize, kSize, 8, PNG_COLOR_TYPE_RGBA, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  for (int y = 0; y < kSize; ++y) {
    png_write_row(png, &rgba[static_cast<size_t>(y) * kSize * 4]);
  }
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return std::fclose(out) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_velmo_png OUTPUT.png\n");
    return 2;
  }
  return writePng(argv[1], draw()) ? 0 : 1;
}
