// CALayer: the layer behind every view; here it carries the view's shadow.
//
//   shadowColor (CGColorRef, default black), shadowOffset (CGSize, default
//   (0,-3)), shadowOpacity (float, default 0), shadowRadius (double, default 3),
//   cornerRadius (double, default 0: the view's background and, when it
//   clips, its content are rounded at the corners)
//
// It describes itself as "layer" or, with a visible shadow (opacity above 0),
// "layer shadow labelColor offset 0x0 opacity 0.3 radius 10".
//
// Ownership: a layer keeps its shadow colour; its view keeps the layer.
//
// Thread safety: main thread only.
#pragma once

#include <string>

#include "platform/objc/nsobject.h"
#include "platform/uikit/geometry.h"
#include "platform/uikit/uicolor.h"

struct CALayer : NSObject {
  Strong<CGColor> shadowColor;
  CGSize shadowOffset{0, -3};
  float shadowOpacity = 0;
  CGFloat shadowRadius = 3;
  CGFloat cornerRadius = 0;
};

namespace uikit {

Class layerClass();
std::string describeLayer(id layer);

}  // namespace uikit
