// UIImageView (a UIView): shows one image.
//
//   -initWithFrame:, -initWithImage: (frame of the image's size),
//   -image/-setImage:, -contentMode/-setContentMode: (long, default
//   UIViewContentModeScaleToFill)
//
// It describes itself as "imageView (37.5,12.5,125,125) image velmo.png
// 512x512 aspectFit", "no image" in place of the image when it has none, and
// its layer's shadow when there is one.
//
// Thread safety: main thread only.
#pragma once

#include "platform/uikit/uiimage.h"
#include "platform/uikit/uiview.h"

enum UIViewContentMode : long {
  UIViewContentModeScaleToFill = 0,
  UIViewContentModeScaleAspectFit = 1,
  UIViewContentModeScaleAspectFill = 2,
  UIViewContentModeCenter = 4,
};

struct UIImageView : UIView {
  Strong<UIImage> image;
  long contentMode = UIViewContentModeScaleToFill;
};

namespace uikit {
Class imageViewClass();
}  // namespace uikit
