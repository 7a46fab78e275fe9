// UIColor and the CGColor that stands in for CGColorRef.
//
// A colour is either a named system colour (+systemGrayColor, +labelColor,
// ...: one shared object per name, describing itself as its name,
// "systemGrayColor") or made from components (+colorWithRed:green:blue:alpha:
// with doubles, describing itself as "rgba(1.000,0.412,0.706,1.000)").
// -CGColor answers the colour's CGColor, an object that the colour keeps; it
// carries the same components and description.
//
// Named colours: systemGrayColor, labelColor, secondaryLabelColor,
// systemPinkColor, systemBlueColor, systemRedColor, systemGreenColor,
// systemBackgroundColor, systemGroupedBackgroundColor,
// secondarySystemGroupedBackgroundColor, tertiaryLabelColor, separatorColor,
// systemFillColor, whiteColor, blackColor, clearColor.
//
// Thread safety: a colour never changes once made; safe from any thread.
#pragma once

#include <string>

#include "platform/objc/nsobject.h"

struct CGColor : NSObject {
  double red = 0, green = 0, blue = 0, alpha = 1;
  std::string name;  // the UIColor's name, "" for a component colour
};
using CGColorRef = CGColor*;

struct UIColor : NSObject {
  double red = 0, green = 0, blue = 0, alpha = 1;
  std::string name;  // "systemGrayColor" for a named colour, "" for a component colour
  Strong<CGColor> cgColor;
};

namespace uikit {

Class colorClass();
Class cgColorClass();

// What a colour (UIColor or CGColor) describes itself as; "nil" for nil.
std::string describeColor(id color);
// The shared object of a named colour ("systemGrayColor"), +0.
UIColor* namedColor(const char* name);

}  // namespace uikit
