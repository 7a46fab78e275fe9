// scale_png: shrinks a PNG by a whole factor, each output pixel the average
// of the FACTOR x FACTOR input pixels it covers (weighted by their alpha, so
// that a transparent pixel's colour does not bleed), with libpng.
//
//   scale_png FACTOR INPUT.png OUTPUT.png
//
// Columns and rows past the last whole block are dropped. The output depends
// only on the input's pixels, so two builds write the same bytes.
#include <png.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

constexpr long kMaxFactor = 16;
constexpr png_uint_32 kMaxSide = 16384;

bool fail(const char* path, const char* what) {
  std::fprintf(stderr, "scale_png: %s: %s\n", path, what);
  return false;
}

bool scale(int factor, const char* input, const char* output) {
  png_image in;
  std::memset(&in, 0, sizeof in);
  in.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&in, input)) return fail(input, in.message);
  if (in.width > kMaxSide || in.height > kMaxSide) {
    png_image_free(&in);
    return fail(input, "larger than 16384 pixels a side");
  }
  in.format = PNG_FORMAT_RGBA;
  std::vector<uint8_t> pixels(PNG_IMAGE_SIZE(in));
  if (!png_image_finish_read(&in, nullptr, pixels.data(), 0, nullptr))
    return fail(input, in.message);
  const png_uint_32 width = in.width / factor, height = in.height / factor;
  if (width == 0 || height == 0) return fail(input, "smaller than the factor");

  std::vector<uint8_t> out(static_cast<size_t>(width) * height * 4);
  for (png_uint_32 y = 0; y < height; ++y) {
    for (png_uint_32 x = 0; x < width; ++x) {
      uint64_t sum[4] = {0, 0, 0, 0};
      for (int dy = 0; dy < factor; ++dy) {
        for (int dx = 0; dx < factor; ++dx) {
          size_t at = ((static_cast<size_t>(y) * factor + dy) * in.width + x * factor + dx) * 4;
          const uint8_t* p = &pixels[at];
          for (int c = 0; c < 3; ++c) sum[c] += static_cast<uint64_t>(p[c]) * p[3];
          sum[3] += p[3];
        }
      }
      uint8_t* q = &out[(static_cast<size_t>(y) * width + x) * 4];
      const uint64_t n = static_cast<uint64_t>(factor) * factor;
      for (int c = 0; c < 3; ++c)
        q[c] = static_cast<uint8_t>(sum[3] == 0 ? 0 : (sum[c] + sum[3] / 2) / sum[3]);
      q[3] = static_cast<uint8_t>((sum[3] + n / 2) / n);
    }
  }
  png_image result;
  std::memset(&result, 0, sizeof result);
  result.version = PNG_IMAGE_VERSION;
  result.width = width;
  result.height = height;
  result.format = PNG_FORMAT_RGBA;
  if (!png_image_write_to_file(&result, output, 0, out.data(), 0, nullptr))
    return fail(output, result.message);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  char* end = nullptr;
  long factor = argc == 4 ? std::strtol(argv[1], &end, 10) : 0;
  if (argc != 4 || end == argv[1] || *end != '\0' || factor < 1 || factor > kMaxFactor) {
    std::fprintf(stderr, "usage: scale_png FACTOR INPUT.png OUTPUT.png (FACTOR 1 to 16)\n");
    return 2;
  }
  return scale(static_cast<int>(factor), argv[2], argv[3]) ? 0 : 1;
}
