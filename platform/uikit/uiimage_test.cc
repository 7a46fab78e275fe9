#include "platform/uikit/uiimage.h"

#include <gtest/gtest.h>
#include <png.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <vector>

#include "platform/foundation/nsstring.h"
#include "platform/foundation/test_device_root.h"

namespace {

namespace fs = std::filesystem;
using foundation::makeString;

// Writes a width x height RGBA PNG whose pixel (x, y) is (x, y, 7, 255).
bool writePng(const std::string& real_path, unsigned width, unsigned height) {
  fs::create_directories(fs::path(real_path).parent_path());
  std::vector<uint8_t> pixels(width * height * 4);
  for (unsigned y = 0; y < height; ++y) {
    for (unsigned x = 0; x < width; ++x) {
      uint8_t* p = &pixels[(y * width + x) * 4];
      p[0] = static_cast<uint8_t>(x);
      p[1] = static_cast<uint8_t>(y);
      p[2] = 7;
      p[3] = 255;
    }
  }
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  image.width = width;
  image.height = height;
  image.format = PNG_FORMAT_RGBA;
  return png_image_write_to_file(&image, real_path.c_str(), 0, pixels.data(), 0, nullptr) != 0;
}

void writeBytes(const std::string& real_path, const std::string& bytes) {
  fs::create_directories(fs::path(real_path).parent_path());
  std::ofstream(real_path, std::ios::binary) << bytes;
}

id load(const std::string& system_path) {
  return msg<id>(uikit::imageClass(), "imageWithContentsOfFile:"_sel, makeString(system_path));
}

const char kBundle[] = "/var/jb/Library/PreferenceBundles/VelmoPreferences.bundle";

std::string real(const std::string& system_path) {
  testing_support::testDeviceRoot();
  return device::devicePath(system_path);
}

TEST(Image, DecodesPngUnderTheDeviceRoot) {
  objc::AutoreleasePool pool;
  std::string path = std::string(kBundle) + "/velmo.png";
  ASSERT_TRUE(writePng(real(path), 5, 3));
  id image = load(path);
  ASSERT_NE(image, nullptr);
  auto* img = static_cast<UIImage*>(image);
  EXPECT_EQ(msg<CGSize>(image, "size"_sel), (CGSize{5, 3}));
  ASSERT_EQ(img->rgba->size(), 5u * 3 * 4);
  const uint8_t* p = &(*img->rgba)[(2 * 5 + 4) * 4];  // pixel (4, 2)
  EXPECT_EQ(p[0], 4);
  EXPECT_EQ(p[1], 2);
  EXPECT_EQ(p[2], 7);
  EXPECT_EQ(uikit::describeImage(image), "image velmo.png 5x3");
  id gray = msg<id>(uikit::colorClass(), "systemGrayColor"_sel);
  id tinted = msg<id>(image, "imageWithTintColor:"_sel, gray);
  EXPECT_EQ(uikit::describeImage(tinted), "image velmo.png 5x3 systemGrayColor");
  EXPECT_EQ(static_cast<UIImage*>(tinted)->rgba, img->rgba);  // pixels shared, not copied
}

TEST(Image, MissingBrokenOrForeignFilesGiveNil) {
  objc::AutoreleasePool pool;
  std::string dir = kBundle;
  EXPECT_EQ(load(dir + "/missing.png"), nullptr);
  EXPECT_EQ(load(""), nullptr);

  writeBytes(real(dir + "/text.png"), "not a picture at all\n");
  EXPECT_EQ(load(dir + "/text.png"), nullptr);

  ASSERT_TRUE(writePng(real(dir + "/whole.png"), 64, 64));
  std::ifstream in(real(dir + "/whole.png"), std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  writeBytes(real(dir + "/truncated.png"), bytes.substr(0, bytes.size() / 2));
  EXPECT_EQ(load(dir + "/truncated.png"), nullptr);
  EXPECT_NE(load(dir + "/whole.png"), nullptr);

  fs::create_directories(real(dir + "/folder.png"));
  EXPECT_EQ(load(dir + "/folder.png"), nullptr);
}

TEST(Image, ReadsOnlyInsideTheDeviceRoot) {
  testing_support::TempDir outside;
  std::string real_outside = outside / "outside.png";
  ASSERT_TRUE(writePng(real_outside, 2, 2));
  testing_support::testDeviceRoot();
  objc::AutoreleasePool pool;
  // A real path outside the device, read as a system path, lands under the device root.
  EXPECT_EQ(load(real_outside), nullptr);
}

TEST(Image, SymbolImages) {
  objc::AutoreleasePool pool;
  id symbol = msg<id>(uikit::imageClass(), "systemImageNamed:"_sel, "lock.fill"_ns);
  EXPECT_EQ(uikit::describeImage(symbol), "[lock.fill]");
  id pink = msg<id>(uikit::colorClass(), "systemPinkColor"_sel);
  EXPECT_EQ(uikit::describeImage(msg<id>(symbol, "imageWithTintColor:"_sel, pink)),
            "[lock.fill systemPinkColor]");
  EXPECT_EQ(uikit::describeImage(symbol), "[lock.fill]");  // the original is unchanged
}

}  // namespace
