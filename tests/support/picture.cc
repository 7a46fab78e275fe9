#include "tests/support/picture.h"

#include <gtest/gtest.h>
#include <png.h>

#include <cstdlib>
#include <cstring>

namespace testing_support {

Picture readPng(const std::string& path) {
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  Picture p;
  if (!png_image_begin_read_from_file(&image, path.c_str())) {
    ADD_FAILURE() << "cannot read " << path;
    return p;
  }
  image.format = PNG_FORMAT_RGB;
  std::vector<uint8_t> rgb(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr)) {
    ADD_FAILURE() << "cannot decode " << path;
    png_image_free(&image);
    return p;
  }
  p.width = static_cast<int>(image.width);
  p.height = static_cast<int>(image.height);
  p.rgb = std::move(rgb);
  return p;
}

long differingPixels(const Picture& a, const Picture& b, int tolerance) {
  if (a.width != b.width || a.height != b.height) {
    return std::max(1L, static_cast<long>(a.width) * a.height);
  }
  long differing = 0;
  for (size_t i = 0; i + 2 < a.rgb.size(); i += 3) {
    for (size_t c = 0; c < 3; ++c) {
      if (std::abs(a.rgb[i + c] - b.rgb[i + c]) > tolerance) {
        ++differing;
        break;
      }
    }
  }
  return differing;
}

}  // namespace testing_support
