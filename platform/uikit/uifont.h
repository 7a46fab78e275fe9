// UIFont: the system font at a size, regular or bold. +systemFontOfSize: and
// +boldSystemFontOfSize: (double) make new fonts; -pointSize answers the
// size. A font describes itself as its weight and size: "bold 18",
// "regular 17".
//
// Thread safety: a font never changes once made; safe from any thread.
#pragma once

#include "platform/objc/nsobject.h"

struct UIFont : NSObject {
  double pointSize = 17;
  bool bold = false;
};

namespace uikit {
Class fontClass();
}  // namespace uikit
