// A screenshot read back from its PNG, for tests that look at pixels.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace testing_support {

struct Picture {
  int width = 0, height = 0;
  std::vector<uint8_t> rgb;  // 3 bytes a pixel, rows top to bottom

  const uint8_t* pixel(int x, int y) const {
    return &rgb[(static_cast<size_t>(y) * width + x) * 3];
  }
};

// Reads an 8-bit RGB picture; an empty one (and a test failure) when the file
// is not a readable PNG.
Picture readPng(const std::string& path);

// How many pixels of two pictures of one size differ by more than
// `tolerance` in some colour channel; every pixel when the sizes differ.
long differingPixels(const Picture& a, const Picture& b, int tolerance);

}  // namespace testing_support
