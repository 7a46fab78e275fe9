// UIFont: the system font at a size and weight. +systemFontOfSize:,
// +boldSystemFontOfSize: and +systemFontOfSize:weight: (double, a UIFontWeight)
// make new fonts; -pointSize answers the size. The screen has three weights
// of the system font, regular, semibold and bold; a weight between two of
// them is drawn in the lighter one. A font describes itself as its weight and
// size: "bold 18", "semibold 17", "regular 17".
//
// Thread safety: a font never changes once made; safe from any thread.
#pragma once

#include "platform/objc/nsobject.h"

// The platform's font weights (UIFontWeight), the ones the screen draws.
inline constexpr double UIFontWeightRegular = 0;
inline constexpr double UIFontWeightSemibold = 0.3;
inline constexpr double UIFontWeightBold = 0.4;

struct UIFont : NSObject {
  double pointSize = 17;
  double weight = UIFontWeightRegular;
};

namespace uikit {

Class fontClass();

// The system font at `size` and `weight`, made through the class as an app
// makes it (+systemFontOfSize:weight:); autoreleased.
id systemFont(double size, double weight = UIFontWeightRegular);

}  // namespace uikit
