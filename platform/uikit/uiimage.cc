#include "platform/uikit/uiimage.h"

#include <png.h>

#include <cstring>

#include "platform/foundation/device.h"
#include "platform/foundation/nsstring.h"

namespace uikit {
namespace {

UIImage* newImage(Class cls) { return static_cast<UIImage*>(class_createInstance(cls)); }

// Decodes the PNG at a real path into `out`; false when it is not a readable PNG.
bool decodePng(const std::string& real_path, UIImage* out) {
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  // Read through the platform, which opens nothing but a regular file (a FIFO
  // at the path must not block the app).
  std::string bytes;
  if (!device::readWholeFile(real_path, kMaxImageFileSize, &bytes).empty()) return false;
  if (!png_image_begin_read_from_memory(&image, bytes.data(), bytes.size())) {
    png_image_free(&image);
    return false;
  }
  if (image.width == 0 || image.height == 0 ||
      static_cast<uint64_t>(image.width) * image.height > kMaxImagePixels) {
    png_image_free(&image);
    return false;
  }
  image.format = PNG_FORMAT_RGBA;
  auto pixels = std::make_shared<std::vector<uint8_t>>(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, pixels->data(), 0, nullptr)) {
    png_image_free(&image);
    return false;
  }
  out->size = CGSize{static_cast<double>(image.width), static_cast<double>(image.height)};
  out->rgba = std::move(pixels);
  png_image_free(&image);
  return true;
}

Class defineImage() {
  Class cls = objc::defineClass<UIImage>("UIImage", objc::nsobjectClass());
  addClassMethod(
      cls, "systemImageNamed:"_sel, +[](id self, SEL, id name) -> id {
        std::string text = foundation::stdString(name);
        if (text.empty()) return nullptr;
        UIImage* image = newImage(static_cast<Class>(self));
        image->symbolName = text;
        image->size = CGSize{17, 17};
        return objc_autorelease(image);
      });
  addClassMethod(
      cls, "imageWithContentsOfFile:"_sel, +[](id self, SEL, id path) -> id {
        std::string system_path = foundation::stdString(path);
        if (system_path.empty()) return nullptr;
        auto image = adopt(newImage(static_cast<Class>(self)));
        if (!decodePng(device::devicePath(system_path), image.get())) return nullptr;
        size_t slash = system_path.rfind('/');
        image->fileName = slash == std::string::npos ? system_path : system_path.substr(slash + 1);
        return image.autorelease();
      });
  addMethod(
      cls, "imageWithTintColor:"_sel, +[](id self, SEL, id color) -> id {
        auto* from = static_cast<UIImage*>(self);
        UIImage* image = newImage(object_getClass(self));
        image->symbolName = from->symbolName;
        image->fileName = from->fileName;
        image->size = from->size;
        image->rgba = from->rgba;
        image->tint = static_cast<UIColor*>(color);
        return objc_autorelease(image);
      });
  addMethod(
      cls, "size"_sel, +[](id self, SEL) -> CGSize { return static_cast<UIImage*>(self)->size; });
  addMethod(
      cls, "description"_sel,
      +[](id self, SEL) -> id { return foundation::makeString(describeImage(self)); });
  return cls;
}

}  // namespace

Class imageClass() {
  static Class cls = defineImage();
  return cls;
}

std::string describeImage(id obj) {
  if (obj == nullptr) return "nil";
  if (!msg<BOOL>(obj, "isKindOfClass:"_sel, imageClass())) {
    return foundation::stdString(msg<id>(obj, "description"_sel));
  }
  auto* image = static_cast<UIImage*>(obj);
  std::string tint = image->tint ? " " + describeColor(image->tint) : std::string();
  if (!image->symbolName.empty()) return "[" + image->symbolName + tint + "]";
  return "image " + image->fileName + " " + describeSize(image->size) + tint;
}

}  // namespace uikit
