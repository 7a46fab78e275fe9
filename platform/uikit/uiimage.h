// UIImage: a system symbol image or an image decoded from a PNG file.
//
//   +systemImageNamed:       a symbol image of that name (any name), size 17x17
//   +imageWithContentsOfFile: the PNG at a system path ("/var/jb/..."), placed
//                            under the device root and decoded with libpng;
//                            nil when the file is missing, not a regular file,
//                            unreadable, not a PNG, larger than
//                            kMaxImageFileSize or than kMaxImagePixels
//   -imageWithTintColor:     a new image like this one, recoloured
//   -size                    CGSize in points (a file image: its pixel size)
//
// Descriptions: "[lock.fill]" for a symbol, "[lock.fill systemGrayColor]"
// for a tinted symbol (the tint's description), "image velmo.png 512x512" for
// a file image (a tinted one adds the tint's description).
//
// Ownership: an image keeps its tint colour; decoded pixels are shared by an
// image and its tinted copies.
//
// Thread safety: an image never changes once made; safe from any thread.
#pragma once

#include <cstddef>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/objc/nsobject.h"
#include "platform/uikit/geometry.h"
#include "platform/uikit/uicolor.h"

struct UIImage : NSObject {
  std::string symbolName;  // a symbol image's name, "" for a file image
  std::string fileName;    // a file image's last path component, "" for a symbol
  CGSize size;
  std::shared_ptr<const std::vector<uint8_t>> rgba;  // a file image's pixels, 8-bit RGBA rows
  Strong<UIColor> tint;                              // nil when not tinted
};

namespace uikit {

inline constexpr uint64_t kMaxImagePixels = 16ull << 20;
inline constexpr std::size_t kMaxImageFileSize = 64u << 20;

Class imageClass();

// What an image describes itself as, "nil" for nil.
std::string describeImage(id image);

}  // namespace uikit
